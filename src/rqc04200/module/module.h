#pragma once
// The module's entry points and globals, exported by plain names for the host.
//
// IniProc opens the screen (CriaConsultaConsolida), one instance at a time; AbreConsSoli opens
// it on one consolidation number (the host's --number). frmConsultaConsolida is the one screen
// (nullptr once it is destroyed); boIdCriado is true while a screen exists.

#include "rqc04200_export.h"

class TfrmConsultaConsolida;

extern "C" {
RQC04200_EXPORT void IniProc();
RQC04200_EXPORT void CriaConsultaConsolida();
RQC04200_EXPORT void AbreConsSoli(const char* number);
RQC04200_EXPORT extern TfrmConsultaConsolida* frmConsultaConsolida;
RQC04200_EXPORT extern bool boIdCriado;
}
