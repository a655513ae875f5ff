#pragma once
// The base form of every screen: a filter group box on the left (grbDadosRel) and a side
// panel on the right (panMenu) with the help button (panHelp/sbtHelp) and the button bar
// (panBotoes/sbtConfirma); the screen code label lblCodTela; the message catalogue msgPadrao.
//
// Lifecycle: create screens with vlm::createForm<T>(...), which runs FormCreate once the
// object is complete. Closing (Close(), the window's close button) runs FormClose with the
// close action, initially caHide; the base FormClose sets caFree, and caFree releases the form
// (and its MDI sub-window) once control returns to the event loop. FormActivate runs whenever
// the form becomes the active MDI child (or the active window when it is a window itself).
// F1 or sbtHelp shows the help of HelpContext (vlm::helpPagePath); Ctrl+Enter presses sbtConfirma.

#include <QString>
#include <QWidget>
#include <functional>

#include "controls.h"
#include "messages.h"
#include "vlm_export.h"

class QMdiSubWindow;

enum TCloseAction { caNone = 0, caHide = 1, caFree = 2, caMinimize = 3 };

class VLM_EXPORT TfrmRotiGeral : public QWidget {
    Q_OBJECT
  public:
    explicit TfrmRotiGeral(QWidget* parent = nullptr);
    ~TfrmRotiGeral() override;

    TLabel* lblCodTela;
    TGroupBox* grbDadosRel;
    TPanel* panMenu;
    TPanel* panHelp;
    TButtonFlat* sbtHelp;
    TPanel* panBotoes;
    TButtonFlat* sbtConfirma;
    TMessages* msgPadrao;

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& c) { setWindowTitle(c); }
    int HelpContext = 0;
    QString HelpFile;  // the help file name the screen was designed with; pages are by context

    // Sets the client area and splits it: grbDadosRel `filterWidth` wide on the left, panMenu
    // on the rest. The default is 535 x 350 with a 480-wide filter box.
    void SetClientSize(int width, int height, int filterWidth);

    virtual void FormCreate(QObject* Sender);
    virtual void FormClose(QObject* Sender, TCloseAction& Action);
    virtual void FormActivate(QObject* Sender);

    // Asks the form to close (its MDI sub-window too); returns false when FormClose refused
    // (caNone).
    bool Close();
    // Runs FormCreate (through vlm::createForm; exceptions pass to the caller).
    void DoCreate();
    // Shows the help page of HelpContext, or an error dialog naming the missing page.
    void ShowHelp();
    // The MDI sub-window holding the form, or nullptr.
    QMdiSubWindow* subWindow() const;
    // Makes the form a sub-window of the main form's MDI area (with `flags`, the area's default
    // when empty) unless it is in one already. Returns its sub-window; nullptr, the form left as
    // it is, when the main form has no MDI area.
    QMdiSubWindow* PlaceInMdiArea(Qt::WindowFlags flags = {});
    bool IsActivated() const { return m_active; }
    // Shows the form (its MDI sub-window when it has one) in the normal window state, in front,
    // and activates it; the focus stays on the control of the form that had it.
    void ShowInFront();

  protected:
    void closeEvent(QCloseEvent* e) override;
    bool event(QEvent* e) override;

  private:
    void hookSubWindow();
    void activated(bool active);
    QMdiSubWindow* m_hookedSubWindow = nullptr;
    bool m_active = false;
    bool m_created = false;
};

namespace vlm {

// Creates a form and runs its FormCreate; if FormCreate throws, the form is destroyed and the
// exception passes to the caller.
template <class F, class... Args>
F* createForm(Args&&... args) {
    F* f = new F(std::forward<Args>(args)...);
    try {
        f->DoCreate();
    } catch (...) {
        delete f;
        throw;
    }
    return f;
}

}  // namespace vlm
