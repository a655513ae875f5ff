#pragma once
// Moving the focus back to a control on a failure path.

class QWidget;

namespace rqc04100 {

// Gives `control` the input focus when it can take it. A disabled or hidden control is left
// alone, so the failure under way stays the only one raised.
void focusBack(QWidget* control) noexcept;

}  // namespace rqc04100
