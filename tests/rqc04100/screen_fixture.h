#pragma once
// Real surroundings for the screen: a demo SQLite suite database in a temporary folder, a
// real rqc-appserver on it, and a host main window with an MDI area, the data module open and
// scripted dialogs. Used by the screen's tests and its benchmark.

#include <QMainWindow>
#include <QString>
#include <memory>
#include <string>

#include "server_process.h"
#include "shared/vlm_view.h"
#include "temp_dir.h"

class QApplication;
class QMdiArea;

namespace rqc04100::test {

// The process's QApplication (offscreen unless QT_QPA_PLATFORM says otherwise).
QApplication& application();

// Runs pending events and deferred deletions until nothing is left (bounded).
void settle();

// A demo database (schema and demo data for today) and a server on it.
class DemoSuite {
  public:
    DemoSuite();
    std::string dbPath() const { return m_dir.file("suite.db"); }
    std::uint16_t serverPort() const { return m_server->port(); }
    rqc::test::ServerProcess& server() { return *m_server; }
    // Host configuration on this database and server with `branch` as processing branch.
    vlm::HostConfig config(const QString& branch) const;
    const rqc::test::TempDir& dir() const { return m_dir; }

  private:
    rqc::test::TempDir m_dir;
    std::unique_ptr<rqc::test::ServerProcess> m_server;
};

// The host's side: main window with an MDI area (vlm's main form), configuration set,
// dtmDBGeral open, ScriptedDialogs installed. The destructor closes any screen left open.
class HostWindow {
  public:
    explicit HostWindow(const vlm::HostConfig& config);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    QMainWindow& window() { return m_window; }
    QMdiArea* mdiArea() const { return m_mdi; }
    vlm::ScriptedDialogs& dialogs() { return m_dialogs; }
    TdtmDBGeral& database() { return m_database; }
    // Changes the host configuration the helpers read (e.g. the processing branch).
    void setConfig(const vlm::HostConfig& config);
    // Number of screens (MDI sub-windows) currently in the MDI area.
    int screenCount() const;

  private:
    QMainWindow m_window;
    QMdiArea* m_mdi;
    TdtmDBGeral m_database;
    vlm::ScriptedDialogs m_dialogs;
    vlm::ScopedDialogs m_scoped{m_dialogs};
};

}  // namespace rqc04100::test
