#include "net_connection.h"

#include <pwd.h>
#include <unistd.h>

#include "protocol/client.h"
#include "protocol/protocol.h"

namespace proto = rqc::protocol;

namespace {

QString operatingSystemUser() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr) {
        return QString::fromLocal8Bit(pw->pw_name);
    }
    const QString env = qEnvironmentVariable("USER");
    return env.isEmpty() ? QStringLiteral("unknown") : env;
}

}  // namespace

TServerResult TServerResult::ofText(QString text) {
    TServerResult r;
    r.m_kind = Kind::Text;
    r.m_text = std::move(text);
    return r;
}

TServerResult TServerResult::ofError(QString message) {
    TServerResult r;
    r.m_kind = Kind::Error;
    r.m_text = std::move(message);
    return r;
}

TServerResult TServerResult::ofPacket(std::shared_ptr<const proto::DataPacket> packet) {
    TServerResult r;
    r.m_kind = Kind::Packet;
    r.m_packet = packet ? std::move(packet) : std::make_shared<const proto::DataPacket>();
    return r;
}

QString TServerResult::AsString() const {
    if (m_kind == Kind::Packet) {
        throw EServerError(
            "the application server returned a data packet where a text was "
            "expected");
    }
    return m_text;
}

const char* TServerResult::kindName(Kind k) {
    switch (k) {
        case Kind::Empty:
            return "nothing";
        case Kind::Text:
            return "a text";
        case Kind::Packet:
            return "a data packet";
        case Kind::Error:
            return "an error";
    }
    return "?";
}

TNetConnection::TNetConnection(QObject* parent)
    : QObject(parent),
      m_client(std::make_unique<proto::Client>()),
      m_userName(operatingSystemUser()) {}

TNetConnection::~TNetConnection() = default;

bool TNetConnection::Connected() const {
    return m_client->isOpen();
}

void TNetConnection::SetConnected(bool connected) {
    if (!connected) {
        m_client->close();
        return;
    }
    if (Connected())
        return;
    if (BeforeConnect)
        BeforeConnect(this);
    if (Host.trimmed().isEmpty()) {
        throw ENetError("cannot connect to " + ServerName.toStdString() + ": no host is set");
    }
    if (Port < 1 || Port > 65535) {
        throw ENetError("cannot connect to " + ServerName.toStdString() + ": port " +
                        std::to_string(Port) + " is not a valid port (1 to 65535)");
    }
    try {
        m_client->connect(Host.toStdString(), static_cast<std::uint16_t>(Port), m_connectTimeout);
    } catch (const proto::TransportError& e) {
        throw ENetError("application server " + ServerName.toStdString() + ": " + e.what());
    }
}

void TNetConnection::SetCallTimeout(std::chrono::milliseconds t) {
    m_client->setIoTimeout(t);
}

QString TNetConnection::describe() const {
    return ServerName + " at " + Host + ":" + QString::number(Port);
}

TServerResult TServerDispatch::Call(const QString& method, const std::vector<TServerArg>& args) {
    TNetConnection& c = *m_connection;
    if (!c.Connected()) {
        throw ENetError("cannot call " + method.toStdString() + ": not connected to " +
                        c.describe().toStdString());
    }
    proto::CallRequest request;
    request.object = c.ServerName.toStdString();
    request.user = c.m_userName.toStdString();
    request.args.reserve(args.size());
    for (const auto& a : args) {
        switch (a.kind()) {
            case TServerArg::Kind::Value:
                request.args.push_back(proto::Argument::byValue(a.text().toStdString()));
                break;
            case TServerArg::Kind::Ref:
                request.args.push_back(proto::Argument::byRef(a.text().toStdString()));
                break;
            case TServerArg::Kind::Date:
                request.args.push_back(proto::Argument::ofDate(a.date()));
                break;
        }
    }
    request.descriptor = proto::CallDescriptor::forArguments(method.toStdString(), request.args);

    proto::CallResult result;
    try {
        result = c.m_client->call(request);
    } catch (const proto::TransportError& e) {
        throw ENetError("call of " + method.toStdString() + " on " + c.ServerName.toStdString() +
                        " failed: " + e.what());
    }

    if (result.kind == proto::CallResult::Kind::Error) {
        if (c.ThrowException) {
            throw EServerError("application server error in " + method.toStdString() + ": " +
                               result.text);
        }
        return TServerResult::ofError(QString::fromStdString(result.text));
    }

    // The same rule as proto::applyByRef, onto the bound variables.
    for (const auto& [index, text] : result.byRef) {
        if (index < args.size() && args[index].kind() == TServerArg::Kind::Ref) {
            *args[index].variable() = QString::fromStdString(text);
        }
    }

    switch (result.kind) {
        case proto::CallResult::Kind::Text:
            return TServerResult::ofText(QString::fromStdString(result.text));
        case proto::CallResult::Kind::Packet:
            return TServerResult::ofPacket(
                std::make_shared<const proto::DataPacket>(std::move(result.packet)));
        default:
            return TServerResult();
    }
}
