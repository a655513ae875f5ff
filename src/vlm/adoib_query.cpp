#include "adoib_query.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <stdexcept>

#include "dtm_db_geral.h"

namespace {

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == '_';
}

// Replaces each ":NAME" outside quotes by '?' and returns the names in order ("::" casts and
// quoted text are left alone).
QString positional(const QString& text, QStringList* names) {
    QString out;
    out.reserve(text.size());
    QChar quote;
    for (int i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            out += c;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
            out += "::";
            ++i;
            continue;
        }
        if (c == ':' && i + 1 < text.size() && (text[i + 1].isLetter() || text[i + 1] == '_')) {
            int j = i + 1;
            while (j < text.size() && isNameChar(text[j]))
                ++j;
            if (names)
                *names << text.mid(i + 1, j - i - 1);
            out += '?';
            i = j - 1;
            continue;
        }
        out += c;
    }
    return out;
}

}  // namespace

TADOIBQuery::TADOIBQuery(QObject* parent) : TDataSet(parent) {}
TADOIBQuery::~TADOIBQuery() = default;

TdtmDBGeral* TADOIBQuery::module() const {
    return Connection ? Connection : dtmDBGeral;
}

QString TADOIBQuery::ActiveText() const {
    TdtmDBGeral* m = module();
    if (m != nullptr && m->Connected() && m->Engine() == vlm::DbEngine::Firebird &&
        !SQL_IB.isEmpty()) {
        return SQL_IB.join('\n');
    }
    return SQL.join('\n');
}

QStringList TADOIBQuery::ParamNames() const {
    QStringList names;
    positional(ActiveText(), &names);
    QStringList unique;
    for (const QString& n : names) {
        bool seen = false;
        for (const QString& u : unique)
            seen = seen || u.compare(n, Qt::CaseInsensitive) == 0;
        if (!seen)
            unique << n;
    }
    return unique;
}

TParam* TADOIBQuery::ParamByName(const QString& name) {
    for (auto& p : m_params) {
        if (p->Name.compare(name, Qt::CaseInsensitive) == 0)
            return p.get();
    }
    for (const QString& n : ParamNames()) {
        if (n.compare(name, Qt::CaseInsensitive) == 0) {
            m_params.push_back(std::make_unique<TParam>(n));
            return m_params.back().get();
        }
    }
    throw std::invalid_argument(objectName().toStdString() +
                                ": the statement has no parameter :" + name.toStdString());
}

void TADOIBQuery::Open() {
    if (Active())
        return;
    const std::string who =
        objectName().isEmpty() ? std::string("query") : objectName().toStdString();
    TdtmDBGeral* m = module();
    if (m == nullptr || !m->Connected()) {
        throw std::runtime_error(who + ": no database connection is open");
    }
    QStringList names;
    QString sql = positional(ActiveText(), &names);
    if (sql.trimmed().isEmpty())
        throw std::runtime_error(who + ": the statement is empty");

    QSqlQuery q(m->Database());
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        throw std::runtime_error(who + ": " + q.lastError().text().toStdString());
    }
    for (const QString& n : names) {
        TParam* p = ParamByName(n);
        q.addBindValue(p->IsNull() ? QVariant(QMetaType(QMetaType::QString)) : p->value());
    }
    if (!q.exec()) {
        throw std::runtime_error(who + ": " + q.lastError().text().toStdString());
    }
    QSqlRecord rec = q.record();
    QStringList columns;
    QVector<int> sizes;
    for (int i = 0; i < rec.count(); ++i) {
        columns << rec.fieldName(i).toUpper();
        sizes << qMax(0, rec.field(i).length());
    }
    std::vector<std::vector<Cell>> rows;
    while (q.next()) {
        std::vector<Cell> row(columns.size());
        for (int i = 0; i < columns.size(); ++i) {
            QVariant v = q.value(i);
            if (v.isNull())
                continue;
            if (v.typeId() == QMetaType::QDate) {
                row[i] = v.toDate().toString(Qt::ISODate);
            } else if (v.typeId() == QMetaType::QDateTime) {
                row[i] = v.toDateTime().toString(Qt::ISODate);
            } else {
                row[i] = v.toString();
            }
        }
        rows.push_back(std::move(row));
    }
    if (q.lastError().isValid()) {
        throw std::runtime_error(who + ": " + q.lastError().text().toStdString());
    }
    try {
        replaceContent(columns, sizes, std::move(rows));
    } catch (...) {
        TDataSet::Close();
        throw;
    }
}

void TADOIBQuery::Close() {
    TDataSet::Close();
}
