#pragma once
// One client connection. A session only moves bytes: it reads length-prefixed frames, hands
// each body to the frame handler on the thread that read it, and writes the answer back.
// All of a session's work runs on its socket's strand.

#include <asio/ip/tcp.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace rqc::appserver {

class SessionSet;

// Answers one frame body with the encoded result body; must not throw.
using FrameHandler =
    std::function<std::vector<std::byte>(std::span<const std::byte> body, const std::string& peer)>;

class Session : public std::enable_shared_from_this<Session> {
  public:
    // The socket's executor must be a strand.
    Session(asio::ip::tcp::socket socket, const FrameHandler& handler, std::uint32_t maxFrame,
            SessionSet& sessions);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void start();
    // Thread-safe: a call under way finishes and is answered, then the connection closes;
    // an idle connection closes at once.
    void shutdown();
    const std::string& peer() const { return m_peer; }

  private:
    void processBuffered();
    void readMore();
    void onRead(const std::error_code& ec, std::size_t n);
    void writeAnswer(std::vector<std::byte> body, bool closeAfter);
    void onWritten(const std::error_code& ec);
    void close() noexcept;

    asio::ip::tcp::socket m_socket;
    const FrameHandler& m_handler;
    const std::uint32_t m_maxFrame;
    SessionSet& m_sessions;
    std::string m_peer;

    std::vector<std::byte> m_in;  // [m_begin, m_end) holds bytes read but not yet handled
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::vector<std::byte> m_outHeader;
    std::vector<std::byte> m_out;
    bool m_reading = false;
    bool m_stopping = false;
    bool m_closeAfterWrite = false;
};

// The live sessions, so that a shutdown can reach every one of them.
class SessionSet {
  public:
    void add(const std::shared_ptr<Session>& s);
    void remove(Session* s);
    void shutdownAll();
    std::size_t size() const;

  private:
    mutable std::mutex m_mutex;
    std::unordered_map<Session*, std::weak_ptr<Session>> m_sessions;
};

}  // namespace rqc::appserver
