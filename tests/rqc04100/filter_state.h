#pragma once
// The screen's six private filter fields, read for the tests' checks. Include it from the one
// test file of a test program: it holds an explicit instantiation.

#include <QString>

#include "screen/frm_consolida_solicita.h"

namespace rqc04100::test {

struct FilterState {
    bool boPrimAtiva = true;  // the first activation has still to run
    QString stListaComp;      // buyer list picked (CDOPERADOR values)
    QString stListaFili;      // requesting-branch list picked (CDFILIAL values)
    QString stTodasFili;      // "T" when every requesting branch is meant, else ""
    QString stListaSolicit;   // request list picked (CHAVE values)
    QString stCdFilCentCmp;   // central purchasing branch of the processing branch

    bool operator==(const FilterState&) const = default;
};

FilterState readFilterFields(const TfrmConsolidaSolicita& form);

// The names in the arguments of an explicit instantiation are exempt from access checks: the
// instantiation below hands member pointers to the private fields to readFilterFields, so the
// product needs no accessor for its tests.
template <bool TfrmConsolidaSolicita::*PrimAtiva, QString TfrmConsolidaSolicita::*... Texts>
struct FilterFields {
    friend FilterState readFilterFields(const TfrmConsolidaSolicita& form) {
        return {form.*PrimAtiva, form.*Texts...};
    }
};

template struct FilterFields<
    &TfrmConsolidaSolicita::boPrimAtiva, &TfrmConsolidaSolicita::stListaComp,
    &TfrmConsolidaSolicita::stListaFili, &TfrmConsolidaSolicita::stTodasFili,
    &TfrmConsolidaSolicita::stListaSolicit, &TfrmConsolidaSolicita::stCdFilCentCmp>;

// A copy of the filter fields of `form`.
inline FilterState filterState(const TfrmConsolidaSolicita& form) {
    return readFilterFields(form);
}

}  // namespace rqc04100::test
