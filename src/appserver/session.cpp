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

#include "metrics.h"
#include "protocol/protocol.h"

namespace rqc::appserver {

namespace {

constexpr std::size_t kInitialBuffer = 16 * 1024;
constexpr std::size_t kReadStep = 64 * 1024;  // the most the buffer grows ahead of the bytes
constexpr std::size_t kKeptBuffer = 1024 * 1024;
constexpr std::size_t kDrainBuffer = 4096;
constexpr auto kNoticeWindow = std::chrono::minutes(1);
constexpr unsigned kNoticesInFull = 5;  // per address and minute; the rest are summed up
// After a closing answer the client's unread bytes are drained (so that the answer is not
// lost to a reset) for at most this long and this much.
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kMaxDrained = 1024 * 1024;

// The answers a session gives on its own, for the operator to read.
// Answers the session gives outside any request's own version (a refusal before a byte was
// read, a frame too large): in the oldest layout served, which every client reads.
constexpr std::uint8_t kEveryClient = protocol::kOldestProtocolVersion;

namespace answers {

std::string requestTooLarge(std::uint64_t length, std::uint32_t limit) {
    return "O pedido de " + std::to_string(length) + " bytes passa do limite de " +
           std::to_string(limit) + " bytes do servidor; reduza o pedido e tente de novo.";
}

std::string answerTooLarge(std::size_t length, std::uint32_t limit) {
    return "A resposta de " + std::to_string(length) + " bytes passa do limite de " +
           std::to_string(limit) +
           " bytes por mensagem; restrinja o pedido (menos filiais ou um período menor).";
}

// Every refusal for lack of room says "servidor ocupado", which a client may show as it is.
std::string serverFull(unsigned open) {
    return "Conexão recusada, servidor ocupado: já há " + std::to_string(open) +
           " conexões abertas, o limite do servidor; tente novamente em instantes.";
}

std::string peerFull(const std::string& address, unsigned open) {
    return "Conexão recusada, servidor ocupado: o endereço " + address + " já tem " +
           std::to_string(open) +
           " conexões abertas, o limite por endereço; feche uma e tente "
           "de novo.";
}

std::string tooManyWaiting(const std::string& address) {
    return "Conexão recusada, servidor ocupado: há conexões demais do endereço " + address +
           " ainda sem login; conclua ou feche uma delas e tente de novo.";
}

std::string serverBusyWithLogins() {
    return "Conexão recusada, servidor ocupado: há conexões demais ainda sem login; tente "
           "novamente em instantes.";
}

}  // namespace answers

std::string withPort(const std::string& address, std::uint16_t port) {
    return address.find(':') == std::string::npos ? address + ":" + std::to_string(port)
                                                  : "[" + address + "]:" + std::to_string(port);
}

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
    m_address = ec ? std::string("unknown") : ep.address().to_string();
    m_state.peer = ec ? m_address : withPort(m_address, ep.port());
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

void Session::readProxyHeader() {
    m_in.resize(kProxyFixedSize);
    m_reading = true;
    arm(m_context.limits.readTimeout, "PROXY header not complete");
    asio::async_read(
        socket(), asio::buffer(m_in.data(), kProxyFixedSize),
        [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
            self->m_reading = false;
            if (self->m_closed)
                return;
            if (ec) {
                // A balancer's health probe connects and closes without a byte.
                if (n == 0 && ec == asio::error::eof) {
                    spdlog::debug("connection {} closed before its PROXY header",
                                  self->m_state.peer);
                } else {
                    self->warn(
                        fmt::format("connection {} from a trusted balancer closed: no PROXY "
                                    "header ({} bytes)",
                                    self->m_state.peer, n));
                }
                self->close();
                return;
            }
            const auto size = proxyHeaderSize(self->m_in);
            if (!size) {
                self->warn(
                    fmt::format("connection {} refused: a trusted balancer's connection "
                                "without a PROXY v2 header",
                                self->m_state.peer));
                self->close();
                return;
            }
            self->m_in.resize(*size);
            if (*size == kProxyFixedSize) {
                self->onProxyHeader(*size);
                return;
            }
            self->m_reading = true;
            asio::async_read(
                self->socket(),
                asio::buffer(self->m_in.data() + kProxyFixedSize, *size - kProxyFixedSize),
                [self, size = *size](const std::error_code& ec2, std::size_t) {
                    self->m_reading = false;
                    if (self->m_closed)
                        return;
                    if (ec2) {
                        self->warn(
                            fmt::format("connection {}: PROXY header cut "
                                        "short: {}",
                                        self->m_state.peer, ec2.message()));
                        self->close();
                        return;
                    }
                    self->onProxyHeader(size);
                });
        });
}

void Session::onProxyHeader(std::size_t size) {
    disarm();
    std::string fault;
    const auto header = parseProxyHeader(std::span<const std::byte>(m_in.data(), size), fault);
    if (!header) {
        warn(fmt::format("connection {} refused: {}", m_state.peer, fault));
        close();
        return;
    }
    if (header->address) {
        const std::string balancer = m_state.peer;
        m_address = header->address->to_string();
        m_state.peer = withPort(m_address, header->port);
        spdlog::debug("connection {} through balancer {}", m_state.peer, balancer);
    }
    m_in.clear();
    admit();
    m_sessions.heardFrom(this);
}

void Session::admit() {
    if (m_stopping) {
        close();
        return;
    }
    const std::string refusal = m_sessions.admit(this, m_address, m_context.caps);
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

// A PROXY header from an address that is not a trusted balancer is refused, not taken for a
// frame or a TLS hello.
void Session::checkForStrayHeader() {
    if (!m_context.trustedProxies.contains(m_socketAddress) || m_socketAddress.is_unspecified()) {
        m_reading = true;
        m_waitingForFrame = true;
        arm(m_context.limits.idleTimeout, "idle");
        socket().async_wait(
            asio::socket_base::wait_read, [self = shared_from_this()](const std::error_code& ec) {
                self->m_reading = false;
                self->m_waitingForFrame = false;
                self->disarm();
                if (self->m_closed)
                    return;
                if (!self->m_evictedWith.empty()) {
                    self->refuse(self->m_evictedWith);
                    return;
                }
                if (ec || self->m_stopping) {
                    self->close();
                    return;
                }
                self->m_sessions.heardFrom(self.get());
                std::byte first[kProxySignatureSize];
                const ssize_t n = ::recv(self->socket().native_handle(), first, sizeof first,
                                         MSG_PEEK | MSG_DONTWAIT);
                if (n > 0 && startsLikeProxyHeader(
                                 std::span<const std::byte>(first, static_cast<std::size_t>(n)))) {
                    self->warn(
                        fmt::format("connection {} refused: a PROXY header from an address "
                                    "that is not among the trusted proxies",
                                    self->m_state.peer));
                    self->close();
                    return;
                }
                self->handshake();
            });
        return;
    }
    handshake();
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
                            protocol::CallResult::error(answers::requestTooLarge(length, limit)),
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
            protocol::CallResult::error(answers::answerTooLarge(body.size(), limit)), kEveryClient);
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
        m_sessions.notice(m_address, text);
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
            refusal = answers::peerFull(address, peer.open);
            cap = CapRefusal::PerAddress;
        } else if (peer.waiting >= caps.maxUnauthenticatedPerPeer) {
            refusal = answers::tooManyWaiting(address);
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
                refusal = answers::serverFull(m_counted);
                cap = CapRefusal::Total;
            } else {
                refusal = answers::serverBusyWithLogins();
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
                       answers::serverBusyWithLogins());
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
