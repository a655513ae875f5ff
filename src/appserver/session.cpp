#include "session.h"

#include <spdlog/spdlog.h>

#include <asio/post.hpp>
#include <asio/ssl/error.hpp>
#include <asio/write.hpp>
#include <cstring>

#include "protocol/protocol.h"

namespace rqc::appserver {

namespace {

constexpr std::size_t kInitialBuffer = 16 * 1024;
constexpr std::size_t kReadStep = 64 * 1024;  // the most the buffer grows ahead of the bytes
constexpr std::size_t kKeptBuffer = 1024 * 1024;
constexpr unsigned kMaxRefusals = 64;
// After a closing answer the client's unread bytes are drained (so that the answer is not
// lost to a reset) for at most this long and this much.
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kMaxDrained = 1024 * 1024;

}  // namespace

Session::Session(asio::ip::tcp::socket socket, asio::ssl::context* tls, const FrameHandler& handler,
                 WorkerConnection& db, const SessionLimits& limits, SessionSet& sessions)
    : m_socket(socket.get_executor()),
      m_timer(socket.get_executor()),
      m_handler(handler),
      m_db(db),
      m_limits(limits),
      m_sessions(sessions) {
    std::error_code ec;
    auto ep = socket.remote_endpoint(ec);
    m_address = ec ? std::string("unknown") : ep.address().to_string();
    m_state.peer = ec ? m_address : m_address + ":" + std::to_string(ep.port());
    if (tls != nullptr) {
        m_tls = std::make_unique<TlsStream>(std::move(socket), *tls);
    } else {
        m_socket = std::move(socket);
    }
    m_in.resize(kInitialBuffer);
}

Session::~Session() {
    m_sessions.remove(this, m_address, m_counted, m_refusal);
}

void Session::begin(std::function<void()> next) {
    m_sessions.add(shared_from_this());
    asio::post(socket().get_executor(), [self = shared_from_this(), next = std::move(next)] {
        if (!self->m_tls) {
            next();
            return;
        }
        self->m_reading = true;  // a shutdown may close a connection still shaking hands
        self->arm(self->m_limits.readTimeout, "TLS handshake not complete");
        self->m_tls->async_handshake(asio::ssl::stream_base::server,
                                     [self, next](const std::error_code& ec) {
                                         self->m_reading = false;
                                         self->disarm();
                                         if (self->m_closed)
                                             return;
                                         if (ec) {
                                             spdlog::warn("connection {}: TLS handshake failed: {}",
                                                          self->m_state.peer, ec.message());
                                             self->close();
                                             return;
                                         }
                                         if (self->m_stopping) {
                                             self->close();
                                             return;
                                         }
                                         next();
                                     });
    });
}

void Session::start() {
    m_counted = true;
    begin([this] { processBuffered(); });
}

void Session::refuse(std::string reason) {
    m_refusal = true;
    begin([this, reason = std::move(reason)] {
        writeAnswer(protocol::encodeResult(protocol::CallResult::error(reason)), true);
    });
}

void Session::shutdown() {
    asio::post(socket().get_executor(), [self = shared_from_this()] {
        self->m_stopping = true;
        if (self->m_reading)
            self->close();
    });
}

void Session::forceClose() {
    asio::post(socket().get_executor(), [self = shared_from_this()] {
        if (!self->m_closed) {
            spdlog::warn("connection {}: closed at the stop deadline", self->m_state.peer);
            self->close();
        }
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
        if (length > m_limits.maxFrame) {
            spdlog::warn(
                "connection {}: request of {} bytes exceeds the limit of {} bytes; closing",
                m_state.peer, length, m_limits.maxFrame);
            m_begin = m_end = 0;
            writeAnswer(protocol::encodeResult(protocol::CallResult::error(
                            "request of " + std::to_string(length) +
                            " bytes exceeds the server's limit of " +
                            std::to_string(m_limits.maxFrame) + " bytes")),
                        true);
            return;
        }
        const std::size_t need = protocol::kFrameHeaderSize + length;
        if (avail >= need) {
            disarm();
            m_frameStarted = false;
            std::vector<std::byte> answer =
                m_handler(std::span<const std::byte>(
                              m_in.data() + m_begin + protocol::kFrameHeaderSize, length),
                          m_db, m_state);
            m_begin += need;
            if (m_begin == m_end)
                m_begin = m_end = 0;
            writeAnswer(std::move(answer), m_state.closeAfterAnswer);
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
    if (m_in.size() - m_end < kReadStep / 4)
        m_in.resize(m_end + kReadStep);
    readMore();
}

void Session::readMore() {
    if (m_end == 0) {
        arm(m_limits.idleTimeout, "idle");
    } else if (!m_frameStarted) {
        m_frameStarted = true;
        arm(m_limits.readTimeout, "request not complete");
    }
    m_reading = true;
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
    if (m_closed)
        return;
    if (ec) {
        const std::size_t pending = m_end - m_begin;
        const bool eof = ec == asio::error::eof || ec == asio::ssl::error::stream_truncated;
        if (ec == asio::error::operation_aborted) {
            // closed by shutdown()
        } else if (eof && pending == 0) {
            spdlog::debug("connection {} closed by the client", m_state.peer);
        } else if (eof) {
            spdlog::warn(
                "connection {}: closed by the client in the middle of a request ({} "
                "bytes received)",
                m_state.peer, pending);
        } else {
            spdlog::warn("connection {}: read failed: {}", m_state.peer, ec.message());
        }
        close();
        return;
    }
    m_end += n;
    processBuffered();
}

void Session::writeAnswer(std::vector<std::byte> body, bool closeAfter) {
    if (body.size() > m_limits.maxFrame) {
        spdlog::warn(
            "connection {}: answer of {} bytes exceeds the frame limit of {} bytes; "
            "sending an error instead",
            m_state.peer, body.size(), m_limits.maxFrame);
        body = protocol::encodeResult(protocol::CallResult::error(
            "the answer of " + std::to_string(body.size()) + " bytes exceeds the frame limit of " +
            std::to_string(m_limits.maxFrame) + " bytes; narrow the request"));
    }
    m_closeAfterWrite = closeAfter;
    m_outHeader.clear();
    protocol::appendFrameHeader(m_outHeader, static_cast<std::uint32_t>(body.size()));
    arm(m_limits.writeTimeout, "answer not taken");
    auto done = [self = shared_from_this()](const std::error_code& ec, std::size_t) {
        self->onWritten(ec);
    };
    if (m_tls) {
        // One buffer, so that header and body share TLS records.
        m_out.clear();
        m_out.reserve(m_outHeader.size() + body.size());
        m_out.insert(m_out.end(), m_outHeader.begin(), m_outHeader.end());
        m_out.insert(m_out.end(), body.begin(), body.end());
        asio::async_write(*m_tls, asio::buffer(m_out), std::move(done));
    } else {
        m_out = std::move(body);
        const std::array<asio::const_buffer, 2> buffers = {asio::buffer(m_outHeader),
                                                           asio::buffer(m_out)};
        asio::async_write(m_socket, buffers, std::move(done));
    }
}

void Session::onWritten(const std::error_code& ec) {
    disarm();
    if (m_closed)
        return;
    if (ec) {
        if (ec != asio::error::operation_aborted) {
            spdlog::warn("connection {}: write failed: {}", m_state.peer, ec.message());
        }
        close();
        return;
    }
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
    m_in.resize(kInitialBuffer);
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

void Session::arm(std::chrono::milliseconds after, const char* what) {
    const std::uint64_t generation = ++m_timerGeneration;
    m_timer.expires_after(after);
    m_timer.async_wait(
        [self = shared_from_this(), generation, after, what](const std::error_code& ec) {
            if (ec || generation != self->m_timerGeneration || self->m_closed)
                return;
            spdlog::warn("connection {}: {} after {} ms; closing", self->m_state.peer, what,
                         after.count());
            self->close();
        });
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
    std::error_code ec;
    socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket().close(ec);
}

std::string SessionSet::admit(const std::string& address, unsigned maxTotal, unsigned maxPerPeer) {
    std::lock_guard lock(m_mutex);
    if (m_counted >= maxTotal) {
        return "the server has " + std::to_string(m_counted) +
               " connections open, its limit; try again later";
    }
    unsigned& fromPeer = m_perPeer[address];
    if (fromPeer >= maxPerPeer) {
        return "address " + address + " has " + std::to_string(fromPeer) +
               " connections open, the limit per client address; close one and try again";
    }
    ++fromPeer;
    ++m_counted;
    return {};
}

bool SessionSet::beginRefusal() {
    std::lock_guard lock(m_mutex);
    if (m_refusals >= kMaxRefusals)
        return false;
    ++m_refusals;
    return true;
}

void SessionSet::add(const std::shared_ptr<Session>& s) {
    std::lock_guard lock(m_mutex);
    m_sessions.emplace(s.get(), s);
}

void SessionSet::remove(Session* s, const std::string& address, bool counted, bool refusal) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(s);
    if (counted) {
        --m_counted;
        if (auto it = m_perPeer.find(address); it != m_perPeer.end() && --it->second == 0)
            m_perPeer.erase(it);
    }
    if (refusal)
        --m_refusals;
}

void SessionSet::shutdownAll() {
    std::vector<std::shared_ptr<Session>> live;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [ptr, weak] : m_sessions) {
            if (auto s = weak.lock())
                live.push_back(std::move(s));
        }
    }
    for (auto& s : live)
        s->shutdown();
}

void SessionSet::forceCloseAll() {
    std::vector<std::shared_ptr<Session>> live;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [ptr, weak] : m_sessions) {
            if (auto s = weak.lock())
                live.push_back(std::move(s));
        }
    }
    for (auto& s : live)
        s->forceClose();
}

std::size_t SessionSet::size() const {
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

}  // namespace rqc::appserver
