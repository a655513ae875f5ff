#include "host_config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStringDecoder>
#include <optional>

#include "helpers.h"
#include "net_connection.h"

namespace vlm {

namespace {

struct KnownKey {
    const char* section;
    const char* key;
};

// Every key the file may hold; anything else is refused with its line.
constexpr KnownKey kKnownKeys[] = {
    {"Filial", "Processamento"},
    {"Filial", "Fixa"},
    {"Servidor", "Host"},
    {"Servidor", "Porta"},
    {"Banco", "Engine"},
    {"Banco", "Caminho"},
    {"Banco", "Host"},
    {"Banco", "Porta"},
    {"Banco", "Nome"},
    {"Banco", "Usuario"},
    {"Banco", "Senha"},
    {"Banco", "ModoSSL"},
    {"Banco", "CertificadoCA"},
    {"Servidor", "CertificadoCA"},
    {"Servidor", "NomeCertificado"},
};

// A fault of the configuration; `key` ("Secao/Chave") places it on a line when there is one.
struct Fault {
    QString key;
    QString message;
};

[[noreturn]] void fail(const Fault& f) {
    throw ConfigError(f.message.toStdString());
}

// One line of the file as read: the value of a key and where it was.
struct Entry {
    QString value;
    int line = 0;
};

// The INI text as QSettings writes it: [Section], key=value, ';' comments, values optionally
// in double quotes, backslash escapes. Section and key names match case-insensitively.
class IniFile {
  public:
    IniFile(const QString& path, const QByteArray& bytes) : m_path(path) {
        const QList<QByteArray> lines = bytes.split('\n');
        QString section;
        for (int i = 0; i < lines.size(); ++i) {
            const int lineNo = i + 1;
            QByteArray raw = lines[i];
            if (raw.endsWith('\r'))
                raw.chop(1);
            if (i == 0 && raw.startsWith("\xEF\xBB\xBF"))
                raw.remove(0, 3);
            QStringDecoder decode(QStringDecoder::Utf8);
            const QString text = decode(raw);
            if (decode.hasError())
                failAt(lineNo, QStringLiteral("o texto não está em UTF-8"));
            const QString line = text.trimmed();
            if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
                continue;
            if (line.startsWith('[')) {
                if (!line.endsWith(']'))
                    failAt(lineNo, QStringLiteral("\"%1\" não é um nome de seção").arg(line));
                section = canonicalSection(line.mid(1, line.size() - 2).trimmed());
                if (section.isEmpty()) {
                    failAt(lineNo, QStringLiteral("a seção %1 não é conhecida (as seções são "
                                                  "[Filial], [Servidor] e [Banco])")
                                       .arg(line));
                }
                continue;
            }
            const qsizetype eq = line.indexOf('=');
            if (eq <= 0) {
                failAt(lineNo,
                       QStringLiteral("\"%1\" não é uma linha chave=valor").arg(line.left(60)));
            }
            const QString name = line.left(eq).trimmed();
            if (section.isEmpty())
                failAt(lineNo, QStringLiteral("a chave %1 está fora de uma seção").arg(name));
            const QString key = canonicalKey(section, name);
            if (key.isEmpty()) {
                failAt(lineNo, QStringLiteral("a chave \"%1\" não é conhecida na seção [%2]")
                                   .arg(name, section));
            }
            if (m_entries.contains(key)) {
                failAt(lineNo, QStringLiteral("a chave [%1] %2 se repete (já está na linha %3)")
                                   .arg(section, key.section('/', 1))
                                   .arg(m_entries[key].line));
            }
            m_entries.insert(key, {unquote(line.mid(eq + 1), lineNo), lineNo});
        }
        if (m_entries.isEmpty()) {
            fail({QString(), QStringLiteral("Arquivo de configuração %1: nenhuma chave da "
                                            "configuração da suíte foi encontrada (linhas 1 a "
                                            "%2). Confira se é o arquivo certo.")
                                 .arg(m_path)
                                 .arg(lines.size())});
        }
    }

    QString text(const QString& key, const QString& fallback) const {
        auto it = m_entries.find(key);
        return it == m_entries.end() ? fallback : it->value;
    }
    bool has(const QString& key) const { return m_entries.contains(key); }
    int line(const QString& key) const { return m_entries.value(key).line; }

    [[noreturn]] void failAt(int line, const QString& what) const {
        fail({QString(), QStringLiteral("Arquivo de configuração %1, linha %2: %3.")
                             .arg(m_path)
                             .arg(line)
                             .arg(what)});
    }
    // A fault of a key's value, placed on its line (or on the file when the key is absent).
    [[noreturn]] void failOn(const Fault& f) const {
        const int at = line(f.key);
        if (at > 0)
            failAt(at, f.message);
        fail({QString(), QStringLiteral("Arquivo de configuração %1: %2.").arg(m_path, f.message)});
    }

