#include "data_set.h"

#include <stdexcept>

TField::TField(TDataSet* owner, QString name, int size)
    : FieldName(std::move(name)), Size(size), m_owner(owner) {}

int TField::index() const {
    const auto& fs = m_owner->Fields();
    for (std::size_t i = 0; i < fs.size(); ++i) {
        if (fs[i].get() == this)
            return static_cast<int>(i);
    }
    return -1;
}

QString TField::AsString() const {
    auto v = m_owner->value(index());
    return v ? *v : QString();
}

bool TField::IsNull() const {
    return !m_owner->value(index()).has_value();
}

TDataSet::TDataSet(QObject* parent) : QObject(parent) {}
TDataSet::~TDataSet() = default;

TField* TDataSet::AddField(const QString& name, int size) {
    if (FindField(name) != nullptr) {
        throw std::runtime_error("field " + name.toStdString() + " is declared twice");
    }
    if (m_derivedFields) {  // declaring starts over: drop the data-made fields and rows
        m_fields.clear();
        m_rows.clear();
        m_cursor = -1;
        m_active = false;
        m_derivedFields = false;
    }
    m_fields.push_back(std::make_unique<TField>(this, name, size));
    return m_fields.back().get();
}

TField* TDataSet::FindField(const QString& name) const {
    for (const auto& f : m_fields) {
        if (f->FieldName.compare(name, Qt::CaseInsensitive) == 0)
            return f.get();
    }
    return nullptr;
}

TField* TDataSet::FieldByName(const QString& name) const {
    TField* f = FindField(name);
    if (f == nullptr) {
        throw std::runtime_error(objectName().toStdString() + ": field '" + name.toStdString() +
                                 "' not found");
    }
    return f;
}

void TDataSet::Open() {
    m_active = true;
    m_cursor = m_rows.empty() ? -1 : 0;
    emit dataChanged();
}

void TDataSet::Close() {
    m_active = false;
    m_rows.clear();
    m_cursor = -1;
    emit dataChanged();
}

void TDataSet::First() {
    m_cursor = m_rows.empty() ? -1 : 0;
}

void TDataSet::Next() {
    if (m_cursor >= 0 && m_cursor < RecordCount())
        ++m_cursor;
}

void TDataSet::MoveTo(int row) {
    if (row < 0 || row >= RecordCount())
        throw std::out_of_range("row out of range");
    m_cursor = row;
}

bool TDataSet::Locate(const QString& field, const QString& value) {
    int col = FieldByName(field)->index();
    for (int r = 0; r < RecordCount(); ++r) {
        const Cell& c = m_rows[r][col];
        if (c && *c == value) {
            m_cursor = r;
            return true;
        }
    }
    return false;
}

TDataSet::Cell TDataSet::value(int fieldIndex) const {
    if (Eof())
        return std::nullopt;
    return value(m_cursor, fieldIndex);
}

TDataSet::Cell TDataSet::value(int row, int fieldIndex) const {
    if (row < 0 || row >= RecordCount() || fieldIndex < 0 ||
        fieldIndex >= static_cast<int>(m_fields.size())) {
        return std::nullopt;
    }
    return m_rows[row][fieldIndex];
}

void TDataSet::replaceContent(const QStringList& names, const QVector<int>& sizes,
                              std::vector<std::vector<Cell>> rows) {
    // Without declared fields the data's own columns become the fields, afresh at every fill.
    if (m_fields.empty() || m_derivedFields) {
        m_fields.clear();
        m_derivedFields = true;
        for (int i = 0; i < names.size(); ++i) {
            m_fields.push_back(std::make_unique<TField>(this, names[i], sizes.value(i)));
        }
    }
    // Map each declared field to its incoming column.
    std::vector<int> source(m_fields.size(), -1);
    for (std::size_t f = 0; f < m_fields.size(); ++f) {
        for (int i = 0; i < names.size(); ++i) {
            if (names[i].compare(m_fields[f]->FieldName, Qt::CaseInsensitive) == 0) {
                source[f] = i;
                break;
            }
        }
        if (source[f] < 0) {
            throw std::runtime_error(objectName().toStdString() + ": the data has no field '" +
                                     m_fields[f]->FieldName.toStdString() + "'");
        }
    }
    bool identity = static_cast<int>(m_fields.size()) == names.size();
    for (std::size_t f = 0; identity && f < source.size(); ++f) {
        identity = source[f] == static_cast<int>(f);
    }
    if (identity) {
        m_rows = std::move(rows);
    } else {
        m_rows.clear();
        m_rows.reserve(rows.size());
        for (auto& in : rows) {
            std::vector<Cell> out(m_fields.size());
            for (std::size_t f = 0; f < source.size(); ++f)
                out[f] = std::move(in[source[f]]);
            m_rows.push_back(std::move(out));
        }
    }
    m_active = true;
    m_cursor = m_rows.empty() ? -1 : 0;
    emit dataChanged();
}
