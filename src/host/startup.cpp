#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "vlm/dtm_db_geral.h"
#include "vlm/helpers.h"

namespace host {

vlm::HostConfig resolveConfig(const QString& explicitPath) {
    vlm::HostConfig config;
    if (!explicitPath.isEmpty()) {
        config = vlm::HostConfig::load(explicitPath);
    } else if (QFileInfo::exists(QString::fromLatin1(kDefaultIni))) {
        config = vlm::HostConfig::load(QDir::current().absoluteFilePath(kDefaultIni));
    }
    if (config.engine == vlm::DbEngine::Sqlite && config.dbPath.isEmpty()) {
        config.dbPath = QDir::current().absoluteFilePath(QString::fromLatin1(kDefaultSqlite));
    }
    return config;
}

void requireEmbeddedDatabase(const vlm::HostConfig& config) {
    if (config.engine != vlm::DbEngine::Sqlite || QFileInfo(config.dbPath).isFile())
        return;
    throw StartupError(QStringLiteral("O banco de dados da suíte não existe: %1\n"
                                      "Crie-o com: rqc-suitedb init --db %1 --demo")
                           .arg(config.dbPath)
                           .toStdString());
}

vlm::HostConfig openSuiteDatabase(const QString& explicitPath, TdtmDBGeral& database) {
    vlm::HostConfig config = resolveConfig(explicitPath);
    vlm::setHostConfig(config);
    requireEmbeddedDatabase(config);
    database.Open(config);
    return config;
}

bool installTranslations(QCoreApplication& app) {
    QLocale::setDefault(vlm::userLocale());
    auto* qt = new QTranslator(&app);
    if (!qt->load(vlm::userLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

}  // namespace host
