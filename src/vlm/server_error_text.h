#pragma once
// What the user reads when the application server answers a call with an error: a lead chosen
// by the error's kind, the server's own sentence, and what to do next where the server's
// sentence does not say it. One table for the whole client side.

#include <QString>

#include "vlm_export.h"

// The kind of error the server answered with. Unspecified: a server of an older version, which
// sends no kind, or an error of no other kind.
enum class TServerFailure {
    Unspecified,
    BadArgument,     // a value sent is not acceptable
    Busy,            // the server is busy with other writes
    NotFound,        // no such object, method or record
    Refused,         // not allowed, or refused by a rule of the business
    Database,        // the database failed and nothing of the call was written
    OutcomeUnknown,  // cut while writing: whether it was written is unknown
    Internal,        // a fault of the server
};

namespace vlm {

// "<lead>:\n<server's sentence>", then, with `withAdvice`, the next step on its own line.
VLM_EXPORT QString serverErrorSentence(TServerFailure kind, const QString& serverText,
                                       bool withAdvice);

}  // namespace vlm
