#pragma once
// The one door through which the package shows dialogs: messages and errors, the list picker,
// the single-pick search, the waiting animation and help pages. The real implementation uses
// Qt dialogs (the pickers are PickListDialog and PickOneDialog of pick_dialogs.h); another
// implementation can be installed in its place (setDialogs, ScopedDialogs).

#include <QSettings>
#include <QString>
#include <QStringList>

#include "messages.h"
#include "vlm_export.h"

class QWidget;
class TDataSet;

namespace vlm {

class VLM_EXPORT Dialogs {
  public:
    virtual ~Dialogs();

    // A message dialog; returns the TModalResult of the button pressed.
    virtual int messageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                              int helpContext) = 0;
    // The standard error dialog (MensErro and exceptions caught by the dispatcher).
    virtual void error(const QString& text) = 0;
    // Lets the user tick rows of `data` (visible fields shown with their labels). On OK,
    // `list` becomes the ticked rows' `keyField` values joined by listText(); on Cancel it is
    // left as it was. Rows whose key is already in `list` start ticked; with `tickAll` true
    // every row starts ticked. Returns true on OK.
    virtual bool pickList(TDataSet& data, const QString& keyField, const QString& title,
                          bool tickAll, QString& list) = 0;
    // Lets the user pick one row of `data`, starting on its current row. On OK the data set
    // stands on the picked row and true is returned; on Cancel it is left where it was.
    virtual bool pickOne(TDataSet& data, const QString& title) = 0;
    // The waiting animation: a small window over `owner` with a moving indicator, `text` and
    // the seconds elapsed since it was shown, painted before returning; past
    // waitingSilenceNotice() it also says that the server has not answered yet. showWaiting
    // while shown replaces the text; hideWaiting when nothing is shown does nothing.
    virtual void showWaiting(QWidget* owner, int kind, const QString& text) = 0;
    virtual void hideWaiting() = 0;
    // Shows the help page `htmlFile` (an absolute path) of help context `context`.
    virtual void showHelp(const QString& htmlFile, int context) = 0;
    // Asks for the operator's code (starting as `operatorCode`) and password, showing
    // `refusal` (why the last try failed) when not empty. Returns false when the user gives
    // up. The default is the Qt LoginDialog.
    virtual bool login(QString& operatorCode, QString& password, const QString& refusal);
    // Asks where to save a file (`filter` as QFileDialog takes it), starting on `suggested`.
    // Returns the path chosen, or "" when the user gives up. The default is QFileDialog.
    virtual QString saveFileName(const QString& title, const QString& suggested,
                                 const QString& filter);
};

// Asks where to save a file, proposing `fileName` in the folder the user last saved to (kept
// between sessions), or the home folder at first; remembers the folder chosen. "" when the
// user gives up.
VLM_EXPORT QString askSavePath(const QString& title, const QString& fileName,
                               const QString& filter);
// The user's own state of the suite between sessions (the last folder saved to, the screens
// left open): an INI file in the user's configuration folder.
VLM_EXPORT QSettings& userState();

// The dialogs in use: the Qt implementation unless another was installed.
VLM_EXPORT Dialogs& dialogs();
// Installs `d` (not owned; it must outlive its use); nullptr restores the Qt dialogs.
// Returns the one installed before.
VLM_EXPORT Dialogs* setDialogs(Dialogs* d);
// The Qt dialogs, whatever is installed.
VLM_EXPORT Dialogs& standardDialogs();

// How long the waiting window waits before it says that the server does not answer (30 s).
VLM_EXPORT int waitingSilenceNoticeMs();
VLM_EXPORT void setWaitingSilenceNoticeMs(int ms);

// The list text the picker returns: the values joined by "," with no quotes and no blanks
// (values are trimmed); the form the application server parses.
VLM_EXPORT QString listText(const QStringList& values);
// The values of a list text (split on ",", trimmed, empty items dropped).
VLM_EXPORT QStringList listValues(const QString& list);

// Installs a Dialogs for the life of the object and restores the previous one after.
class VLM_EXPORT ScopedDialogs {
  public:
    explicit ScopedDialogs(Dialogs& d) : m_previous(setDialogs(&d)) {}
    ~ScopedDialogs() { setDialogs(m_previous); }
    ScopedDialogs(const ScopedDialogs&) = delete;
    ScopedDialogs& operator=(const ScopedDialogs&) = delete;

  private:
    Dialogs* m_previous;
};

}  // namespace vlm
