#pragma once
// The one fixture of the Qt tests and the screen benchmarks: the process's QApplication on the
// offscreen platform, a demo suite database in a temporary folder with a real rqc-appserver on
// it, and the host's side of a screen (main window with an MDI area, configuration, data
// module and scripted dialogs). Test programs that link vlm_testing_gtest have the
// QApplication before their first test.

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "support/scripted_dialogs.h"
#include "support/server_process.h"
#include "support/temp_dir.h"
#include "vlm/dtm_db_geral.h"
#include "vlm/host_config.h"

class QApplication;
class QMdiArea;

namespace rqc::test {

// The process's QApplication, made on first use (offscreen unless QT_QPA_PLATFORM says
// otherwise) and kept to the end of the process.
QApplication& application();

// Runs pending events and deferred deletions until nothing is left (bounded).
void settle();

// A demo database (schema and demo data for today) and a server on it.
class DemoSuite {
  public:
    DemoSuite();
    std::string dbPath() const { return m_dir.file("suite.db"); }
    std::uint16_t serverPort() const { return m_server->port(); }
    ServerProcess& server() { return *m_server; }
    // Host configuration on this database and server with `branch` as processing branch.
    vlm::HostConfig config(const QString& branch) const;
    const TempDir& dir() const { return m_dir; }

  private:
    TempDir m_dir;
    std::unique_ptr<ServerProcess> m_server;
};

// The host's side of a screen: main window with an MDI area (vlm's main form), configuration
// set, dtmDBGeral open, ScriptedDialogs installed. The destructor closes the screens left
// open (their FormClose runs) and removes what remains of them.
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

}  // namespace rqc::test
