#pragma once
// The module's one screen. frmConsolidaSolicita and boIdCriado (module.h) are written by
// module.cpp only: the opening sets them, these calls and the screen's destruction clear them.

namespace rqc04100 {

// The screen is closing: boIdCriado becomes false, so the next IniProc creates a new screen.
void screenClosing();

}  // namespace rqc04100
