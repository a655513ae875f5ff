#include "login.h"

#include <QSqlQuery>

#include "names/names.h"
#include "vlm/dialogs.h"
#include "vlm/dtm_db_geral.h"
#include "vlm/net_connection.h"

namespace host {

QString tryLogin(const vlm::HostConfig& config, const QString& operatorCode,
                 const QString& password) {
    if (operatorCode.trimmed().isEmpty())
        return QStringLiteral("Informe o código do operador.");
    if (password.isEmpty())
        return QStringLiteral("Informe a senha.");
    TNetConnection probe;
    probe.ServerName = QStringLiteral("suíte");
    probe.Host = config.serverHost;
    probe.Port = config.serverPort;
    probe.SetLogin(operatorCode.trimmed(), password);
    try {
        probe.SetConnected(true);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    probe.SetConnected(false);
    TNetConnection::SetSessionLogin(operatorCode.trimmed(), password);
    return {};
}

bool askLogin(const vlm::HostConfig& config, vlm::Dialogs& dialogs, QString operatorCode) {
    QString refusal;
    while (true) {
        QString password;
        if (!dialogs.login(operatorCode, password, refusal))
            return false;
        refusal = tryLogin(config, operatorCode, password);
        if (refusal.isEmpty())
            return true;
    }
}

QString loginFromEnvironment(const vlm::HostConfig& config, const QString& defaultCode,
                             const QString& defaultPassword) {
    QString code = qEnvironmentVariable(rqc::names::kOperatorVariable);
    QString password = qEnvironmentVariable(rqc::names::kPasswordVariable);
    if (code.isEmpty()) {
        code = defaultCode;
        password = defaultPassword;
    }
    const QString refusal = tryLogin(config, code, password);
    if (refusal.isEmpty())
        return {};
    return QStringLiteral(
               "Não foi possível fazer o login do operador \"%1\": %2 (sem janela, o login vem de "
               "RQC_OPERATOR e %3)")
        .arg(code, refusal, QLatin1String(rqc::names::kPasswordVariable));
}

QString changePassword(const vlm::HostConfig& config, const QString& current, const QString& fresh,
                       const QString& repeated) {
    if (current.isEmpty())
        return QStringLiteral("Informe a senha atual.");
    if (fresh.isEmpty())
        return QStringLiteral("Informe a nova senha.");
    if (fresh != repeated)
        return QStringLiteral("A nova senha e a confirmação não são iguais; digite-as de novo.");
    // Logged in with the session's login; the server itself checks `current`.
    TNetConnection session;
    session.ServerName = QStringLiteral("Suite.Sessao");
    session.Host = config.serverHost;
    session.Port = config.serverPort;
    session.ThrowException = false;
    try {
        session.SetConnected(true);
        const TServerResult r = session.AppServer().Call(
            QStringLiteral("AlteraSenha"), {TServerArg::Value(current), TServerArg::Value(fresh)});
        session.SetConnected(false);
        if (r.IsError())
            return r.AsString();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    TNetConnection::SetSessionLogin(TNetConnection::SessionOperator(), fresh);
    return {};
}

QString operatorName(const QString& code) {
    if (dtmDBGeral == nullptr || !dtmDBGeral->Connected() || code.isEmpty())
        return {};
    QSqlQuery q(dtmDBGeral->Database());
    q.prepare(QStringLiteral("SELECT NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = ?"));
    q.addBindValue(code);
    if (!q.exec() || !q.next())
        return {};
    return q.value(0).toString().trimmed();
}

}  // namespace host
