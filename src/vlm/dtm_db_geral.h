#pragma once
// The data module holding the suite database connection that every query uses.

#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include "host_config.h"
#include "vlm_export.h"

class VLM_EXPORT TdtmDBGeral : public QObject {
    Q_OBJECT
  public:
    // The first data module created becomes the global dtmDBGeral until it is destroyed.
    explicit TdtmDBGeral(QObject* parent = nullptr);
    ~TdtmDBGeral() override;

    // Opens the database `config` names (QSQLITE, QPSQL or QIBASE). On SQLite the function
    // NVLSTR(a, b) is registered on the connection; on PostgreSQL and Firebird it must exist
    // in the database. Throws std::runtime_error saying what failed; the module stays closed.
    void Open(const vlm::HostConfig& config);
    void Close();
    bool Connected() const;
    vlm::DbEngine Engine() const { return m_engine; }

    // The one connection, under each of the names the screens know it by.
    QSqlDatabase Database() const;
    QSqlDatabase adcGeral() const { return Database(); }
    QSqlDatabase dtbGeral() const { return Database(); }
    QSqlDatabase ibtGeral() const { return Database(); }

  private:
    QString m_connectionName;
    vlm::DbEngine m_engine = vlm::DbEngine::Sqlite;
};

// The application's data module, or nullptr when none exists.
extern VLM_EXPORT TdtmDBGeral* dtmDBGeral;
