#include "dates/dates.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace rqc::dates {

using namespace std::chrono;

namespace {

// Value of the `n` digits at text[at], or -1 when one of them is not a digit.
int digits(std::string_view text, std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

std::string isoDate(Day d) {
    const year_month_day ymd{d};
    const int y = static_cast<int>(ymd.year());
    const unsigned m = static_cast<unsigned>(ymd.month());
    const unsigned dd = static_cast<unsigned>(ymd.day());
    if (y < 0 || y > 9999) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, dd);
        return buf;
    }
    const char out[10] = {static_cast<char>('0' + y / 1000),
                          static_cast<char>('0' + y / 100 % 10),
                          static_cast<char>('0' + y / 10 % 10),
                          static_cast<char>('0' + y % 10),
                          '-',
                          static_cast<char>('0' + m / 10),
                          static_cast<char>('0' + m % 10),
                          '-',
                          static_cast<char>('0' + dd / 10),
                          static_cast<char>('0' + dd % 10)};
    return std::string(out, sizeof out);
}

std::optional<Day> tryParseIsoDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    const int y = digits(text, 0, 4);
    const int m = digits(text, 5, 2);
    const int d = digits(text, 8, 2);
    if (y < 0 || m < 0 || d < 0)
        return std::nullopt;
    const year_month_day ymd{year(y), month(static_cast<unsigned>(m)),
                             day(static_cast<unsigned>(d))};
    if (!ymd.ok())
        return std::nullopt;
    return Day(ymd);
}

Day parseIsoDate(std::string_view text) {
    if (auto d = tryParseIsoDate(text))
        return *d;
    throw std::invalid_argument("'" + std::string(text) +
                                "' is not a valid date in the form YYYY-MM-DD");
}

Day localToday() {
    const std::tm local = localNow();
    return Day(year_month_day{year(local.tm_year + 1900),
                              month(static_cast<unsigned>(local.tm_mon + 1)),
                              day(static_cast<unsigned>(local.tm_mday))});
}

std::string localTimestamp() {
    const std::tm local = localNow();
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

double serialOf(Day d, double timeOfDay) {
    const auto whole = static_cast<double>((d - kSerialEpoch).count());
    return whole < 0 ? whole - timeOfDay : whole + timeOfDay;
}

Day dayOfSerial(double serial) {
    return kSerialEpoch + days(static_cast<long long>(std::trunc(serial)));
}

double timeOfDayOfSerial(double serial) {
    return std::abs(serial - std::trunc(serial));
}

}  // namespace rqc::dates
