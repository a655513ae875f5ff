#include "recording_peer.h"

#include <array>
#include <asio.hpp>
#include <thread>

namespace rqc::test {

using namespace rqc::protocol;

struct RecordingPeer::State {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io};
    std::thread thread;

    mutable std::mutex mutex;
    Script script;
    std::vector<CallRequest> calls;
    std::vector<std::string> decodeErrors;
    std::vector<std::string> logins;
    int accepted = 0;

    void accept() {
        acceptor.async_accept([self = this](std::error_code ec, asio::ip::tcp::socket socket) {
            if (ec)
                return;
            {
                std::lock_guard lock(self->mutex);
                ++self->accepted;
            }
            auto session = std::make_shared<Session>(self, std::move(socket));
            session->readHeader();
            self->accept();
        });
    }

    struct Session : std::enable_shared_from_this<Session> {
        Session(State* s, asio::ip::tcp::socket sock) : state(s), socket(std::move(sock)) {}
        State* state;
        asio::ip::tcp::socket socket;
        std::array<std::byte, kFrameHeaderSize> head{};
        std::vector<std::byte> body;
        std::vector<std::byte> out;

        void readHeader() {
            asio::async_read(socket, asio::buffer(head),
                             [self = shared_from_this()](std::error_code ec, std::size_t) {
                                 if (!ec)
                                     self->readBody();
                             });
        }
        void readBody() {
            body.resize(frameLength(head));
            asio::async_read(socket, asio::buffer(body),
                             [self = shared_from_this()](std::error_code ec, std::size_t) {
                                 if (!ec)
                                     self->handle();
                             });
        }
        void handle() {
            Reply reply;
            try {
                if (auto h = peekHeader(body); h && h->type == kMessageLogin) {
                    LoginRequest login = decodeLogin(body);
                    std::lock_guard lock(state->mutex);
                    state->logins.push_back(login.operatorCode);
                    out = frameOf(encodeResult(CallResult::ofText(login.operatorCode)));
                    asio::async_write(socket, asio::buffer(out),
                                      [self = shared_from_this()](std::error_code ec, std::size_t) {
                                          if (!ec)
                                              self->readHeader();
                                      });
                    return;
                }
                CallRequest call = decodeCall(body);
                Script script;
                {
                    std::lock_guard lock(state->mutex);
                    state->calls.push_back(call);
                    script = state->script;
                }
                reply = script ? script(call) : Reply::answer(CallResult{});
            } catch (const DecodeError& e) {
                std::lock_guard lock(state->mutex);
                state->decodeErrors.push_back(e.what());
                reply = Reply::answer(CallResult::error(e.what()));
            }
            switch (reply.action) {
                case Reply::Action::Close:
                    socket.close();
                    return;
                case Reply::Action::Silent:
                    readHeader();
                    return;
                case Reply::Action::Raw:
                    out = std::move(reply.raw);
                    break;
                case Reply::Action::Answer:
                    out = frameOf(encodeResult(reply.result));
                    break;
            }
            asio::async_write(socket, asio::buffer(out),
                              [self = shared_from_this()](std::error_code ec, std::size_t) {
                                  if (!ec)
                                      self->readHeader();
                              });
        }
    };
};

RecordingPeer::RecordingPeer() : m_state(std::make_unique<State>()) {
    auto& s = *m_state;
    asio::ip::tcp::endpoint ep(asio::ip::make_address("127.0.0.1"), 0);
    s.acceptor.open(ep.protocol());
    s.acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    s.acceptor.bind(ep);
    s.acceptor.listen();
    m_port = s.acceptor.local_endpoint().port();
    s.accept();
    s.thread = std::thread([state = m_state.get()] { state->io.run(); });
}

RecordingPeer::~RecordingPeer() {
    m_state->io.stop();
    m_state->thread.join();
}

void RecordingPeer::setScript(Script script) {
    std::lock_guard lock(m_state->mutex);
    m_state->script = std::move(script);
}

void RecordingPeer::answerEchoingRefs(CallResult result, const std::string& suffix,
                                      bool touchByValue) {
    setScript([result, suffix, touchByValue](const CallRequest& call) {
        CallResult r = result;
        if (r.kind != CallResult::Kind::Error) {
            for (std::size_t i = 0; i < call.args.size(); ++i) {
                const auto& a = call.args[i];
                if (a.type == kDate)
                    continue;
                if (a.isByRef() || touchByValue) {
                    r.byRef.emplace_back(static_cast<std::uint8_t>(i), a.text + suffix);
                }
            }
        }
        return Reply::answer(std::move(r));
    });
}

std::vector<CallRequest> RecordingPeer::calls() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->calls;
}

int RecordingPeer::connectionsAccepted() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->accepted;
}

std::vector<std::string> RecordingPeer::decodeErrors() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->decodeErrors;
}

std::vector<std::string> RecordingPeer::logins() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->logins;
}

std::vector<std::byte> frameOf(const std::vector<std::byte>& body) {
    std::vector<std::byte> out;
    out.reserve(kFrameHeaderSize + body.size());
    appendFrameHeader(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace rqc::test
