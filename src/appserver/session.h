#pragma once
// One client connection. A session only moves bytes: it reads length-prefixed frames, hands
// each body to the frame handler, which runs it off the io thread, and writes the answer back
// when the handler reports it. A session's own handlers run on the one thread of its socket's
// io_context, so they never run at the same time; it reads nothing while a call is under way.
//
// Bounded by construction: the read buffer grows with the bytes that arrived, never with a
// length a header announces; a connection that has not logged in by the login deadline, an
// idle connection, and a request or an answer that stops moving for its deadline are closed;
// an answer over the frame limit is replaced by an error result. Connections from a trusted
// balancer start with a PROXY v2 header naming the client; every count and log line uses it.

#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "connection_state.h"
#include "proxy_header.h"

namespace rqc::appserver {

class SessionSet;

// Takes one frame body and the connection's state, runs it elsewhere than on the calling io
// thread and calls `done` (from any thread) with the encoded result body. Body and state stay
// valid and untouched by the session until `done` has been called; the handler must not use
// them afterwards.
using AnswerHandler = std::function<void(std::vector<std::byte> answer)>;
using FrameHandler = std::function<void(std::span<const std::byte> body, ConnectionState& state,
                                        AnswerHandler done)>;

struct SessionLimits {
    std::uint32_t maxFrame = 64u * 1024u * 1024u;  // request and answer bodies
    // A request before the login: a login (code and password) and little else. It bounds what
    // a connection that has not logged in may make the server hold.
    std::uint32_t maxLoginFrame = 4096;
    std::chrono::milliseconds idleTimeout = std::chrono::minutes(10);
    // No byte of a started request (or of the TLS handshake, or the PROXY header) for this long.
    std::chrono::milliseconds readTimeout = std::chrono::seconds(30);
    std::chrono::milliseconds writeTimeout =
        std::chrono::seconds(30);  // no byte of an answer taken
    std::chrono::milliseconds loginTimeout = std::chrono::seconds(10);  // from the accept
};

// Connection caps. Connections that have not logged in have their own, smaller share, so that
// they never keep out a logged-in client; when that share (or the total) is full, a connection
// not logging in right now makes room for the newcomer, whatever its address: the oldest of the
// address with clearly most of them, or the oldest one whose client has sent nothing, or else
// the oldest one that has had a second to log in. Refused clients are told so ("servidor ocupado").
struct SessionCaps {
    unsigned maxTotal = 1000;
    unsigned maxPerPeer = 64;
    unsigned maxUnauthenticated = 250;
    unsigned maxUnauthenticatedPerPeer = 32;
    // A connection whose client has sent something is closed to make room only once it is
    // this old.
    std::chrono::milliseconds evictableAfter{1000};
};

// Refused connections are answered and then drained for a moment; at most this many at once
// (each holds a descriptor and a small buffer). Beyond it a refused connection is closed.
inline constexpr unsigned kMaxRefusalsUnderWay = 1024;

// What every session of one server shares; outlives them.
struct SessionContext {
    FrameHandler handler;
    SessionLimits limits;
    SessionCaps caps;
    TrustedProxies trustedProxies;
    asio::ssl::context* tls = nullptr;  // connections run over TLS when set
};

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(asio::ip::tcp::socket socket, const SessionContext& context, SessionSet& sessions);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Reads the PROXY header when the peer is a trusted balancer, then has the session set
    // admit the connection under the client's address, and serves it (or refuses it).
    void start();
    enum class Stop { Gently, Now };
    // Thread-safe. Gently: a call under way finishes and is answered, then the connection
    // closes; an idle connection closes at once. Now: closes at once, abandoning an answer
    // being sent, and logs `why`.
    void shutdown(Stop how, const char* why = "closed");
    // Thread-safe: closes a connection that has not logged in to make room for a newcomer,
    // telling the client `refusal` when it is waiting to send its login.
    void evict(const std::string& why, const std::string& refusal);
    const std::string& peer() const { return m_state.peer.text(); }
    const std::string& address() const { return m_state.peer.address(); }

  private:
    using TlsStream = asio::ssl::stream<asio::ip::tcp::socket>;
    using Clock = std::chrono::steady_clock;

    asio::ip::tcp::socket& socket() { return m_tls ? m_tls->next_layer() : m_socket; }
    void readProxyHeader();
    void onProxyHeader(std::size_t size);
    void admit();
    void checkForStrayHeader();
    void handshake();
    void refuse(const std::string& reason);
    void processBuffered();
    void readMore();
    void onRead(const std::error_code& ec, std::size_t n);
    void onAnswer(std::vector<std::byte> body);
    void writeAnswer(std::vector<std::byte> body, bool closeAfter);
    void writeMore();
    void onWritten(const std::error_code& ec, std::size_t n);
    void drainThenClose();
    void drainMore();
    void arm(std::chrono::milliseconds after, const char* what);
    void waitDeadline(Clock::duration after);
    void progress() { m_lastProgress = Clock::now(); }
    void disarm();
    void close() noexcept;
    // Logged at once after the login; before it, summed up per address (SessionSet::notice).
    void warn(const std::string& text);

    asio::ip::tcp::socket m_socket;    // plain connections
    std::unique_ptr<TlsStream> m_tls;  // TLS connections (owns the socket)
    asio::steady_timer m_timer;        // idle, read, write and handshake deadlines
    asio::steady_timer m_loginTimer;
    const SessionContext& m_context;
    SessionSet& m_sessions;
    ConnectionState m_state;
    asio::ip::address m_socketAddress;
    bool m_loggedIn = false;

    std::vector<std::byte> m_in;  // [m_begin, m_end) holds bytes read but not yet handled
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::vector<std::byte> m_outHeader;
    std::vector<std::byte> m_out;
    std::size_t m_written = 0;       // of header and body together
    std::size_t m_pendingFrame = 0;  // bytes of the frame under way, handed to the handler
    std::uint64_t m_timerGeneration = 0;
    std::chrono::milliseconds m_deadline{0};
    const char* m_deadlineWhat = "";
    Clock::time_point m_lastProgress;
    std::size_t m_drained = 0;
    bool m_frameStarted = false;  // the read deadline of the request under way is armed
    bool m_reading = false;
    bool m_inCall = false;
    bool m_stopping = false;
    bool m_closed = false;
    bool m_closeAfterWrite = false;
    bool m_waitingForFrame = false;  // a read of the next request is under way
    std::string m_evictedWith;       // the refusal owed to a client that made room
};

}  // namespace rqc::appserver
