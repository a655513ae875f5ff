#include "login.h"

#include "vlm/dialogs.h"
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

}  // namespace host
