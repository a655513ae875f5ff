#pragma once
// Admission of client connections: the live sessions, the counts behind the connection caps,
// who makes room when a share is full, and the summing up of warnings about connections that
// have not logged in.

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "session.h"

namespace rqc::appserver {

// The live sessions, so that a shutdown can reach every one of them, and the counts behind
// the connection caps. Thread-safe.
class SessionSet {
  public:
    void add(const std::shared_ptr<Session>& s);
    // Counts the session under `address` unless a cap is reached; returns an empty string when
    // admitted, otherwise the refusal for the client. May close an older connection that has
    // not logged in to make room.
    std::string admit(Session* s, const std::string& address, const SessionCaps& caps);
    // The client has sent its first bytes: it is no longer the first to make room.
    void heardFrom(Session* s);
    // The session's login is being checked: it is not closed to make room meanwhile.
    void loginStarted(Session* s);
    // The session has logged in: it leaves the share of those that have not.
    void loggedIn(Session* s);
    // A warning about a connection that has not logged in. The first five of an address in a
    // minute are logged; the rest are counted and summed up in one line per address and minute, so
    // that a flood of refused connections cannot drown the log.
    void notice(const std::string& address, const std::string& text);
    // Writes the summaries of the minutes that have ended; called now and then.
    void flushNotices(bool all = false);
    // Reserves one of the few refusals that may be under way at once; false: drop the
    // connection without an answer.
    bool beginRefusal(Session* s);
    // Forgets the session and releases what it was counted for.
    void remove(Session* s);
    void shutdownAll(Session::Stop how, const char* why = "closed");
    std::size_t size() const;
    // Connections counted against the caps, and those of them not logged in yet.
    std::pair<std::size_t, std::size_t> counts() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        std::weak_ptr<Session> session;
        std::string address;
        Clock::time_point admitted;
        bool counted = false;
        bool waiting = false;    // counted and not logged in
        bool inLogin = false;    // its login is being checked
        bool heardFrom = false;  // the client has sent something
        bool refusal = false;
    };
    struct Peer {
        unsigned open = 0;
        unsigned waiting = 0;
    };
    struct Notices {
        Clock::time_point since;
        unsigned shown = 0;
        unsigned more = 0;  // not logged since `since`
        std::string last;
    };
    void stopWaiting(Entry& e, Session* s);  // under the lock
    static void logSummary(const std::string& address, const Notices& n);
    Session* evictable(const std::string& address, Clock::time_point now,
                       const SessionCaps& caps);  // under the lock

    mutable std::mutex m_mutex;
    std::unordered_map<Session*, Entry> m_sessions;
    std::unordered_map<std::string, Peer> m_peers;
    std::deque<Session*> m_waitingOrder;  // not logged in, oldest first
    unsigned m_counted = 0;
    unsigned m_refusals = 0;
    std::mutex m_noticeMutex;
    std::unordered_map<std::string, Notices> m_notices;
};

}  // namespace rqc::appserver
