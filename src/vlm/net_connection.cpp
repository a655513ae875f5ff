#include "net_connection.h"

#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "abort.h"
#include "protocol/client.h"
#include "protocol/protocol.h"
#include "scoped_flag.h"

namespace proto = rqc::protocol;

namespace {

QString operatingSystemUser() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr) {
        return QString::fromLocal8Bit(pw->pw_name);
    }
    const QString env = qEnvironmentVariable("USER");
    return env.isEmpty() ? QStringLiteral("unknown") : env;
}

TNetFailure failureOf(proto::TransportFault fault) {
    switch (fault) {
        case proto::TransportFault::Refused:
            return TNetFailure::Refused;
        case proto::TransportFault::Unreachable:
            return TNetFailure::Unreachable;
        case proto::TransportFault::TimedOut:
            return TNetFailure::TimedOut;
        case proto::TransportFault::Closed:
            return TNetFailure::Closed;
        case proto::TransportFault::CertificateRefused:
            return TNetFailure::Certificate;
        case proto::TransportFault::LoginRefused:
            return TNetFailure::LoginRefused;
        case proto::TransportFault::Protocol:
            break;
    }
    return TNetFailure::Protocol;
}

TServerFailure failureOf(proto::ErrorKind why) {
    switch (why) {
        case proto::ErrorKind::BadArgument:
            return TServerFailure::BadArgument;
        case proto::ErrorKind::Busy:
            return TServerFailure::Busy;
        case proto::ErrorKind::NotFound:
            return TServerFailure::NotFound;
        case proto::ErrorKind::Refused:
            return TServerFailure::Refused;
        case proto::ErrorKind::DatabaseFailure:
            return TServerFailure::Database;
        case proto::ErrorKind::OutcomeUnknown:
            return TServerFailure::OutcomeUnknown;
        case proto::ErrorKind::Internal:
            return TServerFailure::Internal;
        case proto::ErrorKind::Unspecified:
            break;
    }
    return TServerFailure::Unspecified;
}

