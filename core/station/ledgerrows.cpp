#include "core/station/ledgerrows.h"

#include "core/config/configgroups.h"
#include "core/transport/pacing.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QWaitCondition>
#include <algorithm>

namespace {

constexpr int kRetryMs = 500; // between tries to record a result while the ledger does not answer

// The groups a whole write of `config` sends, by their profile paths.
QStringList writtenGroups(const ModuleConfig& config)
{
    QStringList groups;
    for (const Groups::GroupInfo& g : Groups::writeOrder()) {
        const QString path = Groups::path(g.group);
        if (Groups::written(g, config) && !groups.contains(path))
            groups.append(path);
    }
    return groups;
}

} // namespace

struct LedgerRows::State
{
    explicit State(Settings settings) : s(std::move(settings)), ledger(s.address) {}

    Settings s;
    Ledger ledger;
    mutable QMutex mutex;
    QWaitCondition wake;
    QHash<int, LedgerClaim> held; // the claims of the modules in progress, by row
    QSet<int> unsettled;          // rows whose module's result the ledger never took
    // Held from a claim until the claim is in `held`, so that stray claims are
    // never looked for while a claim is under way.
    QMutex claiming;
    // A claim or a give-back was sent but its answer lost: the ledger may
    // hold a claim of this process that no module holds.
    bool unsure = false;
    QSet<int> skip; // rows the profile refused
    int base = 0;
    int started = 0;
    int reserved = 0; // takes under way, counted against the count
    int inProgress = 0;
    int left = 0; // rows not used, as last counted
    int refused = 0;
    bool closed = false;
    bool ending = false;
    bool stopKeeper = false;
    bool empty = false;    // nothing free and nothing claimed, as last counted
    int failures = 0;      // calls the ledger did not answer, one after the other
    bool toldAway = false; // the user was told that the ledger does not answer
    QString failure;       // why the ledger refused a claim; no row is taken after it
    QThread* keeper = nullptr;

    bool countReached() const { return s.count >= 0 && started - base + reserved >= s.count; }

    // The ledger's silence, told once a retry failed too, and its answer
    // once after that; nothing once the line's work is over.
    void answered(const LedgerProblem* problem)
    {
        QString told;
        {
            const QMutexLocker lock(&mutex);
            if (!problem) {
                failures = 0;
                if (!toldAway)
                    return;
                toldAway = false;
                told = QStringLiteral("ledger: the ledger answers again; the line goes on");
            } else {
                ++failures;
                const bool over = closed || ending || stopKeeper || (empty && inProgress == 0 && reserved == 0);
                if (toldAway || failures < 2 || over)
                    return;
                toldAway = true;
                told = QStringLiteral("ledger: the ledger does not answer (%1): no new module is taken until it does")
                           .arg(problem->text);
            }
        }
        if (s.note)
            s.note(told);
    }

    void doubt()
    {
        const QMutexLocker lock(&mutex);
        unsure = true;
    }

    // Gives back the claims this process holds without knowing it (a claim
    // whose answer was lost), so that they are neither renewed for ever nor
    // kept from the others. False with `why` while the ledger does not answer.
    bool settleStray(QString* why)
    {
        QSet<int> keep;
        {
            const QMutexLocker lock(&mutex);
            if (!unsure)
                return true;
            keep = unsettled;
            for (auto it = held.cbegin(); it != held.cend(); ++it)
                keep.insert(it.key());
        }
        int given = 0;
        LedgerProblem problem;
        if (!ledger.giveBackStray(s.claimant, keep, &given, &problem)) {
            if (problem.noAnswer())
                answered(&problem);
            if (why)
                *why = QStringLiteral("the ledger does not answer: ") + problem.text;
            return false;
        }
        {
            const QMutexLocker lock(&mutex);
            unsure = false;
        }
        if (given > 0 && s.note)
            s.note(QStringLiteral("ledger: %1 claim(s) of this station whose answer was lost given back").arg(given));
        return true;
    }

    // A claim given back: out of `held`; an answer lost leaves it in doubt
    // (if not given back now, once its lease runs out).
    void giveBack(const LedgerClaim& claim)
    {
        LedgerProblem problem;
        const bool given = ledger.giveBack(claim, &problem);
        const QMutexLocker lock(&mutex);
        held.remove(claim.row.id);
        if (!given && problem.noAnswer())
            unsure = true;
    }

    // A row whose module's result the ledger did not take stays claimed:
    // its values went out, and no stray claim is given back with it.
    void keepUnsettled(int row)
    {
        const QMutexLocker lock(&mutex);
        unsettled.insert(row);
    }

    void count()
    {
        QSet<int> leftOut;
        {
            const QMutexLocker lock(&mutex);
            leftOut = skip;
        }
        int free = 0;
        int claimed = 0;
        int others = 0;
        LedgerProblem problem;
        if (!ledger.counts(s.claimant, leftOut, &free, &claimed, &others, &problem)) {
            if (problem.noAnswer())
                answered(&problem);
            return;
        }
        answered(nullptr);
        const QMutexLocker lock(&mutex);
        left = free + claimed + int(leftOut.size());
        empty = free == 0 && claimed == 0;
    }

