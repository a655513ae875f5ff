#pragma once
// In-memory data sets: the rows a query or a server data packet yields, held client side and
// read through a current-row cursor. TADOIBQuery and TClientDataSet fill one; data sources,
// pickers and search buttons read any TDataSet.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <optional>
#include <vector>

#include "vlm_export.h"

class TDataSet;

// A field of a data set: its definition (persistent fields carry label, visibility, display
// width and edit mask) and, through its data set, the value of the current row.
class VLM_EXPORT TField {
  public:
    TField(TDataSet* owner, QString name, int size);

    QString FieldName;
    int Size = 0;
    QString DisplayLabel;  // empty: the field name is shown
    bool Visible = true;
    int DisplayWidth = 0;  // 0: Size
    QString EditMask;
    QString Origin;
    bool Required = false;

    QString AsString() const;  // "" when null or when the data set has no current row
    bool IsNull() const;
    QString label() const { return DisplayLabel.isEmpty() ? FieldName : DisplayLabel; }
    int index() const;
    TDataSet* dataSet() const { return m_owner; }

  private:
    TDataSet* m_owner;
};

class VLM_EXPORT TDataSet : public QObject {
    Q_OBJECT
  public:
    using Cell = std::optional<QString>;

    explicit TDataSet(QObject* parent = nullptr);
    ~TDataSet() override;

    // Persistent fields: declared before the data set is filled; a fill must then carry
    // each of them (by name) or it fails with a clear message.
    TField* AddField(const QString& name, int size);
    TField* FindField(const QString& name) const;    // nullptr when absent
    TField* FieldByName(const QString& name) const;  // throws std::runtime_error when absent
    const std::vector<std::unique_ptr<TField>>& Fields() const { return m_fields; }

    bool Active() const { return m_active; }
    virtual void Open();  // subclasses fill; the base opens what it holds
    virtual void Close();

    bool IsEmpty() const { return m_rows.empty(); }
    int RecordCount() const { return static_cast<int>(m_rows.size()); }
    int RecNo() const { return m_cursor; }  // 0-based current row, -1 when none
    void First();
    void Next();
    bool Eof() const { return m_cursor < 0 || m_cursor >= RecordCount(); }
    bool Locate(const QString& field, const QString& value);  // moves to the first match
    void MoveTo(int row);

    // The cell of the current row; nullopt for null and when there is no current row.
    Cell value(int fieldIndex) const;
    Cell value(int row, int fieldIndex) const;

  signals:
    void dataChanged();  // the whole content was replaced, opened or closed

  protected:
    // Replaces the whole content. `names` are the incoming columns; rows hold one cell per
    // name. Declared fields are matched by name (missing ones fail); undeclared incoming
    // columns become fields of their own when no field was declared.
    void replaceContent(const QStringList& names, const QVector<int>& sizes,
                        std::vector<std::vector<Cell>> rows);

  private:
    std::vector<std::unique_ptr<TField>> m_fields;
    std::vector<std::vector<Cell>> m_rows;  // indexed [row][field]
    int m_cursor = -1;
    bool m_active = false;
    bool m_derivedFields = false;  // fields made from the data, not declared
};

// Binds a data set to the controls and pickers that show it.
class VLM_EXPORT TDataSource : public QObject {
    Q_OBJECT
  public:
    explicit TDataSource(QObject* parent = nullptr) : QObject(parent) {}
    TDataSet* DataSet = nullptr;
};
