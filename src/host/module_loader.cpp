#include "module_loader.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include "vlm/dialogs.h"
#include "vlm/messages.h"

namespace host {

const QVector<ScreenModule>& screenModules() {
    static const QVector<ScreenModule> modules = {
        {QStringLiteral("RQC04100"), QStringLiteral("Consolidação de Solicitação"),
         QStringLiteral("rqc04100")},
    };
    return modules;
}

const ScreenModule* findScreenModule(const QString& code) {
    for (const ScreenModule& m : screenModules()) {
        if (m.code.compare(code, Qt::CaseInsensitive) == 0)
            return &m;
    }
    return nullptr;
}

ModuleLoader::ModuleLoader(QString folder) : m_folder(std::move(folder)) {}

ModuleLoader::~ModuleLoader() {
    // Deleting a QLibrary leaves the library loaded: screens torn down after us still run
    // its code.
    for (QLibrary* lib : m_loaded)
        delete lib;
}

QString ModuleLoader::libraryPath(const ScreenModule& module) const {
    return QDir(m_folder).filePath(QStringLiteral("lib") + module.library + QStringLiteral(".so"));
}

ModuleLoader::IniProcFn ModuleLoader::iniProc(const ScreenModule& module) {
    const QString path = libraryPath(module);
    QLibrary* lib = m_loaded.value(module.library);
    if (lib == nullptr) {
        if (!QFileInfo::exists(path)) {
            throw ModuleError("O módulo da tela " + module.code.toStdString() +
                              " não foi encontrado: " + path.toStdString());
        }
        auto loading = std::make_unique<QLibrary>(path);
        if (!loading->load()) {
            throw ModuleError("Não foi possível carregar o módulo " + path.toStdString() + ": " +
                              loading->errorString().toStdString());
        }
        lib = loading.release();
        m_loaded.insert(module.library, lib);
    }
    auto fn = reinterpret_cast<IniProcFn>(lib->resolve("IniProc"));
    if (fn == nullptr) {
        throw ModuleError("O módulo " + path.toStdString() +
                          " não exporta o ponto de entrada IniProc.");
    }
    return fn;
}

bool ModuleLoader::open(const ScreenModule& module) {
    IniProcFn fn = nullptr;
    try {
        fn = iniProc(module);
    } catch (const ModuleError& e) {
        vlm::dialogs().error(QString::fromStdString(e.what()));
        return false;
    }
    try {
        fn();
        return true;
    } catch (...) {
        vlm::showCurrentException();
        return false;
    }
}

}  // namespace host
