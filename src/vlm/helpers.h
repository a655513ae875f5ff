#pragma once
// The package's helper functions, under the names the screens use.

#include <QDate>
#include <QString>

#include "vlm_export.h"

class QLocale;
class QWidget;
class TDataSource;

// Days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;
// Kind of waiting animation; the screens use the search animation.
using TShowAvi = int;
inline constexpr TShowAvi kShowAviSearch = 1;

// True when `text` holds nothing but blanks (characters up to ' '), the empty text included.
VLM_EXPORT bool EmptyString(const QString& text);

// A code adjusted to `width`: blanks around it are dropped; a blank text gives ""; a code of
// digits only is left-padded with zeros ("1" -> "0001"); any other code is upper-cased and
// right-padded with blanks ("AB" -> "AB  "); a longer code keeps its first `width` characters.
VLM_EXPORT QString Ajusta(const QString& text, int width);

// `text` repeated `count` times ("" when count <= 0).
VLM_EXPORT QString Replicate(const QString& text, int count);

// Weekday name of a date, Sunday first: "Domingo", "Segunda", "Terça", "Quarta", "Quinta",
// "Sexta", "Sábado". A date of 0 (no date) gives "".
VLM_EXPORT QString NomeSemana(TDateTime date);

VLM_EXPORT QString FiliProc();  // the host's processing branch ([Filial] Processamento)
VLM_EXPORT bool ModuFili();     // true when screens may not change it ([Filial] Fixa)
VLM_EXPORT QString WebURL();    // application server host ([Servidor] Host)
VLM_EXPORT int WebPort();       // application server port ([Servidor] Porta)

// Edit-mask picture of a code kind, in edit-mask syntax. Kind 0, the product-tree code
// (PRODUTO.CDARVPROD, "GG.SS.FFF.IIII" as "01.01.001.0001"): digits with the dots kept in the
// text, so that a fully typed code is the stored code; "_" marks the free positions. Any
// other kind: "" (no mask).
VLM_EXPORT QString DBPict(int kind);

// Processing date of `branch` (FILIAL.DTPROCESSAMENTO) through dtmDBGeral; today when no
// database is open, the branch is not registered or its date is null.
VLM_EXPORT TDateTime DataProc(const QString& branch);

// Shows the waiting animation over `form` (or the main form) with `text`; painted before
// returning. DeactiveShowAvi hides it; hiding when none is shown does nothing.
VLM_EXPORT void ActiveShowAvi(QWidget* form, TShowAvi kind, const QString& text);
VLM_EXPORT void DeactiveShowAvi();

// The list picker over the data set of `dataSource` (opened when closed): the user ticks rows;
// on OK `list` becomes their `keyField` values in list form ("0001,0003", see vlm::listText);
// on Cancel `list` is left as it was. Rows whose key is in the incoming list start ticked;
// `tickAll` true starts with every row ticked. Keys of the incoming list that no row has are
// dropped on OK; an empty data set is shown as "Nenhum registro" and OK then empties `list`.
// Returns true on OK. The window is vlm::PickListDialog (pick_dialogs.h).
VLM_EXPORT bool PesquisaLista(TDataSource* dataSource, const QString& keyField,
                              const QString& title, bool tickAll, QString& list);

namespace vlm {

// A TDateTime's day is its whole part truncated towards zero, its time of day the fraction's
// size (-1.25 is 29/12/1899 06:00), as on the wire.
VLM_EXPORT TDateTime toDateTime(const QDate& date, double timeOfDay = 0);  // invalid date: 0
VLM_EXPORT QDate toDate(TDateTime value);      // the day part; 0 gives 1899-12-30
VLM_EXPORT double timeOfDay(TDateTime value);  // in [0, 1)

// The search animation over the main form with `text` while the object lives: shown when it is
// made, hidden when it goes, however the scope ends.
class VLM_EXPORT WaitingScope {
  public:
    explicit WaitingScope(const QString& text);
    ~WaitingScope();
    WaitingScope(const WaitingScope&) = delete;
    WaitingScope& operator=(const WaitingScope&) = delete;
};

// The application's busy cursor from construction until release() or destruction.
class VLM_EXPORT BusyCursor {
  public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    void release() noexcept;  // restores the normal cursor; later calls do nothing

  private:
    bool m_busy = true;
};

// The locale of every number, date and name shown to the user: Portuguese (Brazil).
VLM_EXPORT const QLocale& userLocale();
// A number as a Brazilian user reads it: decimal comma, thousands grouped unless `grouped` is
// false, at most three decimals (the scale of quantities), no trailing zeros: 1234.5 gives
// "1.234,5", 7.0 gives "7", 0.1 + 0.2 gives "0,3".
VLM_EXPORT QString numberText(double value, bool grouped = true);
// A count as the user reads it, thousands grouped: "1.814".
VLM_EXPORT QString countText(qlonglong value);
// The same for a count as text (a cell of a packet); the text as it is when not a number.
VLM_EXPORT QString countText(const QString& value);

// The application's main form: owner of the waiting animation and dialogs. Set by the host.
VLM_EXPORT QWidget* mainForm();
VLM_EXPORT void setMainForm(QWidget* form);

// Path of the help page of `context` ("<context>.html"), searched in order in: the folder
// named by RQC_HELP_DIR, <binary dir>/help, <binary dir>/../share/rqc/help, and the source
// tree's docs/help. Empty when none has it.
VLM_EXPORT QString helpPagePath(int context);

}  // namespace vlm
