#pragma once

#include "faults/faultrule.h"

#include <QList>
#include <QRandomGenerator64>
#include <QRegularExpression>

#include <mutex>

namespace Tarnwick::Emulator {

// Holds the fault rules and decides, request by request, which of them fire. Thread-safe.
class FaultInjector final
{
public:
    // Returns the rule's id. Throws std::invalid_argument for a bad path expression.
    int add(FaultRule rule);
    bool remove(int id);
    void clear();
    QList<FaultRule> rules() const;
    // How often a rule has fired.
    int fired(int id) const;
    // Probabilistic rules draw from this generator, so runs can be repeated.
    void setRandomSeed(quint64 seed);

    // The rules that fire for this request, in the order they were added; their counters advance.
    QList<FaultRule> match(const QString &method, const QString &path, const QString &query);

private:
    struct Entry
    {
        FaultRule rule;
        QRegularExpression path;
        int seen = 0;
        int fired = 0;
    };

    mutable std::mutex m_mutex;
    QList<Entry> m_entries;
    int m_nextId = 1;
    QRandomGenerator64 m_random{20240501};
};

} // namespace Tarnwick::Emulator
