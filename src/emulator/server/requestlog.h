#pragma once

#include "server/requestrecord.h"

#include <QList>

#include <deque>
#include <mutex>

namespace Tarnwick::Emulator {

// The bounded log of requests the emulator answered (control requests excluded). Thread-safe.
class RequestLog final
{
public:
    explicit RequestLog(size_t capacity = 200000)
        : m_capacity(capacity)
    {
    }

    // Numbers the record and keeps it; returns its sequence number.
    qint64 append(RequestRecord record);
    // Records with a sequence number above `after`, oldest first.
    QList<RequestRecord> entries(qint64 after = 0) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::deque<RequestRecord> m_records;
    size_t m_capacity;
    qint64 m_next = 1;
};

} // namespace Tarnwick::Emulator
