#include "product_line_columns.h"

#include <stdexcept>

#include "data_set.h"

namespace vlm {

namespace {

struct Definition {
    const char* field;
    const char* header;  // UTF-8
    ColumnKind kind;
    bool summed;
    const char* term;  // UTF-8
};

constexpr Definition kDefinitions[] = {
    {"CDPRODUTO", "Produto", ColumnKind::Code, false, ""},
    {"CDARVPROD", "Código", ColumnKind::Code, false, ""},
    {"NMPRODUTO", "Descrição", ColumnKind::Text, false, ""},
    {"QTSOLICITADA", "Solicitada", ColumnKind::Number, true, ""},
    {"QTLIMITESEG", "Limite seg.", ColumnKind::Number, false, "+"},
    {"QTESTOQUE", "Estoque", ColumnKind::Number, false, "−"},
    {"QTAF", "AF abertas", ColumnKind::Number, false, "−"},
    {"QTCONSABERTA", "Cons. abertas", ColumnKind::Number, false, "−"},
    {"QTARREDONDA", "Arredond.", ColumnKind::Number, false, "+"},
    {"QTCONSOLIDADA", "Consolidada", ColumnKind::Number, true, "="},
    {"NRLINHAS", "Linhas", ColumnKind::Number, true, ""},
    {"NRLINHASCONS", "Já consolidadas", ColumnKind::Number, true, ""},
};

const Definition* definitionOf(const QString& field) {
    for (const Definition& d : kDefinitions) {
        if (field == QLatin1String(d.field))
            return &d;
    }
    return nullptr;
}

}  // namespace

QVector<ReportColumn> productLineColumns(std::initializer_list<const char*> fields) {
    QVector<ReportColumn> out;
    for (const char* field : fields) {
        const Definition* d = definitionOf(QString::fromLatin1(field));
        if (d == nullptr)
            throw std::invalid_argument(std::string("no product line field ") + field);
        out.append({QString::fromUtf8(d->header), d->kind, d->summed, QString::fromLatin1(field)});
    }
    return out;
}

QString sumTerm(const QString& field) {
    const Definition* d = definitionOf(field);
    return d == nullptr ? QString() : QString::fromUtf8(d->term);
}

QStringList rowCells(const TDataSet& data, int row, const QVector<ReportColumn>& columns) {
    QStringList cells;
    for (const ReportColumn& c : columns)
        cells.append(data.value(row, data.FieldByName(c.field)->index()).value_or(QString()));
    return cells;
}

}  // namespace vlm
