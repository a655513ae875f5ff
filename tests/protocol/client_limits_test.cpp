// The client facing a hostile server: announced sizes are not trusted, and number cells are
// read strictly.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "protocol/client.h"
#include "protocol/numbers.h"
#include "protocol/protocol.h"

namespace {

using namespace rqc::protocol;

long peakRssKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// A one-connection loopback server that reads the call, writes `answer` (a byte every
// `perByte` when set, until the client goes away) and closes.
class FakeServer {
  public:
    explicit FakeServer(std::vector<std::byte> answer,
                        std::chrono::milliseconds perByte = std::chrono::milliseconds(0))
        : m_answer(std::move(answer)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this, perByte] {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            char buf[4096];
            ::recv(fd, buf, sizeof buf, 0);
            if (perByte.count() == 0) {
                ::send(fd, m_answer.data(), m_answer.size(), MSG_NOSIGNAL);
            } else {
                for (std::byte b : m_answer) {
                    if (::send(fd, &b, 1, MSG_NOSIGNAL) != 1)
                        break;
                    std::this_thread::sleep_for(perByte);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::close(fd);
        });
    }
    ~FakeServer() {
        m_thread.join();
        ::close(m_listen);
    }
    std::uint16_t port() const { return m_port; }

  private:
    std::vector<std::byte> m_answer;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

CallRequest anyCall() {
    CallRequest c;
    c.object = "Obj";
    c.user = "u";
    c.descriptor = CallDescriptor::forArguments("Get", {});
    return c;
}

TEST(ClientLimits, AHugeAnnouncedAnswerIsRefusedWithoutAllocatingIt) {
    // Frame of 60 MiB announced; a result of a packet of one field and 15 M rows begins, and
    // the server closes after a few bytes.
    DataPacket p;
    p.fields.push_back({"F", FieldType::Text, 1, ""});
    std::vector<std::byte> body = encodeResult(CallResult::ofPacket(p));
    body.resize(body.size() - 5);  // drop row count and by-reference count
    for (std::uint32_t v : {15u * 1024 * 1024, 0xFFFFFFFFu})
        for (int i = 0; i < 4; ++i)
            body.push_back(static_cast<std::byte>(v >> (8 * i)));
    std::vector<std::byte> answer;
    appendFrameHeader(answer, 60u * 1024 * 1024);
    answer.insert(answer.end(), body.begin(), body.end());

    FakeServer server(answer);
    const long before = peakRssKiB();
    Client client;
    client.connect("127.0.0.1", server.port());
    EXPECT_THROW(client.call(anyCall()), TransportError);
    EXPECT_LT(peakRssKiB() - before, 16 * 1024)
        << "peak RSS grew by " << peakRssKiB() - before << " KiB";
    EXPECT_FALSE(client.isOpen());
}

// A server that sends its answer a byte at a time cannot stretch a call past its timeout.
TEST(ClientLimits, TheTimeoutBoundsTheWholeCall) {
    std::vector<std::byte> answer;
    appendFrameHeader(answer, 40);
    answer.resize(answer.size() + 40, std::byte{0});
    FakeServer server(answer, std::chrono::milliseconds(100));
    Client client;
    client.connect("127.0.0.1", server.port());
    client.setIoTimeout(std::chrono::milliseconds(500));
    const auto t0 = std::chrono::steady_clock::now();
    try {
        client.call(anyCall());
        ADD_FAILURE() << "a call of 4 s ended within a 0.5 s timeout";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.fault(), TransportFault::TimedOut) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

// A hostile server's 64 MiB login answer is refused before it is read, and its 64 MiB answer
// of null cells before they are built: the client's memory stays within a few times the frame.
TEST(ClientLimits, DecodingTakesAtMostAFewTimesTheAnswersBytes) {
    constexpr std::uint32_t kHuge = 64u * 1024 * 1024 - 64;
    {
        std::vector<std::byte> answer;
        appendFrameHeader(answer, kHuge);
        const auto body = encodeResult(CallResult::error(std::string(kHuge - 16, 'x')));
        answer.insert(answer.end(), body.begin(), body.end());
        FakeServer server(std::move(answer));
        const long before = peakRssKiB();
        Client client;
        client.connect("127.0.0.1", server.port());
        EXPECT_THROW(client.login("COMP001", "senha-qualquer"), TransportError);
        EXPECT_LT(peakRssKiB() - before, 8 * 1024) << "KiB more for a refused login answer";
    }
    DataPacket p;
    p.fields.push_back({"F", FieldType::Text, 1, ""});
    std::vector<std::byte> answer;
    appendFrameHeader(answer, kHuge);
    const auto start = encodeResult(CallResult::ofPacket(p));
    answer.insert(answer.end(), start.begin(), start.end() - 5);  // up to the row count
    const std::uint32_t rows = (kHuge - static_cast<std::uint32_t>(start.size()) - 1) / 4;
    for (int i = 0; i < 4; ++i)
        answer.push_back(static_cast<std::byte>(rows >> (8 * i)));
    answer.resize(answer.size() + std::size_t{rows} * 4, std::byte{0xFF});  // null cells
    answer.push_back(std::byte{0});                                         // no by-reference
    const std::uint32_t length = static_cast<std::uint32_t>(answer.size() - 4);
    for (int i = 0; i < 4; ++i)
        answer[static_cast<std::size_t>(i)] = static_cast<std::byte>(length >> (8 * i));
    FakeServer server(std::move(answer));
    const long before = peakRssKiB();
    Client client;
    client.connect("127.0.0.1", server.port());
    try {
        const CallResult r = client.call(anyCall());
        EXPECT_LE(r.packet.rowCount(), rows);
    } catch (const TransportError&) {
        // refused: within the bound as well
    }
    EXPECT_LT(peakRssKiB() - before, long{kDecodedBytesPerByte} * (length / 1024))
        << "KiB more for an answer of " << length << " bytes";
    EXPECT_LT(peakRssKiB() - before, 3 * (length / 1024)) << "null cells are refused undecoded";
}

TEST(StrictNumbers, OnlyCanonicalTextsAreNumbers) {
    struct Case {
        const char* text;
        bool integer;
        bool decimal;
    };
    const Case cases[] = {
        {"0", true, true},      {"42", true, true},
        {"-7", true, true},     {"-12.25", false, true},
        {"0.5", false, true},   {"3.0", false, true},
        {"007", false, false},  {"-0", false, true},
        {"+1", false, false},   {" 1", false, false},
        {"1 ", false, false},   {"1e5", false, false},
        {"nan", false, false},  {"inf", false, false},
        {"-inf", false, false}, {".5", false, false},
        {"1.", false, false},   {"", false, false},
        {"-", false, false},    {"0x10", false, false},
        {"00.5", false, false}, {"9223372036854775808", false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseCanonicalInteger(c.text).has_value(), c.integer) << "'" << c.text << "'";
        EXPECT_EQ(parseCanonicalDecimal(c.text).has_value(), c.decimal) << "'" << c.text << "'";
    }
    EXPECT_EQ(parseCanonicalInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseCanonicalDecimal("-12.25"), -12.25);
}

TEST(StrictNumbers, FormattedFloatsReadBackExactly) {
    for (double v : {0.0, 100000.0, 1e21, -12.25, 0.1, 2.5e-7, 123456.789}) {
        const std::string text = formatCanonicalDecimal(v);
        EXPECT_EQ(parseCanonicalDecimal(text), v) << text;
    }
    EXPECT_EQ(formatCanonicalDecimal(100000.0), "100000");
}

TEST(StrictNumbers, ADataPacketRefusesNonCanonicalNumberCells) {
    const std::pair<FieldType, const char*> cases[] = {
        {FieldType::Integer, "007"}, {FieldType::Integer, "+1"}, {FieldType::Integer, "1e5"},
        {FieldType::Float, "nan"},   {FieldType::Float, "inf"},  {FieldType::Float, "1e5"},
        {FieldType::Float, " 1"},
    };
    for (const auto& [type, text] : cases) {
        DataPacket p;
        p.fields.push_back({"N", type, 0, ""});
        p.addRow({std::string(text)});
        EXPECT_THROW(decodeResult(encodeResult(CallResult::ofPacket(p))), DecodeError) << text;
    }
}

}  // namespace
