#include "shared/vlm_view.h"

#include <QApplication>
#include <QFont>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <stdexcept>

namespace rqc04100 {

namespace {
int g_overrides = 0;  // busy cursors pushed by SetScreenCursor and not yet restored
}

void SetScreenCursor(int cursor) {
    if (cursor == crHourGlass) {
        if (g_overrides == 0) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++g_overrides;
        }
    } else if (cursor == crDefault) {
        for (; g_overrides > 0; --g_overrides)
            QApplication::restoreOverrideCursor();
    } else {
        throw std::invalid_argument("unsupported screen cursor " + std::to_string(cursor));
    }
}

void ShowAsMdiChild(TfrmRotiGeral* form) {
    QMdiArea* area = nullptr;
    if (QWidget* main = vlm::mainForm()) {
        area = qobject_cast<QMdiArea*>(main);
        if (area == nullptr)
            area = main->findChild<QMdiArea*>();
    }
    if (area == nullptr) {
        form->show();
        return;
    }
    QMdiSubWindow* sub =
        area->addSubWindow(form, Qt::SubWindow | Qt::MSWindowsFixedSizeDialogHint |
                                     Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    form->show();
    sub->show();
}

}  // namespace rqc04100

namespace rqc04100 {

void SubstituteDesignFonts() {
    const QString design = QStringLiteral("MS Sans Serif");
    if (!QFont::substitutes(design).isEmpty())
        return;
    QFont::insertSubstitutions(design, {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                        QStringLiteral("DejaVu Sans Condensed")});
}

}  // namespace rqc04100
