// rqc-call: logs in as an operator, makes one late-bound call on a remote object of an
// application server and prints the result. Exit status: 0 success, 1 server error, 2 bad
// command line or no operator, 3 connection failure, 4 login refused.

#include <pwd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "protocol/client.h"
#include "protocol/numbers.h"
#include "protocol/protocol.h"
#include "secret_prompt.h"

namespace proto = rqc::protocol;

namespace {

constexpr int kServerError = 1;
constexpr int kUsageError = 2;
constexpr int kConnectionError = 3;
constexpr int kLoginRefused = 4;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
};

Endpoint parseServer(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw UsageError("--server '" + text + "': expected HOST:PORT");
    }
    Endpoint e;
    e.host = text.substr(0, colon);
    if (e.host.size() >= 2 && e.host.front() == '[' && e.host.back() == ']') {
        e.host = e.host.substr(1, e.host.size() - 2);
    }
    const std::string port = text.substr(colon + 1);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value < 1 ||
        value > 65535) {
        throw UsageError("--server '" + text + "': port '" + port +
                         "' is not a number from 1 to 65535");
    }
    e.port = static_cast<std::uint16_t>(value);
    return e;
}

proto::Argument parseArgument(const std::string& text, std::size_t position) {
    const std::string where = "argument " + std::to_string(position) + " '" + text + "'";
    if (text.size() < 2 || text[1] != ':') {
        throw UsageError(where + ": expected s:TEXT, r:TEXT or d:YYYY-MM-DD");
    }
    const std::string value = text.substr(2);
    switch (text[0]) {
        case 's':
            return proto::Argument::byValue(value);
        case 'r':
            return proto::Argument::byRef(value);
        case 'd':
            if (auto days = proto::dateFromIso(value))
                return proto::Argument::ofDate(*days);
            throw UsageError(where + ": '" + value + "' is not a date YYYY-MM-DD");
        default:
            throw UsageError(where + ": unknown kind '" + text.substr(0, 1) +
                             "' (s text by value, r text by reference, d date)");
    }
}

std::string operatingSystemUser() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr) {
        return pw->pw_name;
    }
    const char* env = std::getenv("USER");
    return env != nullptr ? env : "unknown";
}

// Tab-separated cell: backslash, tab, newline and carriage return escaped; null as \N.
void printCell(std::string& line, const proto::DataPacket::Cell& cell) {
    if (!cell) {
        line += "\\N";
        return;
    }
    for (char c : *cell) {
        switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                line += c;
        }
    }
}

