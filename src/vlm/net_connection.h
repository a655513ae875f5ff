#pragma once
// Connection to the application server and late-bound calls on one of its remote objects.

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "server_error_text.h"
#include "vlm_export.h"

namespace rqc::protocol {
class Client;
class DataPacket;
}  // namespace rqc::protocol

// Why a connection failed, as the user is told it.
enum class TNetFailure {
    Refused,       // nothing listens at the configured address
    Unreachable,   // the address cannot be resolved or reached
    TimedOut,      // the server did not answer in time
    Closed,        // the server closed the connection
    Certificate,   // the server's certificate was refused
    Protocol,      // the answer is not the suite's protocol
    LoginRefused,  // the server refused the operator's login
    Settings,      // host, port or TLS settings cannot be used
    NotConnected,  // the screen's connection was closed on purpose
};

// The connection itself failed. what() is the one sentence for the user (what happened and
// what to do) followed by at most one technical detail (English, with the method and
// host:port); kind() is what happened, the sentence chosen by it.
class VLM_EXPORT ENetError : public std::runtime_error {
  public:
    ENetError(TNetFailure kind, const QString& sentence, const QString& technical);
    TNetFailure kind() const { return m_kind; }
    const QString& sentence() const { return m_sentence; }
    const QString& technical() const { return m_technical; }

  private:
    TNetFailure m_kind;
    QString m_sentence;
    QString m_technical;
};

// The server refused the operator's login; the sentence is the server's, for the operator.
class VLM_EXPORT ELoginRefused : public ENetError {
  public:
    explicit ELoginRefused(const QString& serverMessage)
        : ENetError(TNetFailure::LoginRefused, serverMessage, {}) {}
};

// The server answered with an error, or with a result of another kind than expected (kind()
// Unspecified then).
class VLM_EXPORT EServerError : public std::runtime_error {
  public:
    explicit EServerError(const std::string& what,
                          TServerFailure kind = TServerFailure::Unspecified)
        : std::runtime_error(what), m_kind(kind) {}
    TServerFailure kind() const { return m_kind; }

  private:
    TServerFailure m_kind;
};

// One argument of a call: text by value, text by reference (bound to the caller's variable,
// which receives the server's value after a successful call only) or a date (days since
// 1899-12-30, as TDateTime).
class VLM_EXPORT TServerArg {
  public:
    enum class Kind { Value, Ref, Date };

    static TServerArg Value(const QString& text) {
        return TServerArg(Kind::Value, text, nullptr, 0);
    }
    static TServerArg Ref(QString& variable) { return TServerArg(Kind::Ref, {}, &variable, 0); }
    static TServerArg Date(double days) { return TServerArg(Kind::Date, {}, nullptr, days); }

    Kind kind() const { return m_kind; }
    // The text sent: for Ref, what the variable holds when the call is made.
    const QString& text() const { return m_variable != nullptr ? *m_variable : m_text; }
    QString* variable() const { return m_variable; }
    double date() const { return m_date; }

  private:
    TServerArg(Kind k, QString t, QString* v, double d)
        : m_kind(k), m_text(std::move(t)), m_variable(v), m_date(d) {}
    Kind m_kind;
    QString m_text;
    QString* m_variable;
    double m_date;
};

// What a call returned: nothing, a text, a data packet or the server's error message.
// Cheap to copy (the packet is shared).
class VLM_EXPORT TServerResult {
  public:
    enum class Kind { Empty, Text, Packet, Error };

    TServerResult() = default;
    static TServerResult ofText(QString text);
    static TServerResult ofError(QString message, TServerFailure why = TServerFailure::Unspecified);
    static TServerResult ofPacket(std::shared_ptr<const rqc::protocol::DataPacket> packet);

    Kind kind() const { return m_kind; }
    bool IsEmpty() const { return m_kind == Kind::Empty; }
    bool IsText() const { return m_kind == Kind::Text; }
    bool IsPacket() const { return m_kind == Kind::Packet; }
    bool IsError() const { return m_kind == Kind::Error; }
    // Error: what kind of error the server answered.
    TServerFailure failure() const { return m_failure; }
    // Text: the value; Error: the message; Empty: ""; Packet: throws EServerError.
    QString AsString() const;
    // The data packet, or nullptr when the result is not one.
    const rqc::protocol::DataPacket* Packet() const { return m_packet.get(); }
    static const char* kindName(Kind k);

  private:
    Kind m_kind = Kind::Empty;
    TServerFailure m_failure = TServerFailure::Unspecified;
    QString m_text;
    std::shared_ptr<const rqc::protocol::DataPacket> m_packet;
};

