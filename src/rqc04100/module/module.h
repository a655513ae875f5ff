#pragma once
// The module's entry points and globals, exported by plain names for the host.
//
// IniProc opens the screen (CriaConsolidaSolicita); an exception raised inside passes to the
// host unchanged. frmConsolidaSolicita is the one screen (nullptr once it is destroyed);
// boIdCriado is true while a screen exists and false at load, after a refused opening and
// after closing.

#include "rqc04100_export.h"

class TfrmConsolidaSolicita;

extern "C" {
RQC04100_EXPORT void IniProc();
RQC04100_EXPORT void CriaConsolidaSolicita();
RQC04100_EXPORT extern TfrmConsolidaSolicita* frmConsolidaSolicita;
RQC04100_EXPORT extern bool boIdCriado;
}
