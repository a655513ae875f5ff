#include "suitedb/dates.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace rqc::suitedb {

std::string isoDate(Date d) {
    std::chrono::year_month_day ymd{d};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return buf;
}

Date parseIsoDate(std::string_view text) {
    auto bad = [&] {
        return std::invalid_argument("'" + std::string(text) +
                                     "' is not a valid date in the form YYYY-MM-DD");
    };
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        throw bad();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9'))
            throw bad();
    }
    auto number = [&](std::size_t at, std::size_t len) {
        int v = 0;
        auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + len, v);
        if (ec != std::errc() || end != text.data() + at + len)
            throw bad();
        return v;
    };
    std::chrono::year_month_day ymd{std::chrono::year(number(0, 4)),
                                    std::chrono::month(static_cast<unsigned>(number(5, 2))),
                                    std::chrono::day(static_cast<unsigned>(number(8, 2)))};
    if (!ymd.ok())
        throw bad();
    return Date(ymd);
}

Date localToday() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return Date(
        std::chrono::year_month_day{std::chrono::year(local.tm_year + 1900),
                                    std::chrono::month(static_cast<unsigned>(local.tm_mon + 1)),
                                    std::chrono::day(static_cast<unsigned>(local.tm_mday))});
}

}  // namespace rqc::suitedb
