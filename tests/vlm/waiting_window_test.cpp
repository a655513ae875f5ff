// The waiting animation as a real window on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>

#include "controls.h"
#include "helpers.h"

namespace {

// Counts the paint events of the waiting window and its children, whoever sends them.
class PaintCounter : public QObject {
  public:
    PaintCounter() { QApplication::instance()->installEventFilter(this); }
    ~PaintCounter() override { QApplication::instance()->removeEventFilter(this); }
    int paints = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* w = qobject_cast<QWidget*>(o);
        if (e->type() == QEvent::Paint && w != nullptr && w->window()->objectName() == "vlmWaiting")
            ++paints;
        return false;
    }
};

QWidget* visibleWaiting() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "vlmWaiting" && w->isVisible())
            return w;
    }
    return nullptr;
}

}  // namespace

TEST(ActiveShowAvi, WindowIsPaintedCentredOverTheFormBeforeItReturns) {
    QWidget form;
    form.setGeometry(100, 80, 640, 480);
    form.show();
    QApplication::processEvents();
    PaintCounter counter;
    ActiveShowAvi(&form, 1, "Recebendo dados do servidor...");
    // Nothing runs the event loop from here on, as during the blocking call that follows.
    QWidget* waiting = visibleWaiting();
    ASSERT_NE(waiting, nullptr);
    EXPECT_GT(counter.paints, 0);
    EXPECT_EQ(waiting->findChild<QLabel*>("text")->text(), "Recebendo dados do servidor...");
    const QPoint centre = waiting->frameGeometry().center();
    const QPoint formCentre = form.mapToGlobal(form.rect().center());
    EXPECT_LE((centre - formCentre).manhattanLength(), 4);
    EXPECT_TRUE(waiting->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(waiting->findChild<TAnimate*>()->Active());
    DeactiveShowAvi();
    EXPECT_EQ(visibleWaiting(), nullptr);
}

TEST(ActiveShowAvi, ASecondCallReplacesTheTextOfTheSameWindow) {
    QWidget form;
    form.resize(400, 300);
    form.show();
    ActiveShowAvi(&form, 1, "Validando dados do servidor...");
    QWidget* first = visibleWaiting();
    ASSERT_NE(first, nullptr);
    ActiveShowAvi(&form, 1, "Recebendo dados do servidor...");
    EXPECT_EQ(visibleWaiting(), first);
    EXPECT_EQ(first->findChild<QLabel*>("text")->text(), "Recebendo dados do servidor...");
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        shown += w->objectName() == "vlmWaiting" && w->isVisible() ? 1 : 0;
    EXPECT_EQ(shown, 1);
    DeactiveShowAvi();
    DeactiveShowAvi();  // none shown: nothing happens
    EXPECT_EQ(visibleWaiting(), nullptr);
}

TEST(ActiveShowAvi, IndicatorMovesWhileTheEventLoopRuns) {
    QWidget form;
    form.resize(400, 300);
    form.show();
    ActiveShowAvi(&form, 1, "Consolidando...");
    auto* indicator = visibleWaiting()->findChild<TAnimate*>();
    const int before = indicator->Frame();
    QTest::qWait(300);
    EXPECT_NE(indicator->Frame(), before);
    DeactiveShowAvi();
}

TEST(ActiveShowAvi, WithoutAFormItUsesTheMainForm) {
    QWidget main;
    main.setGeometry(50, 50, 500, 400);
    main.show();
    vlm::setMainForm(&main);
    ActiveShowAvi(nullptr, 1, "Aguarde...");
    QWidget* waiting = visibleWaiting();
    ASSERT_NE(waiting, nullptr);
    EXPECT_EQ(waiting->parentWidget(), &main);
    DeactiveShowAvi();
    vlm::setMainForm(nullptr);
}
