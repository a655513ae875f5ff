#include "host_config.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "helpers.h"

namespace vlm {

namespace {

[[noreturn]] void fail(const QString& file, const QString& message) {
    QString where = file.isEmpty() ? QString() : file + ": ";
    throw ConfigError((where + message).toStdString());
}

// QSettings splits values with commas into lists; keys here are single texts.
QString text(const QSettings& s, const QString& key, const QString& fallback) {
    QVariant v = s.value(key);
    if (!v.isValid())
        return fallback;
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(',');
    return v.toString().trimmed();
}

bool isAlnum(const QString& t) {
    for (QChar c : t) {
        if (c.unicode() > 127 || !c.isLetterOrNumber())
            return false;
    }
    return true;
}

}  // namespace

QString HostConfig::engineName(DbEngine e) {
    switch (e) {
        case DbEngine::Sqlite:
            return "sqlite";
        case DbEngine::Postgres:
            return "postgres";
        case DbEngine::Firebird:
            return "firebird";
    }
    return "sqlite";
}

void HostConfig::validate() const {
    const QString f;
    if (processingBranch.isEmpty() || processingBranch.size() > 4 || !isAlnum(processingBranch)) {
        fail(f, QString("[Filial] Processamento \"%1\" is not a branch code (1 to 4 letters or "
                        "digits)")
                    .arg(processingBranch));
    }
    if (serverHost.isEmpty())
        fail(f, "[Servidor] Host is empty");
    if (serverPort < 1 || serverPort > 65535) {
        fail(f, QString("[Servidor] Porta %1 is not a TCP port (1 to 65535)").arg(serverPort));
    }
    if (dbPort < 0 || dbPort > 65535) {
        fail(f, QString("[Banco] Porta %1 is not a TCP port (0 to 65535)").arg(dbPort));
    }
    if (engine == DbEngine::Postgres && dbName.isEmpty()) {
        fail(f, "[Banco] Nome (the PostgreSQL database name) is required with Engine=postgres");
    }
    if (engine == DbEngine::Firebird && dbPath.isEmpty()) {
        fail(f, "[Banco] Caminho (the Firebird database file) is required with Engine=firebird");
    }
}

HostConfig HostConfig::load(const QString& iniPath) {
    QFileInfo info(iniPath);
    if (!info.exists())
        fail(iniPath, "configuration file not found");
    if (!info.isFile() || !info.isReadable())
        fail(iniPath, "configuration file cannot be read");
    QSettings s(iniPath, QSettings::IniFormat);
    if (s.status() != QSettings::NoError)
        fail(iniPath, "not a valid INI file");

    HostConfig c;
    auto number = [&](const QString& key, int fallback) {
        QString t = text(s, key, QString());
        if (t.isEmpty())
            return fallback;
        bool ok = false;
        int n = t.toInt(&ok);
        if (!ok) {
            fail(iniPath, QString("[%1] %2 \"%3\" is not a number")
                              .arg(key.section('/', 0, 0), key.section('/', 1), t));
        }
        return n;
    };

    QString branch = text(s, "Filial/Processamento", c.processingBranch).toUpper();
    if (!branch.isEmpty() && branch.size() <= 4 && isAlnum(branch)) {
        bool digits = true;
        for (QChar ch : branch)
            digits = digits && ch.isDigit();
        if (digits) {
            branch = Ajusta(branch, 4);
        } else if (branch.size() != 4) {
            fail(iniPath, QString("[Filial] Processamento \"%1\" must have 4 characters (or be "
                                  "digits only)")
                              .arg(branch));
        }
    }
    c.processingBranch = branch;

    QString fixed = text(s, "Filial/Fixa", "false").toLower();
    if (fixed == "true" || fixed == "1" || fixed == "s" || fixed == "sim") {
        c.branchFixed = true;
    } else if (fixed == "false" || fixed == "0" || fixed == "n" || fixed == "nao" ||
               fixed == "não") {
        c.branchFixed = false;
    } else {
        fail(iniPath, QString("[Filial] Fixa \"%1\" is not true or false").arg(fixed));
    }

    c.serverHost = text(s, "Servidor/Host", c.serverHost);
    c.serverPort = number("Servidor/Porta", c.serverPort);

    QString engine = text(s, "Banco/Engine", "sqlite").toLower();
    if (engine == "sqlite") {
        c.engine = DbEngine::Sqlite;
    } else if (engine == "postgres" || engine == "postgresql") {
        c.engine = DbEngine::Postgres;
    } else if (engine == "firebird") {
        c.engine = DbEngine::Firebird;
    } else {
        fail(iniPath,
             QString("[Banco] Engine \"%1\" is not one of sqlite, postgres, firebird").arg(engine));
    }
    c.dbPath = text(s, "Banco/Caminho", QString());
    if (!c.dbPath.isEmpty() && QFileInfo(c.dbPath).isRelative()) {
        c.dbPath = info.absoluteDir().absoluteFilePath(c.dbPath);
    }
    c.dbHost = text(s, "Banco/Host", QString());
    c.dbPort = number("Banco/Porta", 0);
    c.dbName = text(s, "Banco/Nome", QString());
    c.dbUser = text(s, "Banco/Usuario", QString());
    c.dbPassword = text(s, "Banco/Senha", QString());

    try {
        c.validate();
    } catch (const ConfigError& e) {
        fail(iniPath, QString::fromStdString(e.what()));
    }
    return c;
}

void HostConfig::save(const QString& iniPath) const {
    QSettings s(iniPath, QSettings::IniFormat);
    s.setValue("Filial/Processamento", processingBranch);
    s.setValue("Filial/Fixa", branchFixed ? "true" : "false");
    s.setValue("Servidor/Host", serverHost);
    s.setValue("Servidor/Porta", serverPort);
    s.setValue("Banco/Engine", engineName(engine));
    s.setValue("Banco/Caminho", dbPath);
    s.setValue("Banco/Host", dbHost);
    s.setValue("Banco/Porta", dbPort);
    s.setValue("Banco/Nome", dbName);
    s.setValue("Banco/Usuario", dbUser);
    s.setValue("Banco/Senha", dbPassword);
    s.sync();
    if (s.status() != QSettings::NoError)
        fail(iniPath, "configuration file cannot be written");
}

namespace {
HostConfig& current() {
    static HostConfig c;
    return c;
}
}  // namespace

const HostConfig& hostConfig() {
    return current();
}
void setHostConfig(const HostConfig& config) {
    current() = config;
}

}  // namespace vlm
