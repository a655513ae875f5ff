#pragma once
// "Consulta de Consolidação": the consolidations of a central branch generated in a period,
// the product lines of the selected one with every term, the source lines of the selected
// product, the reversal of an open consolidation, and the product lines exported to CSV or PDF.

#include <QString>
#include <QVector>

#include "rqc04200_export.h"
#include "screen/table_export.h"
#include "vlm/client_data_set.h"
#include "vlm/frm_roti_geral.h"
#include "vlm/net_connection.h"

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QTableWidget;
class TADOIBQuery;
class TfrmRotiGeral;

namespace rqc04200 {

// One column of a grid: the server's field, its Portuguese header and how it is shown.
struct GridColumn {
    QString field;
    QString header;
    ColumnKind kind;
};

RQC04200_EXPORT const QVector<GridColumn>& listColumns();
RQC04200_EXPORT const QVector<GridColumn>& itemColumns();
RQC04200_EXPORT const QVector<GridColumn>& originColumns();

// Places the form in the main form's MDI area when it is in none yet, then brings it to the
// front and activates it (TfrmRotiGeral::ShowInFront).
RQC04200_EXPORT void showInFront(TfrmRotiGeral* form);

}  // namespace rqc04200

class RQC04200_EXPORT TfrmConsultaConsolida : public TfrmRotiGeral {
    Q_OBJECT
  public:
    explicit TfrmConsultaConsolida(QWidget* parent = nullptr);
    ~TfrmConsultaConsolida() override;

    // Filter
    QLineEdit* medCdFilCentCmp;
    QDateEdit* depDataIni;
    QDateEdit* depDataFin;
    QCheckBox* chbSoAbertas;
    // Grids: consolidations, product lines of the selected one, source lines of the product.
    QTableWidget* grdConsSoli;
    QTableWidget* grdItens;
    QTableWidget* grdOrigem;
    // Buttons below sbtConfirma (which runs the search).
    TButtonFlat* sbtEstorna;
    TButtonFlat* sbtExportaCsv;
    TButtonFlat* sbtExportaPdf;

    TNetConnection* netConsultaConsolida;
    TClientDataSet* cdsConsSoli;
    TClientDataSet* cdsItens;
    TClientDataSet* cdsOrigem;
    TADOIBQuery* qryCentComp;

    void FormCreate(QObject* Sender) override;
    void FormClose(QObject* Sender, TCloseAction& Action) override;

    // Lists the consolidations of the filter and selects the first (or keeps the selected
    // number when it is still listed).
    void Pesquisa();
    // Lists every consolidation of the central branch, whatever its date, and selects
    // `number`; an unknown number is an error naming it.
    void AbreNumero(const QString& number);
    // The selected consolidation's number, or "" when none is selected.
    QString NumeroSelecionado() const;
    void SelecionaConsolidacao(int row);
    void SelecionaProduto(int row);

    void sbtConfirmaClick(QObject* Sender);
    void sbtEstornaClick(QObject* Sender);
    void sbtExportaCsvClick(QObject* Sender);
    void sbtExportaPdfClick(QObject* Sender);

    // The product lines shown, as exported.
    rqc04200::ExportTable TabelaItens() const;

  private:
    TServerResult call(const QString& method, const std::vector<TServerArg>& args,
                       const QString& waitText, int expected = 0);
    void fetchList();  // the filter checked, the list fetched into cdsConsSoli
    void selectNumber(const QString& number);
    bool m_filling = false;  // grids being refilled: selection signals ignored
};
