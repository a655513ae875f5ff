#pragma once
// The screen's message catalogue: the lines loaded into msgPadrao, "key|text" each, in order.

#include <QStringList>

#include "rqc04100_export.h"

namespace rqc04100 {

// The 25 catalogue lines exactly as the screen carries them (blanks and accents kept).
RQC04100_EXPORT const QStringList& catalogueLines();

}  // namespace rqc04100
