#pragma once
// Calendar dates as the database stores them ("YYYY-MM-DD").

#include <chrono>
#include <string>
#include <string_view>

namespace rqc::suitedb {

using Date = std::chrono::sys_days;

std::string isoDate(Date d);
// Parses "YYYY-MM-DD"; throws std::invalid_argument naming the text when it is not a valid
// calendar date in that form.
Date parseIsoDate(std::string_view text);
Date localToday();

}  // namespace rqc::suitedb
