#pragma once
// Calendar days for every layer: the database's "YYYY-MM-DD" text and the wire's serial
// dates (days since 30 December 1899, the fraction being the time of day), on std::chrono.
// A serial date's day is its whole part truncated towards zero and its time of day the
// fraction's size: -1.25 is 29 December 1899 at 06:00.

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
// The local time now as the database records it: "YYYY-MM-DD HH:MM:SS".
std::string localTimestamp();

// The serial date of `d` at `timeOfDay` (a fraction of a day in [0, 1)).
double serialOf(Day d, double timeOfDay = 0);
// The day a finite serial date falls on.
Day dayOfSerial(double serial);
// The time of day of a finite serial date, in [0, 1).
double timeOfDayOfSerial(double serial);

}  // namespace rqc::dates
