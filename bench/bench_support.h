#pragma once
// What the benchmarks share beyond tests/support: where the built programs are, and timing
// figures.

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace rqc::bench {

// The environment variable `name`, or `fallback` when it is unset or empty.
inline std::string env(const char* name, const std::string& fallback = "") {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// Makes RQC_BIN_DIR, when it is not set, the bin folder beside this program's bench folder
// (DIR/bin for DIR/bench/NAME), where rqc::test::ServerProcess finds rqc-appserver.
inline void useBuiltPrograms() {
    if (std::getenv("RQC_BIN_DIR") != nullptr)
        return;
    const auto bin =
        std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
    ::setenv("RQC_BIN_DIR", bin.c_str(), 1);
}

// Median and 99th percentile of durations in microseconds.
struct Spread {
    double median = 0, p99 = 0, min = 0;
};

inline Spread spread(std::vector<double> us) {
    if (us.empty())
        return {};
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)], us.front()};
}

// CPU time (user + system) a process has used so far, in milliseconds (10 ms resolution).
inline double processCpuMs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::size_t pos = line.rfind(')');
    if (pos == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(pos + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

inline double threadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

template <class F>
double microseconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace rqc::bench