void printPacket(const proto::DataPacket& p) {
    std::string line;
    for (std::size_t f = 0; f < p.fields.size(); ++f) {
        if (f > 0)
            line += '\t';
        printCell(line, p.fields[f].name);
    }
    line += '\n';
    std::cout << line;
    for (std::size_t r = 0; r < p.rowCount(); ++r) {
        line.clear();
        for (std::size_t f = 0; f < p.fields.size(); ++f) {
            if (f > 0)
                line += '\t';
            printCell(line, p.cell(r, f));
        }
        line += '\n';
        std::cout << line;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Calls a method of a remote object on an application server and prints the result."};
    std::string server;
    std::string object;
    std::string method;
    std::vector<std::string> rawArgs;
    std::string user = operatingSystemUser();
    std::string timeoutText = "600";
    std::string caFile;
    std::string serverName;
    // The one place the operator comes from the environment; the password is readSecret's.
    const char* envOperator = std::getenv("RQC_OPERATOR");
    std::string operatorCode = envOperator != nullptr ? envOperator : "";
    app.add_option("--server", server, "application server as HOST:PORT")->required();
    app.add_option("--operator", operatorCode,
                   "operator to log in as (default: RQC_OPERATOR); the password comes from "
                   "RQC_PASSWORD or is asked for, never on the command line");
    app.add_option("--user", user,
                   "client user name sent with the call, for the log (default: the OS user); "
                   "the server records the logged-in operator");
    app.add_option(
        "--timeout", timeoutText,
        "seconds the login, and then the call, may each take from sending it to the last "
        "byte of its answer, a decimal such as 600 or 2.5 (default 600)");
    app.add_option("--ca-file", caFile,
                   "PEM file of the CA the server's certificate must chain to; connects over "
                   "TLS (without it: plain TCP, to a loopback address only)");
    app.add_option("--server-name", serverName,
                   "name the server's certificate must carry (default: the host of --server)");
    app.add_option("object", object, "registered name of the remote object")->required();
    app.add_option("method", method, "method name")->required();
    app.add_option("args", rawArgs,
                   "arguments in call order: s:TEXT (text by value), r:TEXT (text by "
                   "reference), d:YYYY-MM-DD (date)");
    app.footer(
        "Prints a text result on one line, a data packet as tab-separated lines with the field "
        "names first (\\t \\n \\r \\\\ escaped, null as \\N), nothing for an empty result; then "
        "'ref N: TEXT' for each by-reference argument N (1-based).\n"
        "Exit status: 0 success, 1 server error, 2 bad command line or no operator, 3 connection "
        "failure, 4 login refused.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "rqc-call: " << e.what() << "\n";
        return kUsageError;
    }

    proto::CallRequest request;
    Endpoint endpoint;
    std::chrono::milliseconds timeout{};
    try {
        endpoint = parseServer(server);
        const auto seconds = proto::parseCanonicalDecimal(timeoutText);
        if (!seconds || *seconds < 0.001 || *seconds > 86400) {
            throw UsageError("--timeout '" + timeoutText +
                             "': expected seconds from 0.001 to 86400, such as 600 or 2.5");
        }
        timeout = std::chrono::milliseconds(static_cast<long long>(*seconds * 1000));
        if (!serverName.empty() && caFile.empty())
            throw UsageError("--server-name needs --ca-file");
        if (object.empty())
            throw UsageError("the object name is empty");
        if (method.empty())
            throw UsageError("the method name is empty");
        if (rawArgs.size() > 255)
            throw UsageError("at most 255 arguments");
        for (std::size_t i = 0; i < rawArgs.size(); ++i) {
            request.args.push_back(parseArgument(rawArgs[i], i + 1));
        }
        request.object = object;
        request.user = user;
        request.descriptor = proto::CallDescriptor::forArguments(method, request.args);
        if (std::string problem = proto::validateCall(request); !problem.empty()) {
            throw UsageError(problem);
        }
        if (operatorCode.empty()) {
            throw UsageError(
                "nenhum operador para o login: informe --operator CÓDIGO ou defina "
                "RQC_OPERATOR (a senha vem de RQC_PASSWORD ou é pedida no terminal)");
        }
    } catch (const UsageError& e) {
        std::cerr << "rqc-call: " << e.what() << "\n";
        return kUsageError;
    }

    proto::CallResult result;
    try {
        proto::Client client;
        auto password = rqc::tools::readSecret("Senha de " + operatorCode + ": ");
        if (!password) {
            std::cerr << "rqc-call: no password for " << operatorCode
                      << " (RQC_PASSWORD, the terminal or standard input)\n";
            return kUsageError;
        }
        client.setLogin(operatorCode, *password);
        client.setIoTimeout(timeout);
        client.setTls({caFile, serverName});
        client.connect(endpoint.host, endpoint.port);
        result = client.call(request);
    } catch (const proto::LoginRefused& e) {
        std::cerr << "rqc-call: login refused: " << e.what() << "\n";
        return kLoginRefused;
    } catch (const proto::TransportError& e) {
        std::cerr << "rqc-call: " << e.what() << "\n";
        return kConnectionError;
    }

    switch (result.kind) {
        case proto::CallResult::Kind::Error:
            std::cerr << "rqc-call: server error: " << result.text << "\n";
            return kServerError;
        case proto::CallResult::Kind::Empty:
            break;
        case proto::CallResult::Kind::Text:
            std::cout << result.text << "\n";
            break;
        case proto::CallResult::Kind::Packet:
            printPacket(result.packet);
            break;
    }
    proto::applyByRef(result, request.args);
    for (std::size_t i = 0; i < request.args.size(); ++i) {
        if (request.args[i].isByRef()) {
            std::cout << "ref " << i + 1 << ": " << request.args[i].text << "\n";
        }
    }
    std::cout.flush();
    return 0;
}
