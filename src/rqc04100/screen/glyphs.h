#pragma once
// The screen's button pictures, drawn in code: two-state icons (normal and disabled, 16 by 16).

#include <QIcon>
#include <QString>

namespace rqc04100 {

// "pesquisa" (single search), "lista" (list search), "confirma" (confirm) or "simula"
// (preview). Throws
// std::invalid_argument for another name.
QIcon glyph(const QString& name);

}  // namespace rqc04100
