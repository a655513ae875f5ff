#pragma once
// The one definition of well-formed UTF-8 used by the wire format and the server: shortest
// forms only, no surrogates, nothing beyond U+10FFFF.

#include <cstddef>
#include <string_view>

namespace rqc::protocol::wire {

// True when every byte of `s` belongs to a well-formed UTF-8 character.
bool isUtf8(std::string_view s);

// Number of bytes of the well-formed character starting at s[pos]; 0 when none starts there
// (a bad byte, a cut or overlong sequence, or pos at the end).
std::size_t utf8SequenceLength(std::string_view s, std::size_t pos);

// Characters of well-formed UTF-8 text: how many there are, and the first `count` of them
// (all of `s` when it has fewer).
std::size_t utf8Length(std::string_view s);
std::string_view utf8Prefix(std::string_view s, std::size_t count);

}  // namespace rqc::protocol::wire