    // Renews this process's leases and counts the rows, until told to stop.
    void keep()
    {
        const int tick = std::clamp(ledger.leaseMs() / 3, 100, 1000);
        QMutexLocker lock(&mutex);
        while (!stopKeeper) {
            lock.unlock();
            LedgerProblem problem;
            if (!ledger.renew(s.claimant, &problem) && problem.noAnswer())
                answered(&problem);
            count();
            lock.relock();
            if (!stopKeeper)
                wake.wait(&mutex, tick);
        }
        lock.unlock();
        settleStray(nullptr);
        ledger.dropConnection();
    }
};

QString LedgerRows::where(const LedgerRow& row)
{
    return QStringLiteral("ledger row %1 (%2 line %3)")
        .arg(QString::number(row.id), row.source, QString::number(row.line));
}

LedgerRows::LedgerRows(Settings settings) : m_state(std::make_unique<State>(std::move(settings)))
{
    m_state->base = m_state->started = m_state->s.lastModule;
}

LedgerRows::~LedgerRows()
{
    State& st = *m_state;
    if (st.keeper) {
        {
            const QMutexLocker lock(&st.mutex);
            st.stopKeeper = true;
            st.wake.wakeAll();
        }
        st.keeper->wait();
        delete st.keeper;
    }
}

bool LedgerRows::start(LedgerProblem* problem)
{
    State& st = *m_state;
    if (!st.ledger.check(problem))
        return false;
    st.count();
    st.keeper = QThread::create([&st] { st.keep(); });
    st.keeper->start();
    return true;
}

RowSource::Take LedgerRows::take(StationRow* row, int* module, QString* why)
{
    State& st = *m_state;
    {
        const QMutexLocker lock(&st.mutex);
        if (st.closed || st.ending || st.countReached())
            return Take::Over;
        ++st.reserved;
    }
    const auto unreserve = [&st] {
        const QMutexLocker lock(&st.mutex);
        --st.reserved;
    };
    for (;;) {
        QSet<int> skip;
        {
            const QMutexLocker lock(&st.mutex);
            skip = st.skip;
        }
        LedgerClaim claim;
        LedgerProblem problem;
        QMutexLocker claiming(&st.claiming);
        if (!st.settleStray(why)) {
            claiming.unlock();
            unreserve();
            return Take::Wait;
        }
        const bool claimed = st.ledger.claim(st.s.claimant, skip, &claim, &problem);
        if (claimed && claim.row.id > 0) {
            const QMutexLocker lock(&st.mutex);
            st.held.insert(claim.row.id, claim);
        }
        claiming.unlock();
        if (!claimed) {
            unreserve();
            if (problem.noAnswer()) {
                // Its COMMIT may have reached the database all the same.
                st.doubt();
                st.answered(&problem);
                *why = QStringLiteral("the ledger does not answer: ") + problem.text;
                return Take::Wait;
            }
            // Not a pause: the database will not hand out rows to this station.
            bool first = false;
            {
                const QMutexLocker lock(&st.mutex);
                first = st.failure.isEmpty();
                if (first)
                    st.failure = problem.text;
                st.closed = true;
            }
            if (first && st.s.note)
                st.s.note(problem.text + QStringLiteral("; no further module is taken"));
            return Take::Over;
        }
        st.answered(nullptr);
        if (claim.row.id == 0) {
            int free = 0;
            int claimed = 0;
            int others = 0;
            const bool counted = st.ledger.counts(st.s.claimant, skip, &free, &claimed, &others, &problem);
            const QMutexLocker lock(&st.mutex);
            --st.reserved;
            if (!counted) {
                *why = QStringLiteral("the ledger does not answer: ") + problem.text;
                return Take::Wait;
            }
            st.left = free + claimed + int(skip.size());
            st.empty = free == 0 && claimed == 0;
            if (st.empty && st.inProgress == 0)
                return Take::Over;
            if (others > 0)
                *why = QStringLiteral("the rows left are with modules of other stations (%1)").arg(others);
            else if (free > 0)
                *why = QStringLiteral("another station is claiming the rows left");
            return Take::Wait;
        }
        // The row is checked as a values file's rows are, with this station's profile and settings.
        StationRow taken;
        taken.index = claim.row.id;
        taken.number = claim.row.id;
        taken.line = claim.row.line;
        taken.values = claim.row.valuesObject();
        const RowRule::Verdict verdict =
            RowRule::check(st.s.profile, st.s.rule, claim.row.overrides(), where(claim.row), &taken.config);
        if (!verdict.ok()) {
            QStringList problems;
            for (const Operation::Problem& p : verdict.problems)
                problems.append(p.text);
            st.giveBack(claim);
            {
                const QMutexLocker lock(&st.mutex);
                st.skip.insert(claim.row.id);
                ++st.refused;
            }
            if (st.s.note)
                st.s.note(problems.join(QStringLiteral("; ")) + QStringLiteral("; not given to a module"));
            continue;
        }
        QMutexLocker lock(&st.mutex);
        --st.reserved;
        if (st.closed || st.ending) {
            lock.unlock();
            st.giveBack(claim);
            return Take::Over;
        }
        ++st.inProgress;
        *module = ++st.started;
        *row = taken;
        return Take::Got;
    }
}

