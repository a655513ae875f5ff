#include "screen/consulta_layout.h"

#include "vlm/product_line_columns.h"

namespace rqc04200 {

using vlm::ColumnKind;

const QVector<vlm::ReportColumn>& listColumns() {
    static const QVector<vlm::ReportColumn> c = {
        {QStringLiteral("Número"), ColumnKind::Code, false, QStringLiteral("NRCONSSOLI")},
        {QStringLiteral("Gerada em"), ColumnKind::Date, false, QStringLiteral("DTGERACAO")},
        {QStringLiteral("Situação"), ColumnKind::Text, false, QStringLiteral("DSSITUACAO")},
        {QStringLiteral("Usuário"), ColumnKind::Text, false, QStringLiteral("NMUSUARIO")},
        {QStringLiteral("Produtos"), ColumnKind::Number, false, QStringLiteral("NRPRODUTOS")},
        {QStringLiteral("Linhas"), ColumnKind::Number, false, QStringLiteral("NRLINHAS")},
        {QStringLiteral("Filial"), ColumnKind::Code, false, QStringLiteral("CDFILIAL")},
        {QStringLiteral("Fil. estoque"), ColumnKind::Code, false, QStringLiteral("CDFILEST")},
        {QStringLiteral("Estornada em"), ColumnKind::Date, false, QStringLiteral("DTESTORNO")},
        {QStringLiteral("Estornada por"), ColumnKind::Text, false, QStringLiteral("NMUSUESTORNO")},
        {QStringLiteral("Fechada em"), ColumnKind::Date, false, QStringLiteral("DTFECHAMENTO")},
        {QStringLiteral("Fechada por"), ColumnKind::Text, false, QStringLiteral("NMUSUFECHAMENTO")},
        {QStringLiteral("Central"), ColumnKind::Code, false, QStringLiteral("CDFILCENTCMP")},
        {QStringLiteral("Filtro"), ColumnKind::Text, false, QStringLiteral("DSFILTRO")},
        {QStringLiteral("Sit."), ColumnKind::Code, false, QStringLiteral("IDSITUACAO")},
    };
    return c;
}

const QVector<vlm::ReportColumn>& itemColumns() {
    static const QVector<vlm::ReportColumn> c = vlm::productLineColumns(
        {"CDPRODUTO", "CDARVPROD", "NMPRODUTO", "QTCONSOLIDADA", "QTSOLICITADA", "QTLIMITESEG",
         "QTESTOQUE", "QTAF", "QTCONSABERTA", "QTARREDONDA", "NRLINHAS"});
    return c;
}

const QVector<vlm::ReportColumn>& originColumns() {
    static const QVector<vlm::ReportColumn> c = [] {
        QVector<vlm::ReportColumn> out = vlm::productLineColumns({"CDPRODUTO"});
        out += {
            {QStringLiteral("Fil. solicitante"), ColumnKind::Code, false,
             QStringLiteral("CDFILSOLI")},
            {QStringLiteral("Fil. lançamento"), ColumnKind::Code, false,
             QStringLiteral("CDFILLANCA")},
            {QStringLiteral("Solicitação"), ColumnKind::Code, false, QStringLiteral("NRSOLICMP")},
            {QStringLiteral("Item"), ColumnKind::Code, false, QStringLiteral("NRITEM")},
        };
        out += vlm::productLineColumns({"QTSOLICITADA"});
        out.append(
            {QStringLiteral("Entrega"), ColumnKind::Date, false, QStringLiteral("DTENTREGA")});
        return out;
    }();
    return c;
}

const QVector<FilterControl>& filterControls() {
    static const QVector<FilterControl> c = {
        {"medCdFilCentCmp", FilterKind::BranchCode, "Filial &central:", nullptr, "Filial central",
         "Código da filial central; F2 pesquisa as filiais", 0},
        {"btpFilCentCmp", FilterKind::SearchButton, nullptr, "Pesquisar a filial central (F2)",
         "Pesquisar a filial central", nullptr, 0},
        {"edtNmFilCentCmp", FilterKind::BranchName, nullptr, nullptr, "Nome da filial central",
         nullptr, 0},
        {"depDataIni", FilterKind::Date, "&Geradas de:", nullptr, "Geradas de",
         "Data dd/mm/aaaa; F4 abre o calendário", 12},
        {"depDataFin", FilterKind::Date, "a&té:", nullptr, "Geradas até",
         "Data dd/mm/aaaa; F4 abre o calendário", 0},
        {"chbSoAbertas", FilterKind::CheckBox, nullptr, "Somente &abertas", nullptr, nullptr, 12},
    };
    return c;
}

const QVector<GridRow>& gridRows() {
    static const QVector<GridRow> g = {
        {"grdConsSoli", "Consolidações do período", nullptr, &listColumns, Qt::DescendingOrder, 3,
         "lblFiltro"},
        {"grdItens", "Produtos da consolidação", "&Produtos da consolidação:", &itemColumns,
         Qt::AscendingOrder, 4, "lblTotItens"},
        {"grdOrigem", "Linhas de origem do produto",
         "&Linhas de origem do produto:", &originColumns, Qt::AscendingOrder, 2, "lblTotOrigem"},
    };
    return g;
}

const QVector<BarButton>& barButtons() {
    static const QVector<BarButton> b = {
        {"sbtEstorna", "Estornar a consolidação (Ctrl+E)", nullptr, Qt::CTRL | Qt::Key_E},
        {"sbtExportaCsv", "Exportar para planilha (CSV) (Ctrl+S)", "planilha",
         Qt::CTRL | Qt::Key_S},
        {"sbtExportaPdf", "Exportar para PDF (Ctrl+D)", "pdf", Qt::CTRL | Qt::Key_D},
        {"sbtImprime", "Imprimir, com visualização (Ctrl+P)", "imprimir", Qt::CTRL | Qt::Key_P},
    };
    return b;
}

}  // namespace rqc04200
