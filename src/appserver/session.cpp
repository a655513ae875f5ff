#include "session.h"

#include <spdlog/spdlog.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/ssl/error.hpp>
#include <cstring>
#include <optional>

#include "admission.h"
#include "error_text.h"
#include "metrics.h"
#include "protocol/protocol.h"

namespace rqc::appserver {

namespace {

constexpr std::size_t kInitialBuffer = 16 * 1024;
constexpr std::size_t kReadStep = 64 * 1024;  // the most the buffer grows ahead of the bytes
constexpr std::size_t kKeptBuffer = 1024 * 1024;
constexpr std::size_t kDrainBuffer = 4096;
// After a closing answer the client's unread bytes are drained (so that the answer is not
// lost to a reset) for at most this long and this much.
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kMaxDrained = 1024 * 1024;

// Answers the session gives outside any request's own version (a refusal before a byte was
// read, a frame too large): in the oldest layout served, which every client reads.
constexpr std::uint8_t kEveryClient = protocol::kOldestProtocolVersion;

}  // namespace

Session::Session(asio::ip::tcp::socket socket, const SessionContext& context, SessionSet& sessions)
    : m_socket(socket.get_executor()),
      m_timer(socket.get_executor()),
      m_loginTimer(socket.get_executor()),
      m_context(context),
      m_sessions(sessions) {
    std::error_code ec;
    auto ep = socket.remote_endpoint(ec);
    if (!ec)
        m_socketAddress = ep.address();
    m_state.peer =
        ec ? ClientAddress("unknown", 0) : ClientAddress(ep.address().to_string(), ep.port());
    if (context.tls != nullptr) {
        m_tls = std::make_unique<TlsStream>(std::move(socket), *context.tls);
    } else {
        m_socket = std::move(socket);
    }
}

Session::~Session() {
    m_sessions.remove(this);
}

void Session::start() {
    m_sessions.add(shared_from_this());
    asio::post(socket().get_executor(), [self = shared_from_this()] {
        const auto login = self->m_context.limits.loginTimeout;
        self->m_loginTimer.expires_after(login);
        self->m_loginTimer.async_wait([self, login](const std::error_code& ec) {
            // A login already handed over is answered, however long its turn takes.
            if (ec || self->m_loggedIn || self->m_closed || self->m_inCall)
                return;
            self->warn(fmt::format("connection {}: no login after {} ms; closing",
                                   self->m_state.peer, login.count()));
            self->close();
        });
        if (self->m_context.trustedProxies.contains(self->m_socketAddress)) {
            self->readProxyHeader();
        } else {
            self->admit();
        }
    });
}

void Session::admit() {
    if (m_stopping) {
        close();
        return;
    }
    const std::string refusal = m_sessions.admit(this, m_state.peer.address(), m_context.caps);
    if (!refusal.empty()) {
        if (m_sessions.beginRefusal(this)) {
            warn(fmt::format("connection {} refused: {}", m_state.peer, refusal));
            refuse(refusal);
        } else {
            warn(fmt::format("connection {} dropped: {} (too many refusals under way)",
                             m_state.peer, refusal));
            close();
        }
        return;
    }
    checkForStrayHeader();
}

void Session::handshake() {
    // Before the login the buffer holds one login request at most, and never grows.
    m_in.resize(protocol::kFrameHeaderSize + m_context.limits.maxLoginFrame);
    m_in.shrink_to_fit();
    if (!m_tls) {
        processBuffered();
        return;
    }
    m_reading = true;  // a shutdown may close a connection still shaking hands
    arm(m_context.limits.readTimeout, "TLS handshake not complete");
    m_tls->async_handshake(asio::ssl::stream_base::server,
                           [self = shared_from_this()](const std::error_code& ec) {
                               self->m_reading = false;
                               self->disarm();
                               if (self->m_closed)
                                   return;
                               if (ec) {
                                   self->warn(fmt::format("connection {}: TLS handshake failed: {}",
                                                          self->m_state.peer, ec.message()));
                                   self->close();
                                   return;
                               }
                               if (self->m_stopping) {
                                   self->close();
                                   return;
                               }
                               self->processBuffered();
                           });
}

void Session::refuse(const std::string& reason) {
    auto answer = protocol::encodeResult(protocol::CallResult::error(reason), kEveryClient);
    if (!m_tls) {
        writeAnswer(std::move(answer), true);
        return;
    }
    m_tls->async_handshake(
        asio::ssl::stream_base::server,
        [self = shared_from_this(), answer = std::move(answer)](const std::error_code& ec) mutable {
            if (ec || self->m_closed) {
                self->close();
                return;
            }
            self->writeAnswer(std::move(answer), true);
        });
    arm(m_context.limits.readTimeout, "TLS handshake not complete");
}

void Session::shutdown(Stop how, const char* why) {
    asio::post(socket().get_executor(), [self = shared_from_this(), how, why] {
        if (how == Stop::Gently) {
            self->m_stopping = true;
            if (self->m_reading)
                self->close();
        } else if (!self->m_closed) {
            self->warn(fmt::format("connection {}: {}", self->m_state.peer, why));
            self->close();
        }
    });
}

void Session::evict(const std::string& why, const std::string& refusal) {
    asio::post(socket().get_executor(), [self = shared_from_this(), why, refusal] {
        if (self->m_closed || self->m_loggedIn)
            return;
        self->warn(fmt::format("connection {}: {}", self->m_state.peer, why));
        if (!self->m_waitingForFrame || self->m_inCall) {
            self->close();  // still shaking hands: nothing can be said yet
            return;
        }
        self->m_evictedWith = refusal;
        std::error_code ignored;
        self->socket().cancel(ignored);
    });
}

void Session::processBuffered() {
    if (m_closed)
        return;
    const std::size_t avail = m_end - m_begin;
    if (avail >= protocol::kFrameHeaderSize) {
        const std::uint32_t length =
            protocol::frameLength(std::span<const std::byte, protocol::kFrameHeaderSize>(
                m_in.data() + m_begin, protocol::kFrameHeaderSize));
        const std::uint32_t limit =
            m_loggedIn ? m_context.limits.maxFrame : m_context.limits.maxLoginFrame;
        if (length > limit) {
            const std::string what = fmt::format(
                "connection {}: request of {} bytes exceeds the limit of {} bytes{}; "
                "closing",
                m_state.peer, length, limit, m_loggedIn ? "" : " before the login");
            warn(what);
            m_begin = m_end = 0;
            writeAnswer(protocol::encodeResult(
                            protocol::CallResult::error(messages::requestTooLarge(length, limit)),
                            kEveryClient),
                        true);
            return;
        }
        const std::size_t need = protocol::kFrameHeaderSize + length;
        if (avail >= need) {
            disarm();
            m_frameStarted = false;
            m_inCall = true;
            m_pendingFrame = need;
            if (!m_loggedIn)
                m_sessions.loginStarted(this);
            // The io_context stays alive for the answer, whatever else stops meanwhile.
            auto work = asio::make_work_guard(m_timer.get_executor());
            m_context.handler(std::span<const std::byte>(
                                  m_in.data() + m_begin + protocol::kFrameHeaderSize, length),
                              m_state,
                              [self = shared_from_this(),
                               work = std::move(work)](std::vector<std::byte> answer) mutable {
                                  asio::post(work.get_executor(),
                                             [self, answer = std::move(answer)]() mutable {
                                                 self->onAnswer(std::move(answer));
                                             });
                                  work.reset();
                              });
            return;
        }
    }
    if (m_begin > 0) {
        std::memmove(m_in.data(), m_in.data() + m_begin, avail);
        m_begin = 0;
        m_end = avail;
    }
    if (m_stopping) {
        close();
        return;
    }
    if (m_end == 0 && m_in.size() > kKeptBuffer) {
        m_in.resize(kInitialBuffer);
        m_in.shrink_to_fit();
    }
    // Room for the next read only: a frame's buffer follows its bytes as they arrive.
    if (m_loggedIn && m_in.size() - m_end < kReadStep / 4)
        m_in.resize(m_end + kReadStep);
    readMore();
}

void Session::onAnswer(std::vector<std::byte> body) {
    m_inCall = false;
    if (m_closed)
        return;
    m_begin += m_pendingFrame;
    m_pendingFrame = 0;
    if (m_begin == m_end)
        m_begin = m_end = 0;
    if (!m_loggedIn && !m_state.operatorCode.empty()) {
        m_loggedIn = true;
        m_loginTimer.cancel();
        m_sessions.loggedIn(this);
    }
    writeAnswer(std::move(body), m_state.closeAfterAnswer);
}

void Session::readMore() {
    if (m_end == 0) {
        arm(m_context.limits.idleTimeout, "idle");
    } else if (!m_frameStarted) {
        m_frameStarted = true;
        arm(m_context.limits.readTimeout, "request not complete");
    }
    m_reading = true;
    m_waitingForFrame = true;
    auto buffer = asio::buffer(m_in.data() + m_end, m_in.size() - m_end);
    auto done = [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
        self->onRead(ec, n);
    };
    if (m_tls) {
        m_tls->async_read_some(buffer, std::move(done));
    } else {
        m_socket.async_read_some(buffer, std::move(done));
    }
}

void Session::onRead(const std::error_code& ec, std::size_t n) {
    m_reading = false;
    m_waitingForFrame = false;
    if (m_closed)
        return;
    if (!m_evictedWith.empty()) {
        // Made room for a newcomer: the client is told why before the connection closes.
        m_begin = m_end = 0;
        writeAnswer(
            protocol::encodeResult(protocol::CallResult::error(m_evictedWith), kEveryClient), true);
        return;
    }
    if (ec) {
        const std::size_t pending = m_end - m_begin;
        const bool eof = ec == asio::error::eof || ec == asio::ssl::error::stream_truncated;
        if (ec == asio::error::operation_aborted) {
            // closed by shutdown()
        } else if (eof && pending == 0) {
            spdlog::debug("connection {} closed by the client", m_state.peer);
        } else if (eof) {
            warn(
                fmt::format("connection {}: closed by the client in the middle of a request ({} "
                            "bytes received)",
                            m_state.peer, pending));
        } else {
            warn(fmt::format("connection {}: read failed: {}", m_state.peer, ec.message()));
        }
        close();
        return;
    }
    m_end += n;
    progress();
    processBuffered();
}

void Session::writeAnswer(std::vector<std::byte> body, bool closeAfter) {
    const std::uint32_t limit = m_context.limits.maxFrame;
    if (body.size() > limit) {
        spdlog::warn(
            "connection {}: answer of {} bytes exceeds the frame limit of {} bytes; "
            "sending an error instead",
            m_state.peer, body.size(), limit);
        body = protocol::encodeResult(
            protocol::CallResult::error(messages::answerTooLarge(body.size(), limit)),
            kEveryClient);
    }
    m_closeAfterWrite = closeAfter;
    m_outHeader.clear();
    protocol::appendFrameHeader(m_outHeader, static_cast<std::uint32_t>(body.size()));
    if (m_tls) {
        // One buffer, so that header and body share TLS records.
        m_out.clear();
        m_out.reserve(m_outHeader.size() + body.size());
        m_out.insert(m_out.end(), m_outHeader.begin(), m_outHeader.end());
        m_out.insert(m_out.end(), body.begin(), body.end());
        m_outHeader.clear();
    } else {
        m_out = std::move(body);
    }
    m_written = 0;
    arm(m_context.limits.writeTimeout, "answer not taken");
    writeMore();
}

// Writes what the socket takes now; the write deadline counts from the last byte taken.
void Session::writeMore() {
    auto done = [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
        self->onWritten(ec, n);
    };
    const std::size_t head = m_outHeader.size();
    if (m_tls) {
        m_tls->async_write_some(asio::buffer(m_out.data() + m_written, m_out.size() - m_written),
                                std::move(done));
    } else if (m_written < head) {
        const std::array<asio::const_buffer, 2> buffers = {
            asio::buffer(m_outHeader.data() + m_written, head - m_written), asio::buffer(m_out)};
        m_socket.async_write_some(buffers, std::move(done));
    } else {
        m_socket.async_write_some(
            asio::buffer(m_out.data() + (m_written - head), m_out.size() - (m_written - head)),
            std::move(done));
    }
}

void Session::onWritten(const std::error_code& ec, std::size_t n) {
    if (m_closed)
        return;
    if (ec) {
        disarm();
        if (ec != asio::error::operation_aborted) {
            warn(fmt::format("connection {}: write failed: {}", m_state.peer, ec.message()));
        }
        close();
        return;
    }
    m_written += n;
    if (m_written < m_outHeader.size() + m_out.size()) {
        progress();
        writeMore();
        return;
    }
    disarm();
    if (m_out.size() > kKeptBuffer) {
        m_out = {};
    }
    if (m_closeAfterWrite) {
        drainThenClose();
        return;
    }
    if (m_stopping) {
        close();
        return;
    }
    processBuffered();
}

// Half-closes, then reads and drops what the client still sends until it closes too.
void Session::drainThenClose() {
    std::error_code ignored;
    socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    arm(kDrainTime, "closing answer not acknowledged");
    m_in.resize(kDrainBuffer);
    m_in.shrink_to_fit();
    drainMore();
}

void Session::drainMore() {
    m_reading = true;
    socket().async_read_some(asio::buffer(m_in),
                             [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
                                 self->m_reading = false;
                                 self->m_drained += n;
                                 if (ec || self->m_closed || self->m_drained > kMaxDrained) {
                                     self->close();
                                     return;
                                 }
                                 self->drainMore();
                             });
}

// The deadline passes once nothing has moved for `after`: progress() pushes it back.
void Session::arm(std::chrono::milliseconds after, const char* what) {
    m_deadline = after;
    m_deadlineWhat = what;
    progress();
    ++m_timerGeneration;
    waitDeadline(after);
}

void Session::waitDeadline(Clock::duration after) {
    const std::uint64_t generation = m_timerGeneration;
    m_timer.expires_after(after);
    m_timer.async_wait([self = shared_from_this(), generation](const std::error_code& ec) {
        if (ec || generation != self->m_timerGeneration || self->m_closed)
            return;
        const auto still = Clock::now() - self->m_lastProgress;
        if (still < self->m_deadline) {
            self->waitDeadline(self->m_deadline - still);
            return;
        }
        const std::string what =
            fmt::format("connection {}: {} after {} ms; closing", self->m_state.peer,
                        self->m_deadlineWhat, self->m_deadline.count());
        self->warn(what);
        self->close();
    });
}

void Session::warn(const std::string& text) {
    if (m_loggedIn)
        spdlog::warn("{}", text);
    else
        m_sessions.notice(m_state.peer.address(), text);
}

void Session::disarm() {
    ++m_timerGeneration;
    m_timer.cancel();
}

void Session::close() noexcept {
    if (m_closed)
        return;
    m_closed = true;
    disarm();
    m_loginTimer.cancel();
    std::error_code ec;
    socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket().close(ec);
}

}  // namespace rqc::appserver
