#pragma once
// "Consulta de Consolidação": the consolidations of a central branch generated in a period,
// the product lines of the selected one with every term, the source lines of the selected
// product (fetched for that product only), the reversal of an open consolidation, and the
// product lines or the source lines as a report: printed, CSV or PDF.
//
// Keys: F5 Pesquisar, Ctrl+E Estornar, Ctrl+S CSV, Ctrl+D PDF, Ctrl+P Imprimir (print
// preview); F2 searches the central branch. The report is of the source lines while they
// have the focus, of the product lines otherwise.

#include <QString>
#include <QVector>

#include "rqc04200_export.h"
#include "screen/consulta_layout.h"
#include "vlm/btn_pesquisa.h"
#include "vlm/client_data_set.h"
#include "vlm/date_edit_plus.h"
#include "vlm/frm_roti_geral.h"
#include "vlm/net_connection.h"
#include "vlm/table_report.h"

class QHBoxLayout;
class QLabel;
class QTableWidget;
class QVBoxLayout;
class TADOIBQuery;
class TfrmRotiGeral;

namespace rqc04200 {

// Places the form in the main form's MDI area when it is in none yet, then brings it to the
// front and activates it (TfrmRotiGeral::ShowInFront).
RQC04200_EXPORT void showInFront(TfrmRotiGeral* form);

}  // namespace rqc04200

class RQC04200_EXPORT TfrmConsultaConsolida : public TfrmRotiGeral {
    Q_OBJECT
  public:
    explicit TfrmConsultaConsolida(QWidget* parent = nullptr);
    ~TfrmConsultaConsolida() override;

    // Filter: the central branch (fixed when the host fixes the branch), the generation days.
    TMaskEdit* medCdFilCentCmp;
    TBtnPesquisa* btpFilCentCmp;
    TEdit* edtNmFilCentCmp;
    TDateEditPlus* depDataIni = nullptr;
    TDateEditPlus* depDataFin = nullptr;
    TCheckBox* chbSoAbertas;
    // Grids: consolidations, product lines of the selected one, source lines of the product;
    // the selected one's filter in words and the totals under the grids.
    QTableWidget* grdConsSoli;
    QLabel* lblFiltro;
    QTableWidget* grdItens;
    QLabel* lblTotItens;
    QTableWidget* grdOrigem;
    QLabel* lblTotOrigem;
    // Buttons below sbtConfirma (which runs the search).
    TButtonFlat* sbtEstorna;
    TButtonFlat* sbtExportaCsv;
    TButtonFlat* sbtExportaPdf;
    TButtonFlat* sbtImprime;

    TNetConnection* netConsultaConsolida;
    TClientDataSet* cdsConsSoli;
    TClientDataSet* cdsItens;
    TClientDataSet* cdsOrigem;
    TADOIBQuery* qryCentComp;
    TADOIBQuery* qryPesqFilial;
    TDataSource* dtsPesqFilial;

    void FormCreate(QObject* Sender) override;
    void FormClose(QObject* Sender, TCloseAction& Action) override;

    // Lists the consolidations of the filter and selects the first (or keeps the selected
    // number when it is still listed).
    void Pesquisa();
    // Looks the number up and shows it alone, the filter set to its generation day; an unknown
    // number, or one of another central branch, is an error naming it.
    void AbreNumero(const QString& number);
    // The selected consolidation's number, or "" when none is selected.
    QString NumeroSelecionado() const;
    void SelecionaConsolidacao(int row);
    void SelecionaProduto(int row);

    void sbtConfirmaClick(QObject* Sender);
    void sbtEstornaClick(QObject* Sender);
    void sbtExportaCsvClick(QObject* Sender);
    void sbtExportaPdfClick(QObject* Sender);
    void sbtImprimeClick(QObject* Sender);
    // Checks the central branch typed (registered) and shows its name.
    void vd_FilCentCmp();

    // The product lines shown, and the source lines shown, as reported.
    vlm::ReportTable TabelaItens() const;
    vlm::ReportTable TabelaOrigem() const;
    // The report the export and print buttons act on: of the source lines while they have the
    // focus (RelatorioOrigem), of the product lines otherwise.
    bool RelatorioOrigem() const;
    vlm::ReportTable Relatorio() const;

  private:
    TServerResult call(const QString& method, const std::vector<TServerArg>& args,
                       const QString& waitText, int expected = 0);
    void fetchList();  // the filter checked, the list fetched into cdsConsSoli
    void selectNumber(const QString& number);
    QString selectedCell(const QString& field) const;  // of the selected consolidation
    // The branch's name ("" when it has none); a null text when it is not registered.
    QString nomeFilial(const QString& code);
    vlm::ReportTable report(const QTableWidget* grid, const QVector<vlm::ReportColumn>& columns,
                            const TDataSet& data, const QString& title) const;
    // The widgets, from the layout tables (form_build.cpp); the tab stops appended in order.
    QWidget* makeFilterControl(const rqc04200::FilterControl& row);
    QHBoxLayout* buildFilter(QList<QWidget*>& tabOrder);
    void buildGrids(QVBoxLayout& box, QList<QWidget*>& tabOrder);
    void buildSideBar(QList<QWidget*>& tabOrder);
    bool m_filling = false;  // grids being refilled: selection signals ignored
};
