#include "faults/faultinjector.h"

#include <stdexcept>

namespace Tarnwick::Emulator {

int FaultInjector::add(FaultRule rule)
{
    QRegularExpression path(rule.path);
    if (!path.isValid())
        throw std::invalid_argument("invalid path expression in fault rule");
    std::lock_guard lock(m_mutex);
    rule.id = m_nextId++;
    m_entries.append(Entry{rule, path});
    return rule.id;
}

bool FaultInjector::remove(int id)
{
    std::lock_guard lock(m_mutex);
    return m_entries.removeIf([id](const Entry &e) { return e.rule.id == id; }) > 0;
}

void FaultInjector::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

QList<FaultRule> FaultInjector::rules() const
{
    std::lock_guard lock(m_mutex);
    QList<FaultRule> out;
    for (const Entry &e : m_entries)
        out.append(e.rule);
    return out;
}

int FaultInjector::fired(int id) const
{
    std::lock_guard lock(m_mutex);
    for (const Entry &e : m_entries)
        if (e.rule.id == id)
            return e.fired;
    return 0;
}

void FaultInjector::setRandomSeed(quint64 seed)
{
    std::lock_guard lock(m_mutex);
    m_random.seed(seed);
}

QList<FaultRule> FaultInjector::match(const QString &method, const QString &path,
                                      const QString &query)
{
    std::lock_guard lock(m_mutex);
    QList<FaultRule> out;
    for (Entry &e : m_entries) {
        const FaultRule &r = e.rule;
        if (!r.method.isEmpty() && r.method.compare(method, Qt::CaseInsensitive) != 0)
            continue;
        if (!r.path.isEmpty() && !e.path.match(path).hasMatch())
            continue;
        if (!r.query.isEmpty() && !query.contains(r.query))
            continue;
        if (r.times > 0 && e.fired >= r.times)
            continue;
        if (e.seen++ < r.skip)
            continue;
        if (r.probability < 1.0 && m_random.generateDouble() >= r.probability)
            continue;
        ++e.fired;
        out.append(r);
    }
    return out;
}

} // namespace Tarnwick::Emulator
