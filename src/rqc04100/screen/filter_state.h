#pragma once
// The filter state the screen keeps besides its controls, as a value for callers outside the
// form (the form itself holds the six fields under these names).

#include <QString>

namespace rqc04100 {

struct FilterState {
    bool boPrimAtiva = true;  // the first activation has still to run
    QString stListaComp;      // buyer list picked (CDOPERADOR values)
    QString stListaFili;      // requesting-branch list picked (CDFILIAL values)
    QString stTodasFili;      // "T" when every requesting branch is meant, else ""
    QString stListaSolicit;   // request list picked (CHAVE values)
    QString stCdFilCentCmp;   // central purchasing branch of the processing branch

    bool operator==(const FilterState&) const = default;
};

}  // namespace rqc04100
