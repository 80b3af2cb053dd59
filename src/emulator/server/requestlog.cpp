#include "server/requestlog.h"

namespace Tarnwick::Emulator {

qint64 RequestLog::append(RequestRecord record)
{
    std::lock_guard lock(m_mutex);
    record.sequence = m_next++;
    m_records.push_back(std::move(record));
    while (m_records.size() > m_capacity)
        m_records.pop_front();
    return m_records.back().sequence;
}

QList<RequestRecord> RequestLog::entries(qint64 after) const
{
    std::lock_guard lock(m_mutex);
    QList<RequestRecord> out;
    for (const RequestRecord &r : m_records)
        if (r.sequence > after)
            out.append(r);
    return out;
}

void RequestLog::clear()
{
    std::lock_guard lock(m_mutex);
    m_records.clear();
}

} // namespace Tarnwick::Emulator
