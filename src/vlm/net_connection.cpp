#include "net_connection.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <set>
#include <thread>

#include "abort.h"
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

// The Portuguese words for why a connection could not be made, from the transport's text.
QString reasonOf(const std::string& technical) {
    auto has = [&](const char* s) { return technical.find(s) != std::string::npos; };
    if (has("refused"))
        return QStringLiteral("conexão recusada");
    if (has("timed out"))
        return QStringLiteral("tempo de espera esgotado");
    if (has("resolve"))
        return QStringLiteral("endereço não encontrado");
    if (has("unreachable") || has("No route"))
        return QStringLiteral("rede inacessível");
    if (has("reset"))
        return QStringLiteral("conexão reiniciada pelo servidor");
    return QStringLiteral("falha de rede");
}

[[noreturn]] void netError(const QString& text, const std::string& technical) {
    throw ENetError(vlm::withDetail(text, QString::fromStdString(technical)).toStdString());
}

// Drops user input to every object of the application while it lives; a close request is
// refused. Paint, expose, timer and posted events go on.
class InputBlocker : public QObject {
  public:
    InputBlocker() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputBlocker() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::NonClientAreaMouseButtonPress:
            case QEvent::NonClientAreaMouseButtonRelease:
            case QEvent::NonClientAreaMouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TouchCancel:
            case QEvent::TabletPress:
            case QEvent::TabletMove:
            case QEvent::TabletRelease:
            case QEvent::InputMethod:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
            case QEvent::NativeGesture:
            case QEvent::Gesture:
                return true;
            case QEvent::Close:
                e->ignore();
                return true;
            default:
                return false;
        }
    }
};

// Runs `work` to its end. On the application's thread, `work` runs on a worker thread while
// this one runs a local event loop behind an InputBlocker; elsewhere it runs right here.
// What `work` throws is rethrown here.
void waitLively(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    QEventLoop loop;
    InputBlocker blocker;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    while (!done && !QCoreApplication::closingDown()) {
        loop.exec();
    }
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

// TCP sockets of this process whose peer port is `port`.
std::set<int> socketsToPort(int port) {
    std::set<int> out;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return out;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0')
            continue;
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        if (::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &len) != 0)
            continue;
        int peerPort = -1;
        if (peer.ss_family == AF_INET)
            peerPort = ntohs(reinterpret_cast<const sockaddr_in&>(peer).sin_port);
        else if (peer.ss_family == AF_INET6)
            peerPort = ntohs(reinterpret_cast<const sockaddr_in6&>(peer).sin6_port);
        if (peerPort == port)
            out.insert(static_cast<int>(fd));
    }
    ::closedir(dir);
    return out;
}

