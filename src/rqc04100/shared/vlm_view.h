#pragma once
// The screen's view of the shared client package: the package's headers plus the few
// platform services the screen uses that the package leaves to each screen.

#include "vlm/check_result_serv.h"
#include "vlm/client_data_set.h"
#include "vlm/net_connection.h"
#include "vlm/vlm.h"

class QWidget;
class TfrmRotiGeral;

// A persistent text field of a client data set.
using TStringField = TField;

namespace rqc04100 {

// Screen cursor values.
inline constexpr int crDefault = 0;
inline constexpr int crHourGlass = -11;

// Sets the application-wide cursor: crHourGlass shows the busy cursor, crDefault restores
// the normal one. Other values are refused with std::invalid_argument.
void SetScreenCursor(int cursor);

// Makes `form` an MDI child of the main form's MDI area and shows it; without a main form
// that has an MDI area, shows it as a window of its own.
void ShowAsMdiChild(TfrmRotiGeral* form);

}  // namespace rqc04100

namespace rqc04100 {

// The screen's fonts are named as designed ("MS Sans Serif"); this maps that name onto the
// closest fonts found on Linux (metric-compatible sans faces first, then a condensed one), once.
void SubstituteDesignFonts();

}  // namespace rqc04100
