#include "admission.h"

#include <spdlog/spdlog.h>

#include <algorithm>

#include "error_text.h"
#include "metrics.h"

namespace rqc::appserver {

namespace {

constexpr auto kNoticeWindow = std::chrono::minutes(1);
constexpr unsigned kNoticesInFull = 5;  // per address and minute; the rest are summed up

}  // namespace

void SessionSet::add(const std::shared_ptr<Session>& s) {
    std::lock_guard lock(m_mutex);
    m_sessions[s.get()].session = s;
}

void SessionSet::stopWaiting(Entry& e, Session* s) {
    if (!e.waiting)
        return;
    e.waiting = false;
    --m_peers[e.address].waiting;
    if (auto it = std::find(m_waitingOrder.begin(), m_waitingOrder.end(), s);
        it != m_waitingOrder.end())
        m_waitingOrder.erase(it);
}

// Who makes room for a newcomer from `address`: the oldest connection of the address with
// clearly more connections waiting than the newcomer's own, or else the oldest connection that
// has had its time to log in; never one whose login is being checked.
Session* SessionSet::evictable(const std::string& address, Clock::time_point now,
                               const SessionCaps& caps) {
    const std::string* heaviest = nullptr;
    unsigned most = 0;
    for (const auto& [a, p] : m_peers) {
        if (p.waiting > most) {
            most = p.waiting;
            heaviest = &a;
        }
    }
    const auto own = m_peers.find(address);
    const unsigned mine = own == m_peers.end() ? 0 : own->second.waiting;
    Session* oldest = nullptr;
    for (Session* candidate : m_waitingOrder) {
        const Entry& e = m_sessions[candidate];
        if (e.inLogin)
            continue;
        if (heaviest != nullptr && most > mine + 1 && e.address == *heaviest)
            return candidate;
        // A socket that has sent nothing yet goes first; one whose client is talking has a
        // moment to finish its login.
        if (!e.heardFrom)
            return candidate;
        if (oldest == nullptr && now - e.admitted >= caps.evictableAfter)
            oldest = candidate;
    }
    return oldest;
}

std::string SessionSet::admit(Session* s, const std::string& address, const SessionCaps& caps) {
    std::shared_ptr<Session> evicted;
    std::string refusal;
    {
        std::lock_guard lock(m_mutex);
        const auto now = Clock::now();
        Peer& peer = m_peers[address];
        std::optional<CapRefusal> cap;
        if (peer.open >= caps.maxPerPeer) {
            refusal = messages::peerFull(address, peer.open);
            cap = CapRefusal::PerAddress;
        } else if (peer.waiting >= caps.maxUnauthenticatedPerPeer) {
            refusal = messages::tooManyWaiting(address);
            cap = CapRefusal::UnauthenticatedPerAddress;
        } else if (m_counted >= caps.maxTotal || m_waitingOrder.size() >= caps.maxUnauthenticated) {
            if (Session* victim = evictable(address, now, caps)) {
                Entry& e = m_sessions[victim];
                evicted = e.session.lock();
                stopWaiting(e, victim);
                e.counted = false;
                --m_counted;
                // The newcomer's own address stays: `peer` refers to it.
                if (auto p = m_peers.find(e.address); --p->second.open == 0 && p->first != address)
                    m_peers.erase(p);
            } else if (m_counted >= caps.maxTotal) {
                refusal = messages::serverFull(m_counted);
                cap = CapRefusal::Total;
            } else {
                refusal = messages::serverBusyWithLogins();
                cap = CapRefusal::Unauthenticated;
            }
        }
        if (cap) {
            if (auto* m = metrics())
                m->connectionRefused(*cap);
        }
        if (refusal.empty()) {
            Entry& e = m_sessions[s];
            e.address = address;
            e.admitted = now;
            e.counted = true;
            e.waiting = true;
            ++m_counted;
            ++peer.open;
            ++peer.waiting;
            m_waitingOrder.push_back(s);
        }
        if (peer.open == 0)
            m_peers.erase(address);
    }
    if (evicted)
        evicted->evict("closed to make room: the oldest connection still without a login",
                       messages::serverBusyWithLogins());
    return refusal;
}

void SessionSet::heardFrom(Session* s) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_sessions.find(s); it != m_sessions.end())
        it->second.heardFrom = true;
}

void SessionSet::loginStarted(Session* s) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_sessions.find(s); it != m_sessions.end())
        it->second.inLogin = true;
}

void SessionSet::loggedIn(Session* s) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_sessions.find(s); it != m_sessions.end())
        stopWaiting(it->second, s);
}

bool SessionSet::beginRefusal(Session* s) {
    std::lock_guard lock(m_mutex);
    if (m_refusals >= kMaxRefusalsUnderWay)
        return false;
    ++m_refusals;
    m_sessions[s].refusal = true;
    return true;
}

void SessionSet::remove(Session* s) {
    std::lock_guard lock(m_mutex);
    auto it = m_sessions.find(s);
    if (it == m_sessions.end())
        return;
    Entry& e = it->second;
    stopWaiting(e, s);
    if (e.counted) {
        --m_counted;
        if (auto p = m_peers.find(e.address); p != m_peers.end() && --p->second.open == 0)
            m_peers.erase(p);
    }
    if (e.refusal)
        --m_refusals;
    m_sessions.erase(it);
}

void SessionSet::logSummary(const std::string& address, const Notices& n) {
    if (n.more > 0) {
        spdlog::warn("address {}: {} more connection warning(s) in the last minute, the last: {}",
                     address, n.more, n.last);
    }
}

void SessionSet::notice(const std::string& address, const std::string& text) {
    const auto now = Clock::now();
    {
        std::lock_guard lock(m_noticeMutex);
        auto [it, fresh] = m_notices.try_emplace(address);
        Notices& n = it->second;
        if (!fresh && now - n.since < kNoticeWindow) {
            if (++n.shown > kNoticesInFull) {
                ++n.more;
                n.last = text;
                return;
            }
            spdlog::warn("{}", text);
            return;
        }
        if (!fresh && n.more > 0) {
            spdlog::warn(
                "address {}: {} more connection warning(s) in the last minute, the last: {}",
                address, n.more, n.last);
        }
        n = Notices{now, 1, 0, {}};
    }
    spdlog::warn("{}", text);
}

void SessionSet::flushNotices(bool all) {
    const auto now = Clock::now();
    std::lock_guard lock(m_noticeMutex);
    for (auto it = m_notices.begin(); it != m_notices.end();) {
        Notices& n = it->second;
        if (!all && now - n.since < kNoticeWindow) {
            ++it;
            continue;
        }
        if (n.more > 0) {
            spdlog::warn(
                "address {}: {} more connection warning(s) in the last minute, the last: {}",
                it->first, n.more, n.last);
        }
        it = m_notices.erase(it);
    }
}

void SessionSet::shutdownAll(Session::Stop how, const char* why) {
    std::vector<std::shared_ptr<Session>> live;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [ptr, e] : m_sessions) {
            if (auto s = e.session.lock())
                live.push_back(std::move(s));
        }
    }
    for (auto& s : live)
        s->shutdown(how, why);
}

std::pair<std::size_t, std::size_t> SessionSet::counts() const {
    std::lock_guard lock(m_mutex);
    return {m_counted, m_waitingOrder.size()};
}

std::size_t SessionSet::size() const {
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

}  // namespace rqc::appserver
