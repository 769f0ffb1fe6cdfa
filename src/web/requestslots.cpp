#include "web/requestslots.h"

#include <algorithm>
#include <chrono>

bool TRequestSlots::Acquire(const QString& host, const std::atomic<bool>* abandon) {
    std::unique_lock lock(m_lock);
    const QString key = host.toLower();
    auto free = [&] { return m_inFlight < m_total && m_byHost.value(key) < m_perHost; };
    // A stop is noticed within a tenth of a second even when no place comes free.
    while (!free()) {
        if (abandon && abandon->load())
            return false;
        m_freed.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (abandon && abandon->load())
        return false;
    const int toHost = ++m_byHost[key];
    ++m_inFlight;
    m_mostToOneHost = std::max(m_mostToOneHost, toHost);
    m_mostInAll = std::max(m_mostInAll, m_inFlight);
    return true;
}

void TRequestSlots::Release(const QString& host) {
    {
        std::lock_guard lock(m_lock);
        const QString key = host.toLower();
        if (auto it = m_byHost.find(key); it != m_byHost.end() && --*it <= 0)
            m_byHost.erase(it);
        --m_inFlight;
    }
    m_freed.notify_all();
}

int TRequestSlots::MostToOneHost() const {
    std::lock_guard lock(m_lock);
    return m_mostToOneHost;
}

int TRequestSlots::MostInAll() const {
    std::lock_guard lock(m_lock);
    return m_mostInAll;
}
