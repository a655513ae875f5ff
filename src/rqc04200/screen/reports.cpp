// The consultation's reports: the product lines or the source lines shown, with the selected
// consolidation's header and filter, printed, as a sheet (CSV) or as PDF.
#include <QApplication>
#include <QTableWidget>

#include "screen/frm_consulta_consolida.h"
#include "screen/grids.h"
#include "vlm/dialogs.h"
#include "vlm/helpers.h"
#include "vlm/messages.h"
#include "vlm/product_line_columns.h"

using vlm::ColumnKind;
using vlm::ReportColumn;

namespace {

QString operatorCode() {
    const QString code = TNetConnection::SessionOperator();
    return code.isEmpty() ? qEnvironmentVariable("RQC_OPERATOR") : code;
}

}  // namespace

vlm::ReportTable TfrmConsultaConsolida::report(const QTableWidget* grid,
                                               const QVector<ReportColumn>& columns,
                                               const TDataSet& data, const QString& title) const {
    vlm::ReportTable table;
    table.title = title;
    table.details.append(
        QStringLiteral("Filial central %1 %2; gerada em %3 por %4; situação %5")
            .arg(selectedCell(QStringLiteral("CDFILCENTCMP")).trimmed(), edtNmFilCentCmp->Text(),
                 vlm::displayText(ColumnKind::Date, selectedCell(QStringLiteral("DTGERACAO"))),
                 selectedCell(QStringLiteral("NMUSUARIO")),
                 selectedCell(QStringLiteral("DSSITUACAO"))));
    table.details.append(QStringLiteral("Filtro: ") + selectedCell(QStringLiteral("DSFILTRO")));
    table.operatorCode = operatorCode();
    table.issued = QDateTime::currentDateTime();
    table.columns = columns;
    for (int r = 0; r < grid->rowCount(); ++r)
        table.rows.append(vlm::rowCells(data, rqc04200::dataRow(grid, r), columns));
    return table;
}

vlm::ReportTable TfrmConsultaConsolida::TabelaItens() const {
    return report(grdItens, rqc04200::itemColumns(), *cdsItens,
                  QStringLiteral("Consolidação %1: produtos").arg(NumeroSelecionado()));
}

vlm::ReportTable TfrmConsultaConsolida::TabelaOrigem() const {
    const int row = grdItens->currentRow();
    const QString product = row < 0 ? QString()
                                    : QStringLiteral("%1 %2").arg(grdItens->item(row, 0)->text(),
                                                                  grdItens->item(row, 2)->text());
    return report(grdOrigem, rqc04200::originColumns(), *cdsOrigem,
                  QStringLiteral("Consolidação %1: linhas de origem do produto %2")
                      .arg(NumeroSelecionado(), product));
}

bool TfrmConsultaConsolida::RelatorioOrigem() const {
    return QApplication::focusWidget() == grdOrigem;
}

vlm::ReportTable TfrmConsultaConsolida::Relatorio() const {
    const bool origin = RelatorioOrigem();
    const QTableWidget* grid = origin ? grdOrigem : grdItens;
    if (NumeroSelecionado().isEmpty() || grid->rowCount() == 0) {
        MensErro(origin ? QStringLiteral("Não há linhas de origem para o relatório: selecione um "
                                         "produto que tenha linhas.")
                        : QStringLiteral("Não há produtos para o relatório: selecione uma "
                                         "consolidação que tenha produtos."),
                 true);
    }
    return origin ? TabelaOrigem() : TabelaItens();
}

namespace {

// Asks where to save the report (named after the consolidation and what it lists), writes it
// there and says so; nothing when the user gives up.
void exportReport(const TfrmConsultaConsolida& form, const QString& title, const QString& extension,
                  const QString& filter, void (*write)(const vlm::ReportTable&, const QString&)) {
    const vlm::ReportTable table = form.Relatorio();
    const QString path = vlm::askSavePath(
        title,
        QStringLiteral("consolidacao-%1%2.%3")
            .arg(form.NumeroSelecionado(),
                 form.RelatorioOrigem() ? QStringLiteral("-origem") : QString(), extension),
        filter);
    if (path.isEmpty())
        return;
    write(table, path);
    MessageDlg(QStringLiteral("Arquivo gravado: %1").arg(path), mtInformation, {mbOK}, 0);
}

}  // namespace

void TfrmConsultaConsolida::sbtExportaCsvClick(QObject*) {
    exportReport(*this, QStringLiteral("Exportar para planilha"), QStringLiteral("csv"),
                 QStringLiteral("Planilha CSV (*.csv)"), &vlm::writeCsv);
}

void TfrmConsultaConsolida::sbtExportaPdfClick(QObject*) {
    exportReport(*this, QStringLiteral("Exportar para PDF"), QStringLiteral("pdf"),
                 QStringLiteral("Documento PDF (*.pdf)"), &vlm::writePdf);
}

void TfrmConsultaConsolida::sbtImprimeClick(QObject*) {
    vlm::previewReport(Relatorio(), this);
}
