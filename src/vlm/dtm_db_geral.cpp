#include "dtm_db_geral.h"

#include <sqlite3.h>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>

#include <stdexcept>

TdtmDBGeral* dtmDBGeral = nullptr;

namespace {

// NVLSTR(a, b): a when it is not null, else b.
void nvlstr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc != 2) {
        sqlite3_result_error(ctx, "NVLSTR takes two arguments", -1);
        return;
    }
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) != SQLITE_NULL ? argv[0] : argv[1]);
}

void registerNvlstr(QSqlDatabase& db) {
    QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        throw std::runtime_error("the SQLite driver does not expose its connection handle");
    }
    sqlite3* h = *static_cast<sqlite3* const*>(handle.data());
    if (h == nullptr ||
        sqlite3_create_function_v2(h, "NVLSTR", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   nvlstr, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error("cannot register NVLSTR on the SQLite connection");
    }
}

}  // namespace

TdtmDBGeral::TdtmDBGeral(QObject* parent)
    : QObject(parent),
      m_connectionName(
          QStringLiteral("dtmDBGeral-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {
    setObjectName("dtmDBGeral");
    if (dtmDBGeral == nullptr)
        dtmDBGeral = this;
}

TdtmDBGeral::~TdtmDBGeral() {
    Close();
    if (dtmDBGeral == this)
        dtmDBGeral = nullptr;
}

void TdtmDBGeral::Open(const vlm::HostConfig& config) {
    Close();
    config.validate();
    const char* driver = config.engine == vlm::DbEngine::Sqlite     ? "QSQLITE"
                         : config.engine == vlm::DbEngine::Postgres ? "QPSQL"
                                                                    : "QIBASE";
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        throw std::runtime_error(std::string("O driver ") + driver +
                                 " do Qt SQL não está instalado neste computador.");
    }
    if (config.engine == vlm::DbEngine::Sqlite) {
        if (config.dbPath.isEmpty()) {
            throw std::runtime_error(
                "Nenhum arquivo de banco SQLite configurado ([Banco] Caminho).");
        }
        if (!QFileInfo(config.dbPath).isFile()) {
            throw std::runtime_error("Arquivo do banco SQLite não encontrado: " +
                                     config.dbPath.toStdString());
        }
    }
    QString what;
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_connectionName);
        switch (config.engine) {
            case vlm::DbEngine::Sqlite:
                // The desktop only reads: the file is never written from here.
                db.setDatabaseName(config.dbPath);
                db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
                what = config.dbPath;
                break;
            case vlm::DbEngine::Postgres:
                db.setHostName(config.dbHost.isEmpty() ? QStringLiteral("127.0.0.1")
                                                       : config.dbHost);
                db.setPort(config.dbPort > 0 ? config.dbPort : 5432);
                db.setDatabaseName(config.dbName);
                db.setUserName(config.dbUser);
                db.setPassword(config.dbPassword);
                {
                    QString options = "sslmode=" + config.effectiveSslMode();
                    if (!config.dbCaFile.isEmpty())
                        options += ";sslrootcert='" + config.dbCaFile + "'";
                    db.setConnectOptions(options);
                }
                what = QString("postgresql://%1@%2:%3/%4")
                           .arg(config.dbUser, db.hostName())
                           .arg(db.port())
                           .arg(config.dbName);
                break;
            case vlm::DbEngine::Firebird:
                db.setDatabaseName(config.dbHost.isEmpty() ? config.dbPath
                                                           : config.dbHost + ":" + config.dbPath);
                if (config.dbPort > 0)
                    db.setPort(config.dbPort);
                // No built-in account: the read-only user of docs/configuration.md.
                db.setUserName(config.dbUser);
                db.setPassword(config.dbPassword);
                db.setConnectOptions("ISC_DPB_LC_CTYPE=UTF8");
                what = db.databaseName();
                break;
        }
        if (!db.open()) {
            error =
                "Não foi possível abrir o banco da suíte " + what + ": " + db.lastError().text();
            // libpq gives a failed connection no code: the hint follows from the mode asked.
            if (config.engine == vlm::DbEngine::Postgres &&
                config.effectiveSslMode().startsWith(QLatin1String("verify-"))) {
                error +=
                    "\nSe a falha for do certificado: o certificado do servidor do banco não foi "
                    "emitido pela autoridade de [Banco] CertificadoCA ou não traz o nome de "
                    "[Banco] Host.";
            }
        } else if (config.engine == vlm::DbEngine::Sqlite) {
            try {
                registerNvlstr(db);
            } catch (const std::exception& e) {
                error = what + ": " + QString::fromUtf8(e.what());
                db.close();
            }
        }
    }
    if (!error.isEmpty()) {
        QSqlDatabase::removeDatabase(m_connectionName);
        throw std::runtime_error(error.toStdString());
    }
    m_engine = config.engine;
}

void TdtmDBGeral::Close() {
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool TdtmDBGeral::Connected() const {
    return QSqlDatabase::contains(m_connectionName) &&
           QSqlDatabase::database(m_connectionName, false).isOpen();
}

QSqlDatabase TdtmDBGeral::Database() const {
    return QSqlDatabase::database(m_connectionName, false);
}
