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
        {QStringLiteral("RQC04200"), QStringLiteral("Consulta de Consolidação"),
         QStringLiteral("rqc04200")},
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

namespace {

[[noreturn]] void refuse(const ScreenModule& module, const QString& why, const QString& detail) {
    const QString text =
        QStringLiteral(
            "Não foi possível abrir a tela %1 (%2): %3 Reinstale a suíte ou informe o "
            "suporte.")
            .arg(module.code, module.title, why);
    throw ModuleError(vlm::withDetail(text, detail).toStdString());
}

}  // namespace

ModuleLoader::IniProcFn ModuleLoader::iniProc(const ScreenModule& module) {
    const QString path = libraryPath(module);
    const QString file = QFileInfo(path).fileName();
    QLibrary* lib = m_loaded.value(module.library);
    if (lib == nullptr) {
        if (!QFileInfo::exists(path)) {
            refuse(module,
                   QStringLiteral("o módulo %1 não foi encontrado na pasta %2.")
                       .arg(file, QDir::toNativeSeparators(m_folder)),
                   QStringLiteral("file not found: %1").arg(path));
        }
        auto loading = std::make_unique<QLibrary>(path);
        if (!loading->load()) {
            refuse(module,
                   QStringLiteral("o módulo %1 não pôde ser carregado (arquivo danificado, de "
                                  "outra versão ou sem uma biblioteca de que depende).")
                       .arg(file),
                   loading->errorString());
        }
        lib = loading.release();
        m_loaded.insert(module.library, lib);
    }
    auto fn = reinterpret_cast<IniProcFn>(lib->resolve("IniProc"));
    if (fn == nullptr) {
        refuse(module,
               QStringLiteral("o módulo %1 não é uma tela da suíte (não tem o ponto de entrada "
                              "IniProc).")
                   .arg(file),
               QStringLiteral("%1: symbol IniProc not found").arg(path));
    }
    return fn;
}

bool ModuleLoader::openOnNumber(const ScreenModule& module, const QString& number) {
    using OpenOnNumberFn = void (*)(const char*);
    OpenOnNumberFn fn = nullptr;
    try {
        iniProc(module);
        fn = reinterpret_cast<OpenOnNumberFn>(
            m_loaded.value(module.library)->resolve("AbreConsSoli"));
        if (fn == nullptr) {
            refuse(module, QStringLiteral("esta tela não se abre em um número."),
                   QStringLiteral("%1: symbol AbreConsSoli not found").arg(libraryPath(module)));
        }
    } catch (const ModuleError& e) {
        vlm::dialogs().error(QString::fromStdString(e.what()));
        return false;
    }
    try {
        const QByteArray text = number.toUtf8();
        fn(text.constData());
        return true;
    } catch (...) {
        vlm::showCurrentException();
        return false;
    }
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
