#pragma once
// The preview of a consolidation: what the run would write now for the filter on the screen,
// one row per product with every term of its sum, the totals, and how many of the source lines
// were consolidated before. Read-only. "Consolidar" closes it with Accepted (the screen then
// presses its confirm button), "Fechar" and Esc close it with Rejected. "Imprimir" (Ctrl+P)
// shows the rows as a report in a print preview, "PDF" writes that report to a file.

#include <QDialog>

#include "rqc04100_export.h"
#include "vlm/table_report.h"

class QLabel;
class QPushButton;
class QTableWidget;
class TDataSet;

namespace rqc04100 {

// Sums of a preview's rows.
struct PreviewTotals {
    int products = 0;
    double quantity = 0;               // of QTCONSOLIDADA
    long long lines = 0;               // NRLINHAS
    long long consolidatedBefore = 0;  // NRLINHASCONS
    // Lines match but every product nets to zero or below: the rows are those products and
    // nothing would be consolidated.
    bool allNetZero = false;
};

// The totals of the rows of a GetConsSoliPrevia packet. Throws std::runtime_error (Portuguese)
// when a quantity or a count is not a number.
RQC04100_EXPORT PreviewTotals previewTotals(const TDataSet& rows);

}  // namespace rqc04100

class RQC04100_EXPORT TfrmPreviaConsolida : public QDialog {
    Q_OBJECT
  public:
    // `rows`: the packet of GetConsSoliPrevia; `takesConsolidated`: the filter takes lines that
    // were consolidated before ("Todas" in "Consolida Solicitações"); `whyEmpty`: a sentence
    // added when no line matches (a cause the filter shows, such as an inverted range);
    // `filter`: the filter in words, at the head of the report.
    TfrmPreviaConsolida(const TDataSet& rows, bool takesConsolidated, QWidget* parent = nullptr,
                        const QString& whyEmpty = {}, const QString& filter = {});

    QTableWidget* grdPrevia;
    QLabel* lblTotais;
    QLabel* lblJaConsolidadas;
    QPushButton* btnImprimir;
    QPushButton* btnPdf;
    QPushButton* btnConsolidar;
    QPushButton* btnFechar;

    // The rows as a report, in the grid's columns.
    vlm::ReportTable Relatorio() const;

  private:
    const TDataSet& m_rows;
    QString m_filter;
};
