#include "appserver/server_config.h"
#include "appserver/proxy_header.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

using rqc::appserver::applyConfigFile;
using rqc::appserver::applySetting;
using rqc::appserver::ConfigError;
using rqc::appserver::parseCommandLine;
using rqc::appserver::ServerConfig;

namespace {

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ConfigError& e) {
        return e.what();
    }
    return "";
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

}  // namespace

TEST(ServerConfig, DefaultsAreLoopbackPort4100AndTheEmbeddedDatabase) {
    ServerConfig c;
    std::string help;
    ASSERT_TRUE(parseCommandLine({}, c, help));
    EXPECT_EQ(c.host, "127.0.0.1");
    EXPECT_EQ(c.port, 4100);
    EXPECT_EQ(c.db, "var/rqc.db");
    EXPECT_TRUE(c.usesDefaultDatabase());
    EXPECT_GE(c.threads, 4u);
    EXPECT_EQ(c.maxFrame, 64u * 1024 * 1024);
}

TEST(ServerConfig, ValidSettingsAreStored) {
    struct Case {
        const char* key;
        const char* value;
        std::function<bool(const ServerConfig&)> check;
    };
    const Case cases[] = {
        {"listen", "127.0.0.1:0", [](auto& c) { return c.host == "127.0.0.1" && c.port == 0; }},
        {"listen", "[::1]:5000", [](auto& c) { return c.host == "::1" && c.port == 5000; }},
        {"listen", "localhost:65535",
         [](auto& c) { return c.host == "127.0.0.1" && c.port == 65535; }},
        {"threads", "1", [](auto& c) { return c.threads == 1; }},
        {"threads", "256", [](auto& c) { return c.threads == 256; }},
        {"max-frame", "4096", [](auto& c) { return c.maxFrame == 4096; }},
        {"max-frame", "8K", [](auto& c) { return c.maxFrame == 8192; }},
        {"max-frame", "2M", [](auto& c) { return c.maxFrame == 2u * 1024 * 1024; }},
        {"log-level", "warn", [](auto& c) { return c.logLevel == "warn"; }},
        {"db", "postgresql://postgres@127.0.0.1:5432/x",
         [](auto& c) { return c.db == "postgresql://postgres@127.0.0.1:5432/x"; }},
        {"port-file", "/tmp/p", [](auto& c) { return c.portFile == "/tmp/p"; }},
        {"trusted-proxies", "10.0.0.0/24, 127.0.0.1",
         [](auto& c) {
             using asio::ip::make_address;
             const auto& t = c.trustedProxies;
             return t.contains(make_address("10.0.0.200")) &&
                    !t.contains(make_address("10.0.1.1")) &&
                    t.contains(make_address("127.0.0.1")) &&
                    t.contains(make_address("::ffff:127.0.0.1")) &&
                    !t.contains(make_address("127.0.0.2"));
         }},
        {"trusted-proxies", "fd00::/8",
         [](auto& c) { return c.trustedProxies.contains(asio::ip::make_address("fd12::1")); }},
        {"login-timeout", "3s", [](auto& c) { return c.loginTimeout.count() == 3000; }},
        {"max-unauthenticated-per-peer", "2",
         [](auto& c) { return c.maxUnauthenticatedPerPeer == 2; }},
        {"write-wait", "90s", [](auto& c) { return c.writeWait.count() == 90000; }},
    };
    for (const auto& k : cases) {
        ServerConfig c;
        applySetting(c, k.key, k.value);
        EXPECT_TRUE(k.check(c)) << k.key << " = " << k.value;
    }
}

