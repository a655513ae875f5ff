#pragma once
// Screen modules the host can open, and the loader that brings a module in and calls its
// IniProc. Modules stay loaded for the life of the host (their screens live in its windows).

#include <QHash>
#include <QString>
#include <QVector>
#include <memory>
#include <stdexcept>

class QLibrary;

namespace host {

struct ScreenModule {
    QString code;     // "RQC04100"
    QString title;    // menu text
    QString library;  // base name: "rqc04100" for librqc04100.so
};

// The screens of the suite's menu.
const QVector<ScreenModule>& screenModules();
// The module of a screen code (case-insensitive), or nullptr.
const ScreenModule* findScreenModule(const QString& code);

// A module that cannot be used: file missing or unloadable, or no IniProc entry.
class ModuleError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class ModuleLoader {
  public:
    // Modules are looked for in `folder` (the host binary's folder in the application).
    explicit ModuleLoader(QString folder);
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    // Loads the module (once) and returns its IniProc. Throws ModuleError saying which file
    // and what failed.
    using IniProcFn = void (*)();
    IniProcFn iniProc(const ScreenModule& module);

    // Opens a screen: loads its module and calls IniProc. A load failure is shown as an error
    // dialog naming the file; an exception from IniProc is shown in the standard error
    // dialog (the silent abort shows nothing). Returns true when IniProc ran to its end.
    bool open(const ScreenModule& module);
    // Opens a screen on one record (its AbreConsSoli entry, given the number as text); the
    // failures are shown as for open(). False also when the module has no such entry.
    bool openOnNumber(const ScreenModule& module, const QString& number);

    QString libraryPath(const ScreenModule& module) const;

  private:
    QString m_folder;
    QHash<QString, QLibrary*> m_loaded;  // by library base name; never unloaded
};

}  // namespace host
