#pragma once
// The operator's login, before the host opens any screen: checked by the application server,
// then kept as the session's login, with which every connection of the screens logs in.

#include <QString>

#include "vlm/host_config.h"

namespace vlm {
class Dialogs;
}

namespace host {

// One try against the configured server. On success the login becomes the session's and ""
// is returned; otherwise the text to show (the server's refusal, or why it was not reached).
QString tryLogin(const vlm::HostConfig& config, const QString& operatorCode,
                 const QString& password);

// Asks through `dialogs` until a login succeeds (true) or the operator gives up (false); each
// refusal is shown with the next question.
bool askLogin(const vlm::HostConfig& config, vlm::Dialogs& dialogs, QString operatorCode = {});

// The login of a run without a window: RQC_OPERATOR with RQC_PASSWORD, or `defaultCode` with
// `defaultPassword` when RQC_OPERATOR is not set. Returns "" on success, else the text to print
// (the operator, the refusal and where the login comes from).
QString loginFromEnvironment(const vlm::HostConfig& config, const QString& defaultCode = {},
                             const QString& defaultPassword = {});

// Changes the session operator's password on the configured server: `fresh` must equal
// `repeated`, the server checks `current` and its own rules. On success the session's login
// takes the new password and "" is returned; otherwise the text to show (nothing changed).
QString changePassword(const vlm::HostConfig& config, const QString& current, const QString& fresh,
                       const QString& repeated);

// The name of operator `code` in the suite database (OPERADOR), "" when it has none there.
QString operatorName(const QString& code);

}  // namespace host
