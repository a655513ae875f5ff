#pragma once
// A read-only query over the suite database: one statement text per dialect, ":NAME" text
// parameters, all rows loaded client side into the TDataSet it is.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

#include "vlm/data_set.h"
#include "vlm_export.h"

class TdtmDBGeral;

// A persistent text field of a query: label, visibility, display width, edit mask, size.
using TADOIBStringField = TField;

// A text parameter. Unassigned, it is bound as null.
class VLM_EXPORT TParam {
  public:
    explicit TParam(QString name) : Name(std::move(name)) {}
    QString Name;
    void setValue(const QVariant& v) { m_value = v; }
    QVariant value() const { return m_value; }
    void SetAsString(const QString& s) { m_value = s; }
    QString AsString() const { return m_value.toString(); }
    bool IsNull() const { return m_value.isNull(); }
    void Clear() { m_value = QVariant(); }

  private:
    QVariant m_value;
};

class VLM_EXPORT TADOIBQuery : public TDataSet {
    Q_OBJECT
  public:
    explicit TADOIBQuery(QObject* parent = nullptr);
    ~TADOIBQuery() override;

    // Statement texts, one line per entry. SQL is the generic text (SQLite, PostgreSQL);
    // SQL_IB is run on Firebird when not empty; SQL_ORACLE and SQL_MSSQL are kept for the
    // engines of those names, which this package does not open.
    QStringList SQL;
    QStringList SQL_ORACLE;
    QStringList SQL_MSSQL;
    QStringList SQL_IB;

    // The data module whose connection is used; nullptr: the global dtmDBGeral.
    TdtmDBGeral* Connection = nullptr;

    // The parameter ":NAME" of the statement (case-insensitive). Values persist across Close
    // and Open. Throws std::invalid_argument when the statement has no such parameter.
    TParam* ParamByName(const QString& name);
    // Names of the parameters of the text run on the current engine, in order of appearance.
    QStringList ParamNames() const;

    // Runs the text for the engine in use with the parameters bound, and loads every row.
    // Throws std::runtime_error (naming the query and the database's message) on failure;
    // the query is then closed. Open on an open query does nothing.
    void Open() override;
    void Close() override;

    // The statement text that Open runs on the current engine (lines joined by "\n").
    QString ActiveText() const;

  private:
    TdtmDBGeral* module() const;
    std::vector<std::unique_ptr<TParam>> m_params;
};
