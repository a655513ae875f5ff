#pragma once
// Calendar days for every layer: the database's "YYYY-MM-DD" text and the wire's serial
// dates (days since 30 December 1899, the fraction being the time of day), on std::chrono.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace rqc::dates {

using Day = std::chrono::sys_days;

// Day 0 of a serial date.
inline constexpr Day kSerialEpoch{std::chrono::year{1899} / 12 / 30};

// "YYYY-MM-DD".
std::string isoDate(Day d);
// Parses "YYYY-MM-DD" strictly (four, two and two digits, a real calendar date); nullopt
// otherwise.
std::optional<Day> tryParseIsoDate(std::string_view text);
// As tryParseIsoDate; throws std::invalid_argument naming the text instead of nullopt.
Day parseIsoDate(std::string_view text);
Day localToday();

// The serial date of the start of `d`.
double serialOf(Day d);
// The day a finite serial date falls on, its fraction dropped towards zero (the day part as
// the wire defines it).
Day dayOfSerial(double serial);

}  // namespace rqc::dates
