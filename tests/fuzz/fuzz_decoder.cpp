// Frames and messages as a peer may send them: the frame header, then every decoder on the
// body. A decoder may refuse (DecodeError) but must never crash, hang or read out of bounds,
// and what it accepts must encode back to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocol/numbers.h"
#include "protocol/protocol.h"

using namespace rqc::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    if (size >= kFrameHeaderSize)
        (void)frameLength(bytes.first<kFrameHeaderSize>());
    try {
        const CallRequest call = decodeCall(bytes);
        if (validateCall(call).empty() && encodeCall(call).size() != size)
            std::abort();
    } catch (const DecodeError&) {
    }
    try {
        const CallResult result = decodeResult(bytes);
        // Encoded again in the message's own version (a version 2 error has no kind byte).
        if (encodeResult(result, static_cast<std::uint8_t>(data[2])).size() != size)
            std::abort();
    } catch (const DecodeError&) {
    }
    try {
        (void)decodeLogin(bytes);
    } catch (const DecodeError&) {
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto v = parseCanonicalInteger(text); v && std::to_string(*v) != text)
        std::abort();
    (void)parseCanonicalDecimal(text);
    return 0;
}
