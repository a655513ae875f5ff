#include "screen_fixture.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <cstdlib>

#include "module/module.h"
#include "screen/frm_consolida_solicita.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

namespace rqc04100::test {

QApplication& application() {
    static int argc = 1;
    static char name[] = "rqc04100-test";
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
        auto db = rqc::suitedb::Connection::open(dbPath());
        rqc::suitedb::applySchema(*db);
        rqc::suitedb::loadDemo(*db, rqc::suitedb::localToday());
    }
    rqc::test::ServerProcess::Options options;
    options.db = dbPath();
    options.workDir = m_dir.path().string();
    m_server = std::make_unique<rqc::test::ServerProcess>(options);
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
    if (frmConsolidaSolicita != nullptr)
        frmConsolidaSolicita->Close();
    settle();
    for (QMdiSubWindow* sub : m_mdi->subWindowList())
        delete sub;
    settle();
    vlm::setMainForm(nullptr);
}

void HostWindow::setConfig(const vlm::HostConfig& config) {
    vlm::setHostConfig(config);
}

int HostWindow::screenCount() const {
    return m_mdi->subWindowList().size();
}

}  // namespace rqc04100::test
