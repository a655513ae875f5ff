#pragma once
// The single-pick search button. A click (or F2 or Alt+Down in the Associate edit, while the
// button is enabled and shown) runs OnBeforePesq (which usually opens the data set; setting its
// flag to false stops the search), opens the data set when still closed, shows EmptyError when it
// holds no row, otherwise the single-pick dialog over it; after a pick it runs OnAfterPesq with the
// data set on the picked row. The whole click runs through vlm::dispatch.

#include <QString>
#include <QToolButton>
#include <functional>

#include "controls.h"
#include "vlm_export.h"

class TDataSet;
class TDataSource;

using TBeforePesqEvent = std::function<void(QObject* Sender, bool& Continua)>;

class VLM_EXPORT TBtnPesquisa : public QToolButton {
    Q_OBJECT
  public:
    explicit TBtnPesquisa(QWidget* parent = nullptr);

    QString Title;  // title of the pick dialog
    TDataSource* DataSource = nullptr;
    QWidget* Associate = nullptr;  // the edit the picked code goes to (focused after a pick)
    QString EmptyError;            // shown when there is nothing to pick; "" gives a default
    // True: the pick dialog starts on the row whose first visible field equals the text of
    // the associated edit (blanks around and case aside), else on the first row it begins
    // with, else on the first row.
    bool PesqChave = false;

    TBeforePesqEvent OnBeforePesq;
    TNotifyEvent OnAfterPesq;

    void SetHint(const QString& h) { setToolTip(h); }

    // What a click does, run directly (throws what the handlers throw).
    void Pesquisa();

  protected:
    // When polished: unless set already, the button is named "<hint>: <Title>" and the
    // Associate's description names the keys that open the search.
    bool event(QEvent* e) override;

  private:
    void startOnKey(TDataSet& data) const;
};
