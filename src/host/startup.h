#pragma once
// What the host does before its window opens: find and read the configuration, and make sure
// the embedded database is there (rqc-suitedb creates it; the host never does).

#include <QIcon>
#include <QString>
#include <stdexcept>

class QCoreApplication;
class TdtmDBGeral;

#include "vlm/host_config.h"

namespace host {

// The host cannot start; the message says why (shown to the user as is).
class StartupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kDefaultIni = "suite.ini";
inline constexpr const char* kDefaultSqlite = "var/rqc.db";

// The configuration to use: `explicitPath` when given (it must exist), else suite.ini in the
// working directory when present, else the built-in defaults. An SQLite configuration
// without a file gets var/rqc.db under the working directory. Throws vlm::ConfigError for a
// bad file.
vlm::HostConfig resolveConfig(const QString& explicitPath);

// For SQLite: the configured file must exist and be readable; otherwise throws StartupError
// naming the file and what to configure (`configured`: read from a configuration file), or,
// on the built-in defaults, the command that makes a trial database. Other engines: nothing.
void requireEmbeddedDatabase(const vlm::HostConfig& config, bool configured);

// The host's start on its database: resolveConfig, the configuration made the package's,
// requireEmbeddedDatabase, then `database` opened on it. Throws what those throw.
vlm::HostConfig openSuiteDatabase(const QString& explicitPath, TdtmDBGeral& database);

// Makes Qt's own texts (standard buttons, calendar, editors) Brazilian Portuguese: the
// default locale becomes pt_BR and Qt's qtbase_pt_BR translation is installed on `app`.
// Returns false when that translation is not on the machine (the texts stay in English).
bool installTranslations(QCoreApplication& app);

// The suite's icon (the one of the menu entry), drawn at the usual sizes, for every window.
QIcon suiteIcon();

}  // namespace host
