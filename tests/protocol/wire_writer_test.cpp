#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rqc::protocol::wire::MessageType;
using rqc::protocol::wire::Writer;

// Writes one of every item, expecting `expected` bytes.
std::vector<std::byte> writeAll(std::size_t expected) {
    std::vector<std::byte> out;
    Writer w(out, expected);
    w.header(MessageType::Result);
    w.u8(0x7F);
    w.u32(0x01020304u);
    w.f64(2.5);
    w.text(std::string(300, 'x'));
    w.text("");
    w.finish();
    return out;
}

}  // namespace

// However wrong the expected size, the writer never writes past its buffer and always
// produces the same bytes as with the right size.
TEST(WireWriter, WrongExpectedSizesNeverOverrunAndGiveTheSameBytes) {
    constexpr std::size_t kExact = 4 + 1 + 4 + 8 + (4 + 300) + 4;
    const std::vector<std::byte> exact = writeAll(kExact);
    ASSERT_EQ(exact.size(), kExact);
    for (std::size_t expected :
         {std::size_t{0}, std::size_t{1}, std::size_t{5}, kExact - 1, kExact + 100}) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(writeAll(expected), exact);
    }
}
