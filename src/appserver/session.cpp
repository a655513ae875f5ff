#include "session.h"

#include <spdlog/spdlog.h>

#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cstring>

#include "protocol/protocol.h"

namespace rqc::appserver {

namespace {

constexpr std::size_t kInitialBuffer = 16 * 1024;
constexpr std::size_t kKeptBuffer = 1024 * 1024;

}  // namespace

Session::Session(asio::ip::tcp::socket socket, const FrameHandler& handler, std::uint32_t maxFrame,
                 SessionSet& sessions)
    : m_socket(std::move(socket)), m_handler(handler), m_maxFrame(maxFrame), m_sessions(sessions) {
    std::error_code ec;
    auto ep = m_socket.remote_endpoint(ec);
    m_peer =
        ec ? std::string("unknown") : ep.address().to_string() + ":" + std::to_string(ep.port());
    m_in.resize(kInitialBuffer);
}

Session::~Session() {
    m_sessions.remove(this);
}

void Session::start() {
    m_sessions.add(shared_from_this());
    asio::post(m_socket.get_executor(), [self = shared_from_this()] { self->processBuffered(); });
}

void Session::shutdown() {
    asio::post(m_socket.get_executor(), [self = shared_from_this()] {
        self->m_stopping = true;
        if (self->m_reading)
            self->close();
    });
}

void Session::processBuffered() {
    const std::size_t avail = m_end - m_begin;
    if (avail >= protocol::kFrameHeaderSize) {
        const std::uint32_t length =
            protocol::frameLength(std::span<const std::byte, protocol::kFrameHeaderSize>(
                m_in.data() + m_begin, protocol::kFrameHeaderSize));
        if (length > m_maxFrame) {
            spdlog::warn(
                "connection {}: request of {} bytes exceeds the limit of {} bytes; closing", m_peer,
                length, m_maxFrame);
            m_begin = m_end = 0;
            writeAnswer(protocol::encodeResult(
                            protocol::CallResult::error("request of " + std::to_string(length) +
                                                        " bytes exceeds the server's limit of " +
                                                        std::to_string(m_maxFrame) + " bytes")),
                        true);
            return;
        }
        const std::size_t need = protocol::kFrameHeaderSize + length;
        if (avail >= need) {
            std::vector<std::byte> answer =
                m_handler(std::span<const std::byte>(
                              m_in.data() + m_begin + protocol::kFrameHeaderSize, length),
                          m_peer);
            m_begin += need;
            if (m_begin == m_end)
                m_begin = m_end = 0;
            writeAnswer(std::move(answer), false);
            return;
        }
        if (m_in.size() - m_begin < need) {
            std::memmove(m_in.data(), m_in.data() + m_begin, avail);
            m_begin = 0;
            m_end = avail;
            if (m_in.size() < need)
                m_in.resize(need);
        }
    } else if (m_begin > 0) {
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
    readMore();
}

void Session::readMore() {
    m_reading = true;
    m_socket.async_read_some(asio::buffer(m_in.data() + m_end, m_in.size() - m_end),
                             [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
                                 self->onRead(ec, n);
                             });
}

void Session::onRead(const std::error_code& ec, std::size_t n) {
    m_reading = false;
    if (ec) {
        const std::size_t pending = m_end - m_begin;
        if (ec == asio::error::operation_aborted) {
            // closed by shutdown()
        } else if (ec == asio::error::eof && pending == 0) {
            spdlog::debug("connection {} closed by the client", m_peer);
        } else if (ec == asio::error::eof) {
            spdlog::warn(
                "connection {}: closed by the client in the middle of a request ({} "
                "bytes received)",
                m_peer, pending);
        } else {
            spdlog::warn("connection {}: read failed: {}", m_peer, ec.message());
        }
        close();
        return;
    }
    m_end += n;
    processBuffered();
}

void Session::writeAnswer(std::vector<std::byte> body, bool closeAfter) {
    if (body.size() > UINT32_MAX) {
        body = protocol::encodeResult(
            protocol::CallResult::error("the result is too large to be sent in one frame"));
    }
    m_out = std::move(body);
    m_outHeader.clear();
    protocol::appendFrameHeader(m_outHeader, static_cast<std::uint32_t>(m_out.size()));
    m_closeAfterWrite = closeAfter;
    const std::array<asio::const_buffer, 2> buffers = {asio::buffer(m_outHeader),
                                                       asio::buffer(m_out)};
    asio::async_write(m_socket, buffers,
                      [self = shared_from_this()](const std::error_code& ec, std::size_t) {
                          self->onWritten(ec);
                      });
}

void Session::onWritten(const std::error_code& ec) {
    if (ec) {
        if (ec != asio::error::operation_aborted) {
            spdlog::warn("connection {}: write failed: {}", m_peer, ec.message());
        }
        close();
        return;
    }
    if (m_out.size() > kKeptBuffer) {
        m_out = {};
    }
    if (m_closeAfterWrite || m_stopping) {
        close();
        return;
    }
    processBuffered();
}

void Session::close() noexcept {
    std::error_code ec;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    m_socket.close(ec);
}

void SessionSet::add(const std::shared_ptr<Session>& s) {
    std::lock_guard lock(m_mutex);
    m_sessions.emplace(s.get(), s);
}

void SessionSet::remove(Session* s) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(s);
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

std::size_t SessionSet::size() const {
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

}  // namespace rqc::appserver
