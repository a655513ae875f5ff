#include "shared/vlm_view.h"

#include <QFont>

namespace rqc04100 {

void SubstituteDesignFonts() {
    const QString design = QStringLiteral("MS Sans Serif");
    if (!QFont::substitutes(design).isEmpty())
        return;
    QFont::insertSubstitutions(design, {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                        QStringLiteral("DejaVu Sans Condensed")});
}

}  // namespace rqc04100
