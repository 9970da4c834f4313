#include "core/station/rowsource.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <utility>

struct RowPool::State
{
    mutable QMutex mutex;
    QVector<StationRow> rows;
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
    m_state->rows = std::move(rows);
    m_state->fromValues = fromValues;
    m_state->count = count;
    m_state->base = m_state->started = lastModule;
    for (int i = 0; i < m_state->rows.size(); ++i) {
        m_state->rows[i].index = i;
        m_state->queue.append(i);
    }
}

RowPool::~RowPool()
{
    delete m_state;
}

RowSource::Take RowPool::take(StationRow* row, int* module, QString*)
{
    State& s = *m_state;
    const QMutexLocker lock(&s.mutex);
    if (s.closed || s.countReached())
        return Take::Over;
    if (s.fromValues) {
        if (s.queue.isEmpty())
            return s.inProgress > 0 ? Take::Wait : Take::Over;
        *row = s.rows.at(s.queue.takeFirst());
    } else {
        *row = s.rows.first();
    }
    ++s.inProgress;
    *module = ++s.started;
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
