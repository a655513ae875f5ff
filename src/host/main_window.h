#pragma once
// The suite's main window: an MDI area for the screens and a menu to open them.

#include <QMainWindow>

#include "module_loader.h"

class QMdiArea;

namespace host {

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // `processingBranch` shows in the title bar; screens load through `loader`.
    MainWindow(const QString& processingBranch, ModuleLoader& loader);

    QMdiArea* mdiArea() const { return m_mdi; }
    // Opens a screen by its code ("RQC04100"); false when the code is unknown or the opening
    // failed (the user has seen why). With a number, the screen opens on that record.
    bool openScreen(const QString& code, const QString& number = {});

  private:
    void showAbout();

    ModuleLoader& m_loader;
    QMdiArea* m_mdi;
};

}  // namespace host
