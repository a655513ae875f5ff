#include "qt_fixture.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <cstdlib>

#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "vlm/frm_roti_geral.h"
#include "vlm/helpers.h"

namespace rqc::test {

QApplication& application() {
    static int argc = 1;
    static char name[] = "rqc-qt-test";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

DemoSuite::DemoSuite() {
    {
        auto db = suitedb::Connection::open(dbPath());
        suitedb::applySchema(*db);
        suitedb::loadDemo(*db, suitedb::localToday());
    }
    ServerProcess::Options options;
    options.db = dbPath();
    options.workDir = m_dir.path().string();
    m_server = std::make_unique<ServerProcess>(options);
    m_server->start();
}

vlm::HostConfig DemoSuite::config(const QString& branch) const {
    vlm::HostConfig c;
    c.processingBranch = branch;
    c.serverHost = QStringLiteral("127.0.0.1");
    c.serverPort = m_server->port();
    c.engine = vlm::DbEngine::Sqlite;
    c.dbPath = QString::fromStdString(dbPath());
    return c;
}

HostWindow::HostWindow(const vlm::HostConfig& config) : m_mdi(new QMdiArea(&m_window)) {
    application();
    m_window.setCentralWidget(m_mdi);
    m_window.resize(900, 600);
    vlm::setHostConfig(config);
    m_database.Open(config);
    vlm::setMainForm(&m_window);
    m_window.show();
    settle();
}

HostWindow::~HostWindow() {
    for (QMdiSubWindow* sub : m_mdi->subWindowList()) {
        QPointer<QMdiSubWindow> guard(sub);
        if (auto* form = qobject_cast<TfrmRotiGeral*>(sub->widget()))
            form->Close();
        settle();
        delete guard.data();
    }
    settle();
    vlm::setMainForm(nullptr);
}

void HostWindow::setConfig(const vlm::HostConfig& config) {
    vlm::setHostConfig(config);
}

int HostWindow::screenCount() const {
    return m_mdi->subWindowList().size();
}

}  // namespace rqc::test