RowSource::Hold LedgerRows::confirm(const StationRow& row)
{
    State& st = *m_state;
    LedgerClaim claim;
    {
        const QMutexLocker lock(&st.mutex);
        claim = st.held.value(row.index);
    }
    for (;;) {
        bool own = false;
        LedgerProblem problem;
        // The module's operation runs at the pace of its waits.
        if (st.ledger.confirm(st.s.claimant, claim, Pacing::scaled(st.s.moduleBudgetMs), &own, &problem)) {
            st.answered(nullptr);
            return own ? Hold::Own : Hold::Lost;
        }
        // Nothing goes out on a claim that could not be confirmed.
        if (!problem.noAnswer())
            return Hold::Lost;
        st.answered(&problem);
        QMutexLocker lock(&st.mutex);
        if (st.ending)
            return Hold::Ending;
        st.wake.wait(&st.mutex, kRetryMs);
    }
}

bool LedgerRows::finish(const StationRow& row, ModuleRecord* record, QString* error)
{
    State& st = *m_state;
    LedgerClaim claim;
    {
        const QMutexLocker lock(&st.mutex);
        claim = st.held.value(row.index);
    }
    const auto done = [&st, &row](bool gaveBack) {
        const QMutexLocker lock(&st.mutex);
        st.held.remove(row.index);
        --st.inProgress;
        st.empty = st.empty && !gaveBack;
    };
    // A module that lost its claim before anything went out: the row is not this station's to settle.
    if (record->verdict == ModuleRecord::Verdict::ClaimLost) {
        const QMutexLocker lock(&st.mutex);
        st.held.remove(row.index);
        --st.inProgress;
        return true;
    }
    const bool ok = record->ok();
    const QStringList written = ok ? writtenGroups(row.config) : QStringList();
    const int module = record->module;
    bool toldWaiting = false;
    for (;;) {
        bool lost = false;
        LedgerProblem problem;
        if (st.ledger.settle(st.s.claimant, claim, record, written, &lost, &problem)) {
            st.answered(nullptr);
            done(!ok);
            if (lost && st.s.note)
                st.s.note(QStringLiteral("ledger row %1: the claim of module %2 was lost (its lease ran out, or it was "
                                         "released) before the module was recorded; the module's result is recorded "
                                         "as %3, the row is not marked by it")
                              .arg(row.number)
                              .arg(module)
                              .arg(record->result()));
            return true;
        }
        if (!problem.noAnswer()) {
            done(false);
            st.keepUnsettled(row.index);
            *error = problem.text;
            return false;
        }
        st.answered(&problem);
        QMutexLocker lock(&st.mutex);
        if (st.ending) {
            lock.unlock();
            done(false);
            st.keepUnsettled(row.index);
            *error = QStringLiteral("the ledger does not answer: ") + problem.text;
            return false;
        }
        if (!toldWaiting && st.s.note) {
            toldWaiting = true;
            lock.unlock();
            st.s.note(QStringLiteral("ledger: the result of module %1 (row %2) waits for the ledger")
                          .arg(module)
                          .arg(row.number));
            lock.relock();
        }
        if (!st.ending)
            st.wake.wait(&st.mutex, kRetryMs);
    }
}

bool LedgerRows::over() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->closed || (m_state->s.count >= 0 && m_state->started - m_state->base >= m_state->s.count) ||
           (m_state->empty && m_state->inProgress == 0 && m_state->reserved == 0);
}

bool LedgerRows::exhausted() const
{
    const QMutexLocker lock(&m_state->mutex);
    const State& st = *m_state;
    return (st.s.count >= 0 && st.started - st.base >= st.s.count) ||
           (st.empty && st.inProgress == 0 && st.reserved == 0);
}

void LedgerRows::close()
{
    const QMutexLocker lock(&m_state->mutex);
    m_state->closed = true;
}

void LedgerRows::runEnding()
{
    const QMutexLocker lock(&m_state->mutex);
    m_state->ending = true;
    m_state->wake.wakeAll();
}

int LedgerRows::rowsLeft() const
{
    m_state->count();
    const QMutexLocker lock(&m_state->mutex);
    return m_state->left;
}

int LedgerRows::rowsRefused() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->refused;
}

QString LedgerRows::failure() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->failure;
}

void LedgerRows::threadEnded()
{
    m_state->ledger.dropConnection();
}