// Drops user input to every object of the application while it lives; a close request is
// refused. Paint, expose, timer and posted events go on. A mouse button's release is kept and
// delivered once the wait is over: it ends a click the user began before the wait (a call
// made as the focus left a field, on the press that moved it), which would otherwise stay
// pressed and never click.
class InputBlocker : public QObject {
  public:
    InputBlocker() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputBlocker() override {
        QCoreApplication::instance()->removeEventFilter(this);
        for (auto& [receiver, event] : m_releases) {
            if (receiver != nullptr)
                QCoreApplication::postEvent(receiver, event.release());
        }
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        switch (e->type()) {
            case QEvent::MouseButtonRelease:
                m_releases.emplace_back(watched, e->clone());
                return true;
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::MouseButtonPress:
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

  private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> m_releases;
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

}  // namespace

ENetError::ENetError(TNetFailure kind, const QString& sentence, const QString& technical)
    : std::runtime_error(vlm::withDetail(sentence, technical).toStdString()),
      m_kind(kind),
      m_sentence(sentence),
      m_technical(technical) {}

TServerResult TServerResult::ofText(QString text) {
    TServerResult r;
    r.m_kind = Kind::Text;
    r.m_text = std::move(text);
    return r;
}

TServerResult TServerResult::ofError(QString message, TServerFailure why) {
    TServerResult r;
    r.m_kind = Kind::Error;
    r.m_failure = why;
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
    const QString object = ServerName;
    if (Host.trimmed().isEmpty()) {
        throw ENetError(TNetFailure::Settings,
                        QStringLiteral("O endereço do servidor de aplicação não está configurado: "
                                       "informe-o na configuração da suíte ([Servidor] Host)."),
                        "cannot connect to " + object + ": no host is set");
    }
    if (Port < 1 || Port > 65535) {
        throw ENetError(TNetFailure::Settings,
                        QStringLiteral("A porta %1 do servidor de aplicação não é válida (de 1 a "
                                       "65535): corrija a configuração da suíte ([Servidor] "
                                       "Porta).")
                            .arg(Port),
                        QStringLiteral("cannot connect to %1: port %2 is not a valid port (1 to "
                                       "65535)")
                            .arg(object)
                            .arg(Port));
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
    try {
        const std::string host = Host.toStdString();
        const auto port = static_cast<std::uint16_t>(Port);
        if (m_calling) {
            waitLively([&] { m_client->connect(host, port, m_connectTimeout); });
        } else {
            m_client->connect(host, port, m_connectTimeout);
        }
    } catch (const proto::LoginRefused& e) {
        throw ELoginRefused(QString::fromUtf8(e.what()));
    } catch (const proto::PlainTcpRefused& e) {
        throw ENetError(TNetFailure::Settings, QString::fromUtf8(e.what()),
                        "application server " + object + ": plain TCP to a remote host refused");
    } catch (const proto::TransportError& e) {
        const TNetFailure kind = failureOf(e.fault());
        throw ENetError(kind, failureSentence(kind, false),
                        "application server " + object + ": " + QString::fromUtf8(e.what()));
    }
}

QString TNetConnection::failureSentence(TNetFailure kind, bool sent) const {
    QString happened;
    QString todo;
    switch (kind) {
        case TNetFailure::Refused:
            happened = QStringLiteral("O servidor de aplicação em %1 recusou a conexão");
            todo = QStringLiteral(
                "verifique se ele está em execução e se o endereço e a porta "
                "da configuração da suíte ([Servidor] Host e Porta) estão "
                "certos");
            break;
        case TNetFailure::Unreachable:
            happened =
                QStringLiteral("O servidor de aplicação em %1 não pôde ser alcançado pela rede");
            todo = QStringLiteral(
                "verifique o endereço na configuração da suíte ([Servidor] "
                "Host) e a rede deste computador");
            break;
        case TNetFailure::TimedOut:
            happened =
                QStringLiteral("O servidor de aplicação em %1 não respondeu no tempo limite");
            todo = QStringLiteral(
                "tente de novo em alguns instantes e, se continuar, informe o "
                "suporte");
            break;
        case TNetFailure::Closed:
            happened = QStringLiteral("O servidor de aplicação em %1 encerrou a conexão");
            todo = QStringLiteral(
                "tente de novo; se continuar, verifique se o servidor está em "
                "execução e se ele exige TLS ([Servidor] CertificadoCA)");
            break;
        case TNetFailure::Certificate:
            happened = QStringLiteral("O certificado do servidor de aplicação em %1 foi recusado");
            todo = QStringLiteral(
                "ele não vem da autoridade certificadora configurada ou não "
                "traz o nome esperado; confira [Servidor] CertificadoCA e "
                "NomeCertificado na configuração da suíte");
            break;
        case TNetFailure::NotConnected:
            happened = QStringLiteral(
                "A tela não está mais conectada ao servidor de aplicação "
                "em %1");
            todo = QStringLiteral("feche-a e abra-a novamente");
            break;
        case TNetFailure::Protocol:
        case TNetFailure::LoginRefused:
        case TNetFailure::Settings:
            happened = QStringLiteral(
                "O servidor de aplicação em %1 respondeu fora do protocolo "
                "da suíte");
            todo = QStringLiteral(
                "verifique se o endereço e a porta são de um servidor da suíte "
                "da mesma versão; se forem, informe o suporte");
            break;
    }
    if (sent) {
        todo = QStringLiteral(
            "a operação pode ter sido concluída no servidor ou não; confira o "
            "resultado antes de repeti-la");
    }
    return happened.arg(endpoint()) + QStringLiteral(": ") + todo + QLatin1Char('.');
}

void TNetConnection::ensureOpenFor(const QString& method) {
    if (m_client->peerClosed())
        m_client->close();
    if (m_client->isOpen())
        return;
    if (!m_wanted) {
        throw ENetError(TNetFailure::NotConnected,
                        failureSentence(TNetFailure::NotConnected, false),
                        "cannot call " + method + ": not connected to " + describe());
    }
    try {
        openClient();
    } catch (const ELoginRefused&) {
        throw;
    } catch (const ENetError& e) {
        // Nothing was sent: the failure is the reconnect's, told once.
        throw ENetError(e.kind(), e.sentence(),
                        "reconnecting to call " + method + ": " + e.technical());
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
        vlm::ScopedFlag calling(c.m_calling);
        c.ensureOpenFor(method);
        try {
            waitLively([&] { result = c.m_client->call(request); });
        } catch (const proto::TransportError& e) {
            c.m_client->close();
            const TNetFailure kind = failureOf(e.fault());
            throw ENetError(kind, c.failureSentence(kind, true),
                            "call of " + method + " on " + c.ServerName +
                                " failed: " + QString::fromUtf8(e.what()));
        }
    }
    if (!c.m_wanted)
        c.m_client->close();  // SetConnected(false) came while the call was waiting

    if (result.kind == proto::CallResult::Kind::Error) {
        const TServerFailure why = failureOf(result.errorKind);
        if (c.ThrowException) {
            throw EServerError(
                vlm::withDetail(
                    vlm::serverErrorSentence(why, QString::fromStdString(result.text), false),
                    QStringLiteral("application server error in %1").arg(method))
                    .toStdString(),
                why);
        }
        return TServerResult::ofError(QString::fromStdString(result.text), why);
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