class TNetConnection;

// The remote object's dispatch interface, obtained from TNetConnection::AppServer().
class VLM_EXPORT TServerDispatch {
  public:
    explicit TServerDispatch(TNetConnection* connection) : m_connection(connection) {}
    // Calls `method` of the connection's remote object synchronously; the call descriptor
    // is built from the arguments' kinds. Throws ENetError when not connected or when the
    // exchange fails (Ref variables unchanged then); a server error raises EServerError when
    // the connection's ThrowException is true and is returned as an Error result otherwise
    // (Ref variables unchanged either way).
    // A connection found lost before anything is sent is opened again once (BeforeConnect
    // runs again); a call that failed after its request went out is never sent again.
    // With a QCoreApplication, the exchange runs on a worker thread while this thread runs
    // an event loop that paints and runs timers but drops user input to every window; a
    // call made from inside that loop throws EAbort and sends nothing.
    TServerResult Call(const QString& method, const std::vector<TServerArg>& args);

  private:
    TNetConnection* m_connection;
};

class VLM_EXPORT TNetConnection : public QObject {
    Q_OBJECT
  public:
    explicit TNetConnection(QObject* parent = nullptr);
    ~TNetConnection() override;

    QString
        ServerName;  // registered name of the remote object, e.g. "Rqc04100.rdmConsolidaSolicita"
    QString Host = QStringLiteral("127.0.0.1");
    int Port = 0;
    // TLS: the CA file to trust and the name the server's certificate must carry (empty: Host).
    // An empty TlsCaFile takes SetDefaultTls's (the host configuration's [Servidor]
    // CertificadoCA); when that is empty too, the connection is plain TCP.
    QString TlsCaFile;
    QString TlsServerName;
    // true: a server error raises EServerError from Call; false: Call returns it as an Error
    // result for CheckResultServ to judge. Connection failures always raise ENetError.
    bool ThrowException = true;
    // Runs on every connect, before connecting, with this connection as sender; typically
    // sets Host and Port. An exception from it cancels the connect and propagates.
    std::function<void(QObject* sender)> BeforeConnect;

    bool Connected() const;
    // true: runs BeforeConnect, then connects (nothing when already connected; ENetError on
    // failure, the connection staying closed). Once connected, calls reconnect a lost
    // connection. false: disconnects (nothing when closed) and calls no longer reconnect.
    void SetConnected(bool connected);
    // True while a call of this connection waits for its answer.
    bool Calling() const { return m_calling; }

    // Dispatch object of the remote object named ServerName.
    TServerDispatch& AppServer() { return m_dispatch; }

    // Who every connect logs in as: this connection's own login when set, else the session's
    // (SetSessionLogin, set by the host once the operator has logged in), else nobody.
    // A refused login raises ELoginRefused.
    void SetLogin(const QString& operatorCode, const QString& password);
    static void SetSessionLogin(const QString& operatorCode, const QString& password);
    static QString SessionOperator();
    // The CA file and certificate name of connections without a TlsCaFile of their own;
    // vlm::setHostConfig sets them from [Servidor] CertificadoCA and NomeCertificado.
    static void SetDefaultTls(const QString& caFile, const QString& serverName);

    // Sent with every call; the operating-system user unless set.
    QString UserName() const { return m_userName; }
    void SetUserName(const QString& name) { m_userName = name; }

    void SetConnectTimeout(std::chrono::milliseconds t) { m_connectTimeout = t; }
    void SetCallTimeout(std::chrono::milliseconds t);

  private:
    friend class TServerDispatch;
    QString describe() const;  // "object at host:port" for messages
    QString endpoint() const;  // "host:port"
    // The one way a connection is opened: BeforeConnect, settings check, connect. Throws
    // ENetError (nothing opened) or what BeforeConnect throws.
    void openClient();
    // Before a call: a connection the server has closed since the last call is dropped and,
    // when the connection is wanted, opened again once. Throws ENetError when it stays closed.
    void ensureOpenFor(const QString& method);
    // The user's sentence for a failure of this connection; `sent`: the request had gone
    // out, so the operation may have run on the server.
    QString failureSentence(TNetFailure kind, bool sent) const;

    std::unique_ptr<rqc::protocol::Client> m_client;
    TServerDispatch m_dispatch{this};
    QString m_userName;
    QString m_loginCode;
    QString m_loginPassword;
    std::chrono::milliseconds m_connectTimeout = std::chrono::seconds(10);
    bool m_wanted = false;   // SetConnected(true) was the last request
    bool m_calling = false;  // a call waits for its answer
};
