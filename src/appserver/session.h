#pragma once
// One client connection. A session only moves bytes: it reads length-prefixed frames, hands
// each body to the frame handler with the database connection of the worker it runs on, and
// writes the answer back. All of a session's work runs on that worker's thread, the one
// thread running its socket's io_context, so its handlers never run at the same time.
//
// Bounded by construction: the read buffer grows with the bytes that arrived, never with a
// length a header announces; an idle connection, a request that does not complete and an
// answer that is not taken are closed at their deadline; an answer over the frame limit is
// replaced by an error result.

#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "connection_state.h"

namespace rqc::appserver {

class SessionSet;
class WorkerConnection;

// Answers one frame body with the encoded result body, using the worker's database
// connection; may update the connection's state (a login); must not throw.
using FrameHandler = std::function<std::vector<std::byte>(
    std::span<const std::byte> body, WorkerConnection& db, ConnectionState& state)>;

struct SessionLimits {
    std::uint32_t maxFrame = 64u * 1024u * 1024u;  // request and answer bodies
    std::chrono::milliseconds idleTimeout = std::chrono::minutes(10);
    std::chrono::milliseconds readTimeout = std::chrono::seconds(30);  // also the TLS handshake
    std::chrono::milliseconds writeTimeout = std::chrono::seconds(30);
};

class Session : public std::enable_shared_from_this<Session> {
  public:
    // The socket's io_context must be run by one thread only, the one that may use `db`
    // (both must outlive the session). With `tls` the connection starts with a TLS
    // handshake (the context must outlive the session).
    Session(asio::ip::tcp::socket socket, asio::ssl::context* tls, const FrameHandler& handler,
            WorkerConnection& db, const SessionLimits& limits, SessionSet& sessions);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Serves the connection, counted under address() in the session set (SessionSet::admit
    // must have admitted it).
    void start();
    // Sends an error result carrying `reason` at once, then closes; the session is not
    // counted (SessionSet::beginRefusal must have reserved it).
    void refuse(std::string reason);
    // Thread-safe: a call under way finishes and is answered, then the connection closes;
    // an idle connection closes at once.
    void shutdown();
    // Thread-safe: closes at once, abandoning an answer being sent.
    void forceClose();
    const std::string& peer() const { return m_state.peer; }
    const std::string& address() const { return m_address; }

  private:
    using TlsStream = asio::ssl::stream<asio::ip::tcp::socket>;

    asio::ip::tcp::socket& socket() { return m_tls ? m_tls->next_layer() : m_socket; }
    void begin(std::function<void()> next);
    void processBuffered();
    void readMore();
    void onRead(const std::error_code& ec, std::size_t n);
    void writeAnswer(std::vector<std::byte> body, bool closeAfter);
    void onWritten(const std::error_code& ec);
    void drainThenClose();
    void drainMore();
    void arm(std::chrono::milliseconds after, const char* what);
    void disarm();
    void close() noexcept;

    asio::ip::tcp::socket m_socket;    // plain connections
    std::unique_ptr<TlsStream> m_tls;  // TLS connections (owns the socket)
    asio::steady_timer m_timer;
    const FrameHandler& m_handler;
    WorkerConnection& m_db;
    const SessionLimits m_limits;
    SessionSet& m_sessions;
    ConnectionState m_state;
    std::string m_address;  // the peer's address without the port
    bool m_counted = false;
    bool m_refusal = false;

    std::vector<std::byte> m_in;  // [m_begin, m_end) holds bytes read but not yet handled
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::vector<std::byte> m_outHeader;
    std::vector<std::byte> m_out;
    std::uint64_t m_timerGeneration = 0;
    std::size_t m_drained = 0;
    bool m_frameStarted = false;  // the read deadline of the request under way is armed
    bool m_reading = false;
    bool m_stopping = false;
    bool m_closed = false;
    bool m_closeAfterWrite = false;
};

// The live sessions, so that a shutdown can reach every one of them, and the counts behind
// the connection caps.
class SessionSet {
  public:
    // Counts a new connection from `address` unless a cap is reached; returns an empty string
    // when admitted, otherwise why not (for the refusal and the log).
    std::string admit(const std::string& address, unsigned maxTotal, unsigned maxPerPeer);
    // Reserves one of the few refusals that may be under way at once; false: drop the
    // connection without an answer.
    bool beginRefusal();

    void add(const std::shared_ptr<Session>& s);
    // Forgets the session and releases what admit or beginRefusal counted for it.
    void remove(Session* s, const std::string& address, bool counted, bool refusal);
    void shutdownAll();
    void forceCloseAll();
    std::size_t size() const;

  private:
    mutable std::mutex m_mutex;
    std::unordered_map<Session*, std::weak_ptr<Session>> m_sessions;
    std::unordered_map<std::string, unsigned> m_perPeer;
    unsigned m_counted = 0;
    unsigned m_refusals = 0;
};

}  // namespace rqc::appserver
