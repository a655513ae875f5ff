#pragma once
// The screen's view of the shared client package: the package's headers plus the few
// platform services the screen uses that the package leaves to each screen.

#include "vlm/check_result_serv.h"
#include "vlm/client_data_set.h"
#include "vlm/net_connection.h"
#include "vlm/vlm.h"

// A persistent text field of a client data set.
using TStringField = TField;

namespace rqc04100 {

// The screen's fonts are named as designed ("MS Sans Serif"); this maps that name onto the
// closest fonts found on Linux (metric-compatible sans faces first, then a condensed one), once.
void SubstituteDesignFonts();

}  // namespace rqc04100