// True when the peer has closed or reset the connection of `fd` (no wait).
bool peerHasClosed(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Sets a flag for the life of the object.
class FlagSet {
  public:
    explicit FlagSet(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagSet() { m_flag = false; }
    FlagSet(const FlagSet&) = delete;
    FlagSet& operator=(const FlagSet&) = delete;

  private:
    bool& m_flag;
};

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
            vlm::withDetail(QStringLiteral("O servidor de aplicação respondeu com uma tabela "
                                           "onde se esperava um texto. Informe o suporte."),
                            QStringLiteral("the application server returned a data packet "
                                           "where a text was expected"))
                .toStdString());
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

namespace {

std::pair<QString, QString>& sessionLogin() {
    static std::pair<QString, QString> login;
    return login;
}

std::pair<QString, QString>& defaultTls() {
    static std::pair<QString, QString> tls;
    return tls;
}

}  // namespace

void TNetConnection::SetLogin(const QString& operatorCode, const QString& password) {
    m_loginCode = operatorCode;
    m_loginPassword = password;
}

void TNetConnection::SetSessionLogin(const QString& operatorCode, const QString& password) {
    sessionLogin() = {operatorCode, password};
}

QString TNetConnection::SessionOperator() {
    return sessionLogin().first;
}

void TNetConnection::SetDefaultTls(const QString& caFile, const QString& serverName) {
    defaultTls() = {caFile, serverName};
}

bool TNetConnection::Connected() const {
    return m_client->isOpen();
}

void TNetConnection::SetConnected(bool connected) {
    if (!connected) {
        m_wanted = false;
        if (!m_calling)
            m_client->close();
        return;
    }
    if (!Connected())
        openClient();
    m_wanted = true;
}

void TNetConnection::openClient() {
    if (BeforeConnect)
        BeforeConnect(this);
    const std::string object = ServerName.toStdString();
    if (Host.trimmed().isEmpty()) {
        netError(QStringLiteral("O endereço do servidor de aplicação não está configurado. "
                                "Informe-o na configuração da suíte ([Servidor] Host)."),
                 "cannot connect to " + object + ": no host is set");
    }
    if (Port < 1 || Port > 65535) {
        netError(QStringLiteral("A porta %1 do servidor de aplicação não é válida (de 1 a "
                                "65535). Corrija a configuração da suíte ([Servidor] Porta).")
                     .arg(Port),
                 "cannot connect to " + object + ": port " + std::to_string(Port) +
                     " is not a valid port (1 to 65535)");
    }
    if (!m_loginCode.isEmpty()) {
        m_client->setLogin(m_loginCode.toStdString(), m_loginPassword.toStdString());
    } else if (!sessionLogin().first.isEmpty()) {
        m_client->setLogin(sessionLogin().first.toStdString(), sessionLogin().second.toStdString());
    }
    {
        const bool own = !TlsCaFile.isEmpty();
        const QString ca = own ? TlsCaFile : defaultTls().first;
        const QString name = own ? TlsServerName : defaultTls().second;
        m_client->setTls({ca.toStdString(), name.toStdString()});
    }
    const std::set<int> before = socketsToPort(Port);
    try {
        const std::string host = Host.toStdString();
        const auto port = static_cast<std::uint16_t>(Port);
        if (m_calling) {
            waitLively([&] { m_client->connect(host, port, m_connectTimeout); });
        } else {
            m_client->connect(host, port, m_connectTimeout);
        }
    } catch (const proto::LoginRefused& e) {
        m_socket = -1;
        throw ELoginRefused(e.what());
    } catch (const proto::TransportError& e) {
        m_socket = -1;
        netError(QStringLiteral("Não foi possível conectar ao servidor de aplicação %1 (%2). "
                                "Verifique se o servidor está em execução.")
                     .arg(endpoint(), reasonOf(e.what())),
                 "application server " + object + ": " + e.what());
    }
    // The client's socket is the one to this port that was not there before.
    std::set<int> fresh;
    for (int fd : socketsToPort(Port)) {
        if (before.count(fd) == 0)
            fresh.insert(fd);
    }
    m_socket = fresh.size() == 1 ? *fresh.begin() : -1;
}

void TNetConnection::ensureOpenFor(const QString& method) {
    if (m_client->isOpen() && m_socket >= 0 && peerHasClosed(m_socket))
        m_client->close();
    if (m_client->isOpen())
        return;
    const std::string technical =
        "cannot call " + method.toStdString() + ": not connected to " + describe().toStdString();
    if (!m_wanted) {
        netError(QStringLiteral("Não há conexão com o servidor de aplicação %1 para executar %2. "
                                "Feche a tela e abra-a novamente.")
                     .arg(endpoint(), method),
                 technical);
    }
    try {
        openClient();
    } catch (const ELoginRefused&) {
        throw;
    } catch (const ENetError& e) {
        throw ENetError(
            vlm::withDetail(
                QStringLiteral("A conexão com o servidor de aplicação foi perdida e não foi "
                               "possível restabelecê-la; %1 não foi enviado.")
                    .arg(method),
                QString::fromUtf8(e.what()))
                .toStdString());
    }
}

void TNetConnection::SetCallTimeout(std::chrono::milliseconds t) {
    m_client->setIoTimeout(t);
}

QString TNetConnection::describe() const {
    return ServerName + " at " + endpoint();
}

QString TNetConnection::endpoint() const {
    return Host + ":" + QString::number(Port);
}

TServerResult TServerDispatch::Call(const QString& method, const std::vector<TServerArg>& args) {
    TNetConnection& c = *m_connection;
    if (c.m_calling)
        throw EAbort();
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
    {
        FlagSet calling(c.m_calling);
        c.ensureOpenFor(method);
        try {
            waitLively([&] { result = c.m_client->call(request); });
        } catch (const proto::TransportError& e) {
            c.m_client->close();
            const std::string technical = "call of " + method.toStdString() + " on " +
                                          c.ServerName.toStdString() + " failed: " + e.what();
            const bool timedOut = std::string(e.what()).find("timed out") != std::string::npos;
            const QString what = timedOut
                                     ? QStringLiteral(
                                           "O servidor de aplicação %1 não respondeu a %2 no tempo "
                                           "limite e a conexão foi encerrada.")
                                     : QStringLiteral(
                                           "A conexão com o servidor de aplicação %1 foi perdida "
                                           "durante %2.");
            netError(what.arg(c.endpoint(), method) +
                         QStringLiteral(" A operação pode ter sido concluída no servidor ou não: "
                                        "confira o resultado antes de repeti-la. A próxima "
                                        "operação conecta-se de novo."),
                     technical);
        }
    }
    if (!c.m_wanted)
        c.m_client->close();  // SetConnected(false) came while the call was waiting

    if (result.kind == proto::CallResult::Kind::Error) {
        if (c.ThrowException) {
            throw EServerError(
                vlm::withDetail(QStringLiteral("O servidor de aplicação não pôde executar %1:\n%2")
                                    .arg(method, QString::fromStdString(result.text)),
                                QStringLiteral("application server error in %1: %2")
                                    .arg(method, QString::fromStdString(result.text)))
                    .toStdString());
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
