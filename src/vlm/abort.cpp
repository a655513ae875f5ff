#include "abort.h"

const char* EAbort::what() const noexcept {
    return "Operation aborted";
}

namespace vlm {

QString withDetail(const QString& text, const QString& detail) {
    return detail.isEmpty() ? text : text + QStringLiteral("\n\nDetalhe técnico: ") + detail;
}

}  // namespace vlm