TEST(ServerConfig, BadValuesAreRefusedWithAMessageNamingTheFault) {
    struct Case {
        const char* key;
        const char* value;
        const char* message;
    };
    const Case cases[] = {
        {"listen", "127.0.0.1", "HOST:PORT"},
        {"listen", "127.0.0.1:65536", "not a number from 0 to 65535"},
        {"listen", "127.0.0.1:-1", "not a number from 0 to 65535"},
        {"listen", "example.org:80", "is not an IP address"},
        {"listen", ":80", "is not an IP address"},
        {"threads", "0", "from 1 to 256"},
        {"threads", "4x", "from 1 to 256"},
        {"threads", "257", "from 1 to 256"},
        {"max-frame", "100", "from 1024"},
        {"max-frame", "2G", "from 1024"},
        {"max-frame", "99999999999999999999", "from 1024"},
        {"log-level", "loud", "must be one of"},
        {"db", "", "must name"},
        {"colour", "blue", "unknown key 'colour'"},
        {"trusted-proxies", "10.0.0.0/33", "'10.0.0.0/33' has no valid prefix length"},
        {"trusted-proxies", "balancer.local", "'balancer.local' is not an IP address"},
        {"trusted-proxies", "10.0.0.1,,10.0.0.2", "empty entry"},
        {"login-timeout", "0", "login-timeout must be a duration"},
    };
    for (const auto& k : cases) {
        ServerConfig c;
        const ServerConfig before = c;
        std::string msg = errorOf([&] { applySetting(c, k.key, k.value); });
        EXPECT_NE(msg.find(k.message), std::string::npos)
            << k.key << " = " << k.value << " gave: " << msg;
        EXPECT_EQ(c.port, before.port);
        EXPECT_EQ(c.threads, before.threads);
        EXPECT_EQ(c.maxFrame, before.maxFrame);
    }
}

TEST(ServerConfig, FileIsReadWithCommentsAndBlanks) {
    rqc::test::TempDir dir;
    const std::string path = dir.file("server.conf");
    writeFile(path,
              "# rqc-appserver\n"
              "\n"
              "db = /srv/rqc.db\n"
              "  listen=127.0.0.1:4200  \n"
              "threads = 6\r\n"
              "max-frame = 1M\n"
              "log-level = debug\n"
              "port-file = /tmp/rqc.port\n"
              "health-listen = localhost:4300\n");
    ServerConfig c;
    applyConfigFile(c, path);
    EXPECT_EQ(c.healthHost, "127.0.0.1");
    EXPECT_EQ(c.healthPort, 4300);
    EXPECT_EQ(c.db, "/srv/rqc.db");
    EXPECT_EQ(c.port, 4200);
    EXPECT_EQ(c.threads, 6u);
    EXPECT_EQ(c.maxFrame, 1024u * 1024);
    EXPECT_EQ(c.logLevel, "debug");
    EXPECT_EQ(c.portFile, "/tmp/rqc.port");
}

TEST(ServerConfig, FileErrorsNameTheFileAndLine) {
    rqc::test::TempDir dir;
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"threads = 4\nbogus = 1\n", ":2: unknown key 'bogus'"},
        {"# c\nthreads\n", ":2: expected 'key = value'"},
        {"threads = 4\n\nthreads = 5\n", ":3: key 'threads' already set at line 1"},
        {"listen = 127.0.0.1:99999\n", ":1: listen port '99999'"},
        {"health-listen = 4300\n", ":1: health-listen must be HOST:PORT"},
        {"threads = many\n", ":1: threads must be a whole number"},
    };
    for (const auto& k : cases) {
        const std::string path = dir.file("bad.conf");
        writeFile(path, k.text);
        ServerConfig c;
        std::string msg = errorOf([&] { applyConfigFile(c, path); });
        EXPECT_NE(msg.find(path + k.message), std::string::npos) << msg;
    }
    ServerConfig c;
    EXPECT_NE(errorOf([&] {
                  applyConfigFile(c, dir.file("missing.conf"));
              }).find("cannot read configuration file"),
              std::string::npos);
}

TEST(ServerConfig, CommandLineOverridesTheFile) {
    rqc::test::TempDir dir;
    const std::string path = dir.file("server.conf");
    writeFile(path, "threads = 6\nlisten = 127.0.0.1:4200\ndb = from-file.db\n");
    ServerConfig c;
    std::string help;
    ASSERT_TRUE(parseCommandLine({"--threads", "2", "--config", path, "--db", "cli.db"}, c, help));
    EXPECT_EQ(c.threads, 2u);
    EXPECT_EQ(c.port, 4200);
    EXPECT_EQ(c.db, "cli.db");
}

