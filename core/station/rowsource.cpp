#include "core/station/rowsource.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <utility>

struct RowPool::State
{
    mutable QMutex mutex;
    std::function<StationRow(int)> make;
    QList<int> queue;
    bool fromValues = false;
    int count = -1;
    int base = 0;
    int started = 0;
    int inProgress = 0;
    bool closed = false;

    bool countReached() const { return count >= 0 && started - base >= count; }
    bool exhausted() const { return countReached() || (fromValues && queue.isEmpty() && inProgress == 0); }
};

RowPool::RowPool(QVector<StationRow> rows, bool fromValues, int count, int lastModule) : m_state(new State)
{
    for (int i = 0; i < rows.size(); ++i)
        m_state->queue.append(i);
    m_state->make = [rows = std::move(rows)](int index) {
        StationRow row = rows.at(index);
        row.index = index;
        return row;
    };
    m_state->fromValues = fromValues;
    m_state->count = count;
    m_state->base = m_state->started = lastModule;
}

RowPool::RowPool(QVector<int> order, std::function<StationRow(int)> make, bool fromValues, int count, int lastModule)
    : m_state(new State)
{
    m_state->make = std::move(make);
    m_state->fromValues = fromValues;
    m_state->count = count;
    m_state->base = m_state->started = lastModule;
    for (const int index : std::as_const(order))
        m_state->queue.append(index);
}

RowPool::~RowPool()
{
    delete m_state;
}

RowSource::Take RowPool::take(StationRow* row, int* module, QString*)
{
    State& s = *m_state;
    int index = 0;
    {
        const QMutexLocker lock(&s.mutex);
        if (s.closed || s.countReached())
            return Take::Over;
        if (s.fromValues) {
            if (s.queue.isEmpty())
                return s.inProgress > 0 ? Take::Wait : Take::Over;
            index = s.queue.takeFirst();
        } else {
            index = s.queue.first();
        }
        ++s.inProgress;
        *module = ++s.started;
    }
    // Made outside the lock: the other slots take their rows meanwhile.
    *row = s.make(index);
    return Take::Got;
}

bool RowPool::finish(const StationRow& row, ModuleRecord* record, QString*)
{
    State& s = *m_state;
    const QMutexLocker lock(&s.mutex);
    --s.inProgress;
    if (s.fromValues && !record->ok())
        s.queue.prepend(row.index);
    return true;
}

bool RowPool::over() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->closed || m_state->exhausted();
}

bool RowPool::exhausted() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->exhausted();
}

void RowPool::close()
{
    const QMutexLocker lock(&m_state->mutex);
    m_state->closed = true;
}

int RowPool::rowsLeft() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->queue.size();
}
