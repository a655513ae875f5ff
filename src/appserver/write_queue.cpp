#include "write_queue.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

namespace rqc::appserver {

std::uint64_t WriteQueue::asyncAcquire(Granted granted, Refused refused) {
    std::unique_lock lock(m_mutex);
    if (!m_held) {
        m_held = true;
        m_heldSince = Clock::now();
        lock.unlock();
        granted();
        return 0;
    }
    std::optional<Refusal> refusal;
    std::chrono::duration<double> expected{0};
    if (m_waiting.size() >= m_capacity) {
        refusal = Refusal::Full;
    } else {
        const auto held = std::chrono::duration<double>(Clock::now() - m_heldSince);
        expected = std::max(m_typicalRun - held, std::chrono::duration<double>(0)) +
                   m_typicalRun * static_cast<double>(m_waiting.size());
        if (expected > m_maxWait)
            refusal = Refusal::TooLong;
    }
    if (refusal) {
        const std::size_t waiting = m_waiting.size();
        lock.unlock();
        if (*refusal == Refusal::Full) {
            spdlog::warn("write queue full: {} calls waiting; refusing another", waiting);
        } else {
            spdlog::warn(
                "write queue: {} calls waiting would take about {:.0f} s, over the bound of "
                "{} ms; refusing another",
                waiting, expected.count(), m_maxWait.count());
        }
        refused(*refusal);
        return 0;
    }
    const std::uint64_t ticket = m_nextTicket++;
    m_waiting.push_back({ticket, std::move(granted), std::move(refused)});
    return ticket;
}

bool WriteQueue::expire(std::uint64_t ticket) {
    Refused refused;
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                               [&](const Waiter& w) { return w.ticket == ticket; });
        if (it == m_waiting.end())
            return false;
        refused = std::move(it->refused);
        m_waiting.erase(it);
    }
    spdlog::warn("write queue: a call waited {} ms for its turn, its bound; refusing it",
                 m_maxWait.count());
    refused(Refusal::TooLong);
    return true;
}

void WriteQueue::refuseAll() {
    std::deque<Waiter> waiting;
    {
        std::lock_guard lock(m_mutex);
        waiting.swap(m_waiting);
    }
    for (auto& w : waiting)
        w.refused(Refusal::TooLong);
}

void WriteQueue::release() noexcept {
    Granted next;
    {
        std::lock_guard lock(m_mutex);
        const auto now = Clock::now();
        const auto run = std::chrono::duration<double>(now - m_heldSince);
        m_typicalRun = m_typicalRun.count() == 0 ? run : m_typicalRun * 0.7 + run * 0.3;
        if (m_waiting.empty()) {
            m_held = false;
            return;
        }
        next = std::move(m_waiting.front().granted);
        m_waiting.pop_front();
        m_heldSince = now;
    }
    next();
}

std::size_t WriteQueue::waiting() const {
    std::lock_guard lock(m_mutex);
    return m_waiting.size();
}

void WriteQueue::setMaxWait(std::chrono::milliseconds wait) {
    std::lock_guard lock(m_mutex);
    m_maxWait = wait;
}

WriteQueue& WriteQueue::forFile(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<WriteQueue>> queues;
    std::error_code ec;
    std::string key = std::filesystem::weakly_canonical(path, ec).string();
    if (ec || key.empty())
        key = path;
    std::lock_guard lock(mutex);
    auto& q = queues[key];
    if (!q)
        q = std::make_unique<WriteQueue>();
    return *q;
}

}  // namespace rqc::appserver