TEST(ServerConfig, CommandLineFaultsAreReported) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"--threads", "zero"}, "option --threads: threads must be a whole number"},
        {{"--listen", "nowhere"}, "option --listen: listen must be HOST:PORT"},
        {{"--frobnicate"}, "command line:"},
        {{"--config", "/nonexistent/rqc.conf"}, "cannot read configuration file"},
    };
    for (const auto& k : cases) {
        ServerConfig c;
        std::string help;
        std::string msg = errorOf([&] { parseCommandLine(k.args, c, help); });
        EXPECT_NE(msg.find(k.message), std::string::npos) << msg;
    }
}

TEST(ServerConfig, HelpListsEveryOption) {
    ServerConfig c;
    std::string help;
    EXPECT_FALSE(parseCommandLine({"--help"}, c, help));
    for (const char* option : {"--config", "--db", "--listen", "--threads", "--max-frame",
                               "--log-level", "--port-file"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

namespace {

// A PROXY v2 header: signature, version and command, family and transport, length, body.
std::vector<std::byte> proxyHeader(unsigned versionCommand, unsigned familyTransport,
                                   std::vector<unsigned> body, int lengthDelta = 0) {
    std::vector<unsigned> raw = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,           0x0A,
                                 0x51, 0x55, 0x49, 0x54, 0x0A, versionCommand, familyTransport};
    const auto length = static_cast<unsigned>(static_cast<int>(body.size()) + lengthDelta);
    raw.push_back(length >> 8);
    raw.push_back(length & 0xFF);
    raw.insert(raw.end(), body.begin(), body.end());
    std::vector<std::byte> out;
    for (unsigned b : raw)
        out.push_back(static_cast<std::byte>(b));
    return out;
}

TEST(ProxyHeader, MalformedHeadersAreRefusedAndGoodOnesNameTheClient) {
    const std::vector<unsigned> ipv4 = {10, 0, 0, 7, 10, 0, 0, 1, 0x1F, 0x90, 0x10, 0x04};
    struct Case {
        const char* name;
        std::vector<std::byte> bytes;
        const char* fault;  // nullptr: accepted
        const char* address;
    } cases[] = {
        {"IPv4 client", proxyHeader(0x21, 0x11, ipv4), nullptr, "10.0.0.7"},
        {"LOCAL probe", proxyHeader(0x20, 0x00, {}), nullptr, ""},
        {"UDP: the balancer's own", proxyHeader(0x21, 0x12, ipv4), nullptr, ""},
        {"version 1", proxyHeader(0x11, 0x11, ipv4), "not a PROXY protocol version 2", ""},
        {"unknown command", proxyHeader(0x25, 0x11, ipv4), "unknown command 5", ""},
        {"addresses cut short", proxyHeader(0x21, 0x11, {10, 0, 0, 7}), "too short", ""},
        {"IPv6 in IPv4's room", proxyHeader(0x21, 0x21, ipv4), "too short", ""},
        {"announces more than it has", proxyHeader(0x21, 0x11, ipv4, 8), "shorter than", ""},
        {"announces over 4 KiB", proxyHeader(0x21, 0x11, ipv4, 5000), "not a PROXY", ""},
        {"a stray signature", proxyHeader(0x21, 0x11, ipv4), "not a PROXY", ""},
    };
    cases[9].bytes[3] = std::byte{0};
    for (const auto& c : cases) {
        std::string fault;
        const auto h = rqc::appserver::parseProxyHeader(c.bytes, fault);
        if (c.fault == nullptr) {
            ASSERT_TRUE(h.has_value()) << c.name << ": " << fault;
            EXPECT_EQ(h->address ? h->address->to_string() : "", c.address) << c.name;
        } else {
            EXPECT_FALSE(h.has_value()) << c.name;
            EXPECT_NE(fault.find(c.fault), std::string::npos) << c.name << ": " << fault;
        }
    }
}

}  // namespace
