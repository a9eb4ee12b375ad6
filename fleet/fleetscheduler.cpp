#include "fleet/fleetscheduler.h"

#include <algorithm>
#include <utility>

FleetScheduler::FleetScheduler(int count, int limit, Start start, AllDone allDone)
    : m_count(std::max(0, count))
    , m_limit(std::max(1, limit))
    , m_start(std::move(start))
    , m_allDone(std::move(allDone))
    , m_state(std::size_t(std::max(0, count)), 0)
{
}

void FleetScheduler::setBurst(int perTurn, Later later)
{
    m_burst = std::max(0, perTurn);
    m_later = std::move(later);
}

void FleetScheduler::run()
{
    fill();
}

void FleetScheduler::done(int index)
{
    if (index < 0 || index >= m_count || m_state[std::size_t(index)] != 1)
        return;
    m_state[std::size_t(index)] = 2;
    --m_running;
    fill();
}

void FleetScheduler::stopStarting()
{
    m_starting = false;
    fill();
}

std::vector<int> FleetScheduler::notStarted() const
{
    std::vector<int> out;
    for (int i = 0; i < m_count; ++i) {
        if (m_state[std::size_t(i)] == 0)
            out.push_back(i);
    }
    return out;
}

void FleetScheduler::fill()
{
    // A start that ends its camera at once calls done() from in here: the loop below
    // goes on with the next camera instead of nesting a second loop.
    if (m_filling)
        return;
    m_filling = true;
    int started = 0;
    while (m_starting && m_next < m_count && m_running < m_limit) {
        if (m_burst > 0 && m_later && started == m_burst) {
            if (!m_deferred) {
                m_deferred = true;
                m_later([this, alive = std::weak_ptr<char>(m_alive)] {
                    if (alive.expired())
                        return;
                    m_deferred = false;
                    fill();
                });
            }
            break;
        }
        ++started;
        const int index = m_next++;
        m_state[std::size_t(index)] = 1;
        ++m_running;
        m_start(index);
    }
    m_filling = false;
    if (!m_finished && m_running == 0 && (!m_starting || m_next >= m_count)) {
        m_finished = true;
        if (m_allDone)
            m_allDone();
    }
}
