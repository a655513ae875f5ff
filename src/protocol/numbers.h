#pragma once
// Strict parsing of the canonical number texts that travel in data packets and on command
// lines: an optional '-', digits without leading zeros and, for decimals, an optional '.'
// followed by digits. Nothing else is a number: no '+', blanks, exponents, "nan" or "inf".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rqc::protocol {

// "0", "42", "-7"; not "007", "-0", "+1", " 1", "1e5". nullopt also outside int64.
std::optional<std::int64_t> parseCanonicalInteger(std::string_view text);
// A canonical integer (or "-0"), or one with a fraction: "0.5", "-12.25", "3.0"; not ".5",
// "1.", "1e5".
// nullopt also when the value is not finite as a double.
std::optional<double> parseCanonicalDecimal(std::string_view text);

// The shortest text in that form that parseCanonicalDecimal reads back as `value` (no
// exponent: 100000 is "100000"). `value` must be finite.
std::string formatCanonicalDecimal(double value);

}  // namespace rqc::protocol
