#include "log_event.h"

#include <spdlog/details/log_msg.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace rqc::appserver {

namespace {

// Set while logEvent's line goes through the logger: sinks format on the logging thread.
thread_local const LogFields* t_fields = nullptr;

void appendJsonString(spdlog::memory_buf_t& out, std::string_view s) {
    out.push_back('"');
    for (const char c : s) {
        switch (c) {
            case '"':
                out.append(std::string_view("\\\""));
                break;
            case '\\':
                out.append(std::string_view("\\\\"));
                break;
            case '\n':
                out.append(std::string_view("\\n"));
                break;
            case '\t':
                out.append(std::string_view("\\t"));
                break;
            case '\r':
                out.append(std::string_view("\\r"));
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out.append(std::string_view(escaped));
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

void appendField(spdlog::memory_buf_t& out, std::string_view key, std::string_view value) {
    if (value.empty())
        return;
    out.push_back(',');
    appendJsonString(out, key);
    out.push_back(':');
    appendJsonString(out, value);
}

class JsonFormatter final : public spdlog::formatter {
  public:
    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
        using namespace std::chrono;
        const auto since = msg.time.time_since_epoch();
        const std::time_t seconds = duration_cast<std::chrono::seconds>(since).count();
        const auto millis = duration_cast<milliseconds>(since).count() % 1000;
        std::tm utc{};
        ::gmtime_r(&seconds, &utc);
        char time[40];
        const std::size_t n = std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &utc);
        std::snprintf(time + n, sizeof time - n, ".%03lldZ", static_cast<long long>(millis));

        const LogFields* f = t_fields;
        dest.append(std::string_view("{\"time\":"));
        appendJsonString(dest, time);
        const auto level = spdlog::level::to_string_view(msg.level);
        appendField(dest, "level", std::string_view(level.data(), level.size()));
        appendField(dest, "event", f != nullptr && !f->event.empty() ? f->event : "log");
        if (f != nullptr) {
            appendField(dest, "operator", f->operatorCode);
            appendField(dest, "client", f->client);
            appendField(dest, "method", f->method);
            if (f->durationMs) {
                char ms[32];
                std::snprintf(ms, sizeof ms, ",\"duration_ms\":%.3f", *f->durationMs);
                dest.append(std::string_view(ms));
            }
            appendField(dest, "outcome", f->outcome);
            appendField(dest, "occurrence", f->occurrence);
        }
        appendField(dest, "message", std::string_view(msg.payload.data(), msg.payload.size()));
        dest.append(std::string_view("}\n"));
    }

    std::unique_ptr<spdlog::formatter> clone() const override {
        return std::make_unique<JsonFormatter>();
    }
};

}  // namespace

void logEvent(spdlog::level::level_enum level, const LogFields& fields, std::string_view text) {
    if (!spdlog::should_log(level))
        return;
    t_fields = &fields;
    spdlog::log(level, "{}", text);
    t_fields = nullptr;
}

std::unique_ptr<spdlog::formatter> makeJsonFormatter() {
    return std::make_unique<JsonFormatter>();
}

}  // namespace rqc::appserver
