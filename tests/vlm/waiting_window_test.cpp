// The waiting animation as a real window on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <thread>

#include "support/recording_peer.h"
#include "vlm/controls.h"
#include "vlm/dialogs.h"
#include "vlm/helpers.h"
#include "vlm/messages.h"
#include "vlm/net_connection.h"

namespace {

// Counts the paint events of the windows named `window` and their children.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QString window = "vlmWaiting") : m_window(std::move(window)) {
        QApplication::instance()->installEventFilter(this);
    }
    ~PaintCounter() override { QApplication::instance()->removeEventFilter(this); }
    int paints = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* w = qobject_cast<QWidget*>(o);
        if (e->type() == QEvent::Paint && w != nullptr && w->window()->objectName() == m_window)
            ++paints;
        return false;
    }

  private:
    QString m_window;
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

TEST(ActiveShowAvi, ShowsTheSecondsElapsedAndThenThatTheServerDoesNotAnswer) {
    QWidget form;
    form.resize(400, 300);
    form.show();
    vlm::setWaitingSilenceNoticeMs(1200);
    ActiveShowAvi(&form, 1, "Consolidando...");
    auto* elapsed = visibleWaiting()->findChild<QLabel*>("elapsed");
    auto* notice = visibleWaiting()->findChild<QLabel*>("notice");
    ASSERT_NE(elapsed, nullptr);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(elapsed->text(), QString::fromUtf8("Aguardando há 0 s"));
    EXPECT_FALSE(notice->isVisible());
    QTest::qWait(1500);
    EXPECT_EQ(elapsed->text(), QString::fromUtf8("Aguardando há 1 s"));
    EXPECT_TRUE(notice->isVisible());
    EXPECT_TRUE(notice->text().contains(QString::fromUtf8("não responde há 1 s")))
        << notice->text().toStdString();
    DeactiveShowAvi();
    vlm::setWaitingSilenceNoticeMs(30000);
}

TEST(WaitingCall, InputIsRefusedAndPaintingGoesOnUntilTheAnswerIsIn) {
    using rqc::test::RecordingPeer;
    RecordingPeer peer;
    peer.setScript([](const rqc::protocol::CallRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        return RecordingPeer::Reply::answer(rqc::protocol::CallResult::ofText("42"));
    });
    QWidget form;
    form.setObjectName("form");
    auto* button = new QPushButton("Confirmar", &form);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    form.resize(400, 300);
    form.show();
    QApplication::processEvents();
    TNetConnection net;
    net.ServerName = "Rqc04100.rdmConsolidaSolicita";
    net.Port = peer.port();
    net.SetConnected(true);

    PaintCounter formPaints("form");
    int paintsDuringCall = -1;
    bool secondCallRefused = false;
    QTimer::singleShot(150, [&] { form.update(); });
    QTimer::singleShot(400, [&] {
        paintsDuringCall = formPaints.paints;
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(button, Qt::Key_Space);
        form.close();
        try {
            net.AppServer().Call("M", {});
        } catch (const EAbort&) {
            secondCallRefused = true;
        }
    });
    ActiveShowAvi(&form, 1, "Consolidando...");
    EXPECT_EQ(net.AppServer().Call("M", {}).AsString(), "42");
    DeactiveShowAvi();
    EXPECT_GT(paintsDuringCall, 0);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(secondCallRefused);
    EXPECT_EQ(peer.calls().size(), 1u);

    // Once the answer is in, input and dialogs work again.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    QMessageBox box(QMessageBox::Information, "Aviso", "Pronto", QMessageBox::Ok, &form);
    QTimer::singleShot(100,
                       [&] { QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton); });
    QTimer::singleShot(5000, [&] { box.done(-1); });
    EXPECT_EQ(box.exec(), QMessageBox::Ok);
}