  private:
    static QString canonicalSection(const QString& name) {
        for (const KnownKey& k : kKnownKeys) {
            if (name.compare(QLatin1String(k.section), Qt::CaseInsensitive) == 0)
                return QLatin1String(k.section);
        }
        return {};
    }
    static QString canonicalKey(const QString& section, const QString& name) {
        for (const KnownKey& k : kKnownKeys) {
            if (section == QLatin1String(k.section) &&
                name.compare(QLatin1String(k.key), Qt::CaseInsensitive) == 0)
                return section + '/' + QLatin1String(k.key);
        }
        return {};
    }

    // The value after '=': a ';' outside quotes starts a comment; quotes and escapes removed.
    QString unquote(const QString& raw, int lineNo) const {
        QString out;
        bool quoted = false;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            const QChar c = raw[i];
            if (c == '\\' && i + 1 < raw.size()) {
                const QChar n = raw[++i];
                out += n == 'n' ? QChar('\n') : n == 't' ? QChar('\t') : n;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == ';' && !quoted) {
                break;
            } else {
                out += c;
            }
        }
        if (quoted)
            failAt(lineNo, QStringLiteral("falta fechar as aspas do valor"));
        return out.trimmed();
    }

    QString m_path;
    QHash<QString, Entry> m_entries;
};

bool isLoopbackHost(const QString& host) {
    return host.isEmpty() || host == "localhost" || host == "::1" || host.startsWith("127.");
}

bool isAlnum(const QString& t) {
    for (QChar c : t) {
        if (c.unicode() > 127 || !c.isLetterOrNumber())
            return false;
    }
    return true;
}

std::optional<Fault> firstFault(const HostConfig& c) {
    if (c.processingBranch.isEmpty() || c.processingBranch.size() > 4 ||
        !isAlnum(c.processingBranch)) {
        return Fault{"Filial/Processamento",
                     QStringLiteral("[Filial] Processamento \"%1\" não é um código de filial (1 "
                                    "a 4 letras ou dígitos)")
                         .arg(c.processingBranch)};
    }
    if (c.serverHost.isEmpty())
        return Fault{"Servidor/Host", QStringLiteral("[Servidor] Host está vazio")};
    if (c.serverPort < 1 || c.serverPort > 65535) {
        return Fault{"Servidor/Porta",
                     QStringLiteral("[Servidor] Porta %1 não é uma porta TCP (de 1 a 65535)")
                         .arg(c.serverPort)};
    }
    if (c.dbPort < 0 || c.dbPort > 65535) {
        return Fault{
            "Banco/Porta",
            QStringLiteral("[Banco] Porta %1 não é uma porta TCP (de 0 a 65535)").arg(c.dbPort)};
    }
    if (c.engine == DbEngine::Postgres && c.dbName.isEmpty()) {
        return Fault{"Banco/Engine", QStringLiteral("[Banco] Nome (o banco PostgreSQL) é "
                                                    "obrigatório com Engine=postgres")};
    }
    if (c.engine == DbEngine::Postgres) {
        static const QStringList modes = {"disable", "prefer", "require", "verify-ca",
                                          "verify-full"};
        const QString mode = c.effectiveSslMode();
        if (!modes.contains(mode)) {
            return Fault{"Banco/ModoSSL",
                         QStringLiteral("[Banco] ModoSSL \"%1\" não é verify-full, verify-ca, "
                                        "require, prefer nem disable")
                             .arg(c.dbSslMode)};
        }
        if (!mode.startsWith("verify") && !isLoopbackHost(c.dbHost)) {
            return Fault{"Banco/ModoSSL",
                         QStringLiteral("[Banco] ModoSSL \"%1\" não confere o certificado do "
                                        "banco em %2; use verify-full com CertificadoCA")
                             .arg(mode, c.dbHost)};
        }
        if (c.dbCaFile.contains(';') || c.dbCaFile.contains('\'')) {
            return Fault{"Banco/CertificadoCA",
                         QStringLiteral("[Banco] CertificadoCA não pode conter ; nem '")};
        }
    }
    if (c.engine == DbEngine::Firebird && c.dbPath.isEmpty()) {
        return Fault{"Banco/Engine", QStringLiteral("[Banco] Caminho (o arquivo do banco "
                                                    "Firebird) é obrigatório com "
                                                    "Engine=firebird")};
    }
    return std::nullopt;
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

QString HostConfig::effectiveSslMode() const {
    if (!dbSslMode.isEmpty())
        return dbSslMode.toLower();
    return isLoopbackHost(dbHost) ? QStringLiteral("prefer") : QStringLiteral("verify-full");
}

void HostConfig::validate() const {
    if (auto f = firstFault(*this))
        fail(*f);
}

HostConfig HostConfig::load(const QString& iniPath) {
    QFileInfo info(iniPath);
    if (!info.exists()) {
        fail({QString(),
              QStringLiteral("Arquivo de configuração %1: o arquivo não existe.").arg(iniPath)});
    }
    QFile file(iniPath);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        fail({QString(), QStringLiteral("Arquivo de configuração %1: o arquivo não pode ser lido "
                                        "(%2).")
                             .arg(iniPath, info.isFile() ? file.errorString()
                                                         : QStringLiteral("não é um arquivo"))});
    }
    const IniFile ini(iniPath, file.readAll());

    HostConfig c;
    auto number = [&](const QString& key, int fallback) {
        QString t = ini.text(key, QString());
        if (t.isEmpty())
            return fallback;
        bool ok = false;
        int n = t.toInt(&ok);
        if (!ok) {
            ini.failOn({key, QStringLiteral("[%1] %2 \"%3\" não é um número")
                                 .arg(key.section('/', 0, 0), key.section('/', 1), t)});
        }
        return n;
    };

    QString branch = ini.text("Filial/Processamento", c.processingBranch).toUpper();
    if (!branch.isEmpty() && branch.size() <= 4 && isAlnum(branch)) {
        bool digits = true;
        for (QChar ch : branch)
            digits = digits && ch.isDigit();
        if (digits) {
            branch = Ajusta(branch, 4);
        } else if (branch.size() != 4) {
            ini.failOn({"Filial/Processamento",
                        QStringLiteral("[Filial] Processamento \"%1\" deve ter 4 caracteres (ou "
                                       "ser só de dígitos)")
                            .arg(branch)});
        }
    }
    c.processingBranch = branch;

    QString fixed = ini.text("Filial/Fixa", "false").toLower();
    if (fixed == "true" || fixed == "1" || fixed == "s" || fixed == "sim") {
        c.branchFixed = true;
    } else if (fixed == "false" || fixed == "0" || fixed == "n" || fixed == "nao" ||
               fixed == "não") {
        c.branchFixed = false;
    } else {
        ini.failOn({"Filial/Fixa",
                    QStringLiteral("[Filial] Fixa \"%1\" não é true nem false").arg(fixed)});
    }

    c.serverHost = ini.text("Servidor/Host", c.serverHost);
    c.serverPort = number("Servidor/Porta", c.serverPort);
    c.serverCaFile = ini.text("Servidor/CertificadoCA", QString());
    if (!c.serverCaFile.isEmpty() && QFileInfo(c.serverCaFile).isRelative()) {
        c.serverCaFile = info.absoluteDir().absoluteFilePath(c.serverCaFile);
    }
    c.serverCertName = ini.text("Servidor/NomeCertificado", QString());

    QString engine = ini.text("Banco/Engine", "sqlite").toLower();
    if (engine == "sqlite") {
        c.engine = DbEngine::Sqlite;
    } else if (engine == "postgres" || engine == "postgresql") {
        c.engine = DbEngine::Postgres;
    } else if (engine == "firebird") {
        c.engine = DbEngine::Firebird;
    } else {
        ini.failOn({"Banco/Engine",
                    QStringLiteral("[Banco] Engine \"%1\" não é sqlite, postgres nem firebird")
                        .arg(engine)});
    }
    c.dbPath = ini.text("Banco/Caminho", QString());
    if (!c.dbPath.isEmpty() && QFileInfo(c.dbPath).isRelative()) {
        c.dbPath = info.absoluteDir().absoluteFilePath(c.dbPath);
    }
    c.dbHost = ini.text("Banco/Host", QString());
    c.dbPort = number("Banco/Porta", 0);
    c.dbName = ini.text("Banco/Nome", QString());
    c.dbUser = ini.text("Banco/Usuario", QString());
    c.dbPassword = ini.text("Banco/Senha", QString());
    c.dbSslMode = ini.text("Banco/ModoSSL", QString());
    c.dbCaFile = ini.text("Banco/CertificadoCA", QString());
    if (!c.dbCaFile.isEmpty() && QFileInfo(c.dbCaFile).isRelative())
        c.dbCaFile = info.absoluteDir().absoluteFilePath(c.dbCaFile);

    if (auto f = firstFault(c))
        ini.failOn(*f);
    return c;
}

void HostConfig::save(const QString& iniPath) const {
    QSettings s(iniPath, QSettings::IniFormat);
    s.setValue("Filial/Processamento", processingBranch);
    s.setValue("Filial/Fixa", branchFixed ? "true" : "false");
    s.setValue("Servidor/Host", serverHost);
    s.setValue("Servidor/Porta", serverPort);
    if (!serverCaFile.isEmpty())
        s.setValue("Servidor/CertificadoCA", serverCaFile);
    if (!serverCertName.isEmpty())
        s.setValue("Servidor/NomeCertificado", serverCertName);
    s.setValue("Banco/Engine", engineName(engine));
    s.setValue("Banco/Caminho", dbPath);
    s.setValue("Banco/Host", dbHost);
    s.setValue("Banco/Porta", dbPort);
    s.setValue("Banco/Nome", dbName);
    s.setValue("Banco/Usuario", dbUser);
    s.setValue("Banco/Senha", dbPassword);
    if (!dbSslMode.isEmpty())
        s.setValue("Banco/ModoSSL", dbSslMode);
    if (!dbCaFile.isEmpty())
        s.setValue("Banco/CertificadoCA", dbCaFile);
    s.sync();
    if (s.status() != QSettings::NoError) {
        fail({QString(), QStringLiteral("Arquivo de configuração %1: o arquivo não pode ser "
                                        "gravado.")
                             .arg(iniPath)});
    }
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
    TNetConnection::SetDefaultTls(config.serverCaFile, config.serverCertName);
}

}  // namespace vlm
