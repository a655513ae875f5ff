#pragma once
// A real TCP peer speaking the protocol on an ephemeral loopback port, standing in for a
// remote object: it accepts every login, records every call it receives and answers from a
// script.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "protocol/protocol.h"

namespace rqc::test {

class RecordingPeer {
  public:
    // What the peer does with one received call.
    struct Reply {
        enum class Action { Answer, Raw, Close, Silent };
        Action action = Action::Answer;
        protocol::CallResult result;  // Answer
        std::vector<std::byte> raw;   // Raw: sent as is (frame header included)

        static Reply answer(protocol::CallResult r) { return {Action::Answer, std::move(r), {}}; }
        static Reply rawBytes(std::vector<std::byte> b) { return {Action::Raw, {}, std::move(b)}; }
        static Reply close() { return {Action::Close, {}, {}}; }
        static Reply silent() { return {Action::Silent, {}, {}}; }
    };
    using Script = std::function<Reply(const protocol::CallRequest&)>;

    // Starts listening on 127.0.0.1 with an ephemeral port; the default script answers an
    // empty result and writes nothing back.
    RecordingPeer();
    ~RecordingPeer();
    RecordingPeer(const RecordingPeer&) = delete;
    RecordingPeer& operator=(const RecordingPeer&) = delete;

    std::uint16_t port() const { return m_port; }
    void setScript(Script script);
    // Answers every call with `result` and, for each by-reference argument, sends back its
    // text with `suffix` appended (and for by-value arguments too when `touchByValue`).
    void answerEchoingRefs(protocol::CallResult result, const std::string& suffix,
                           bool touchByValue = false);

    std::vector<protocol::CallRequest> calls() const;
    int connectionsAccepted() const;
    // Bodies that failed to decode, with the DecodeError message the peer answered.
    std::vector<std::string> decodeErrors() const;
    // Operator codes of the logins received (every login is accepted), in order.
    std::vector<std::string> logins() const;

  private:
    struct State;
    std::unique_ptr<State> m_state;
    std::uint16_t m_port = 0;
};

// A frame (header and body) holding the encoded result.
std::vector<std::byte> frameOf(const std::vector<std::byte>& body);

}  // namespace rqc::test
