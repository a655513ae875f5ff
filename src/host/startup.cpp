#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <filesystem>

#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

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

bool prepareEmbeddedDatabase(const vlm::HostConfig& config) {
    namespace fs = std::filesystem;
    if (config.engine != vlm::DbEngine::Sqlite)
        return false;
    const fs::path file = config.dbPath.toStdString();
    if (fs::exists(file))
        return false;
    const fs::path defaultFile =
        QDir::current().absoluteFilePath(QString::fromLatin1(kDefaultSqlite)).toStdString();
    if (file != defaultFile) {
        throw StartupError("O banco de dados " + file.string() + " não existe.");
    }
    try {
        fs::create_directories(file.parent_path());
        auto db = rqc::suitedb::Connection::open(file.string());
        rqc::suitedb::applySchema(*db);
        rqc::suitedb::loadDemo(*db, rqc::suitedb::localToday());
    } catch (const std::exception& e) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::error_code ec;
            fs::remove(file.string() + suffix, ec);
        }
        throw StartupError("Não foi possível criar o banco de dados " + file.string() + ": " +
                           e.what());
    }
    return true;
}

bool installTranslations(QCoreApplication& app) {
    const QLocale portuguese(QLocale::Portuguese, QLocale::Brazil);
    QLocale::setDefault(portuguese);
    auto* qt = new QTranslator(&app);
    if (!qt->load(portuguese, QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

}  // namespace host
