#pragma once
// The suite's main window: an MDI area for the screens, a menu to open them, the Janela menu
// listing the open ones, and the logged-in operator in the status bar.

#include <QMainWindow>

#include "module_loader.h"

class QLabel;
class QMdiArea;
class QMenu;

namespace host {

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // `processingBranch` shows in the title bar; screens load through `loader`.
    MainWindow(const QString& processingBranch, ModuleLoader& loader);
    ~MainWindow() override;

    QMdiArea* mdiArea() const { return m_mdi; }
    // Opens a screen by its code ("RQC04100"); false when the code is unknown or the opening
    // failed (the user has seen why). With a number, the screen opens on that record.
    bool openScreen(const QString& code, const QString& number = {});

    // "Operador: CODE - Name" for the session's operator; refreshed from the database.
    void showOperator();

  private:
    void showAbout();
    void changePassword();
    // The Janela menu: cascade and tile, then one entry per open screen, the active one checked.
    void fillWindowMenu();
    // With no screen open, the menu's screens as buttons in the middle of the empty area.
    void showStartPanel();
    bool eventFilter(QObject* watched, QEvent* event) override;

    ModuleLoader& m_loader;
    QMdiArea* m_mdi;
    QMenu* m_windows;
    QLabel* m_operator;
    QWidget* m_start;
};

}  // namespace host
