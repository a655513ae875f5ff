#pragma once
// The host configuration: an INI file (QSettings IniFormat) with the processing branch, the
// application server and the suite database. Keys and defaults in docs/configuration.md.

#include <QString>
#include <stdexcept>

#include "vlm_export.h"

namespace vlm {

// A configuration that cannot be used; the message (Portuguese) names the file, the line when
// there is one, the key and the fault.
class VLM_EXPORT ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class DbEngine { Sqlite, Postgres, Firebird };

struct VLM_EXPORT HostConfig {
    // [Filial]
    QString processingBranch = "0001";  // Processamento: 1..4 letters or digits, upper case
    bool branchFixed = false;           // Fixa: screens may not change the processing branch
    // [Servidor]
    QString serverHost = "127.0.0.1";  // Host
    int serverPort = 4100;             // Porta: 1..65535
    QString serverCaFile;    // CertificadoCA: PEM file of the CA to trust; set: TLS, empty: TCP
    QString serverCertName;  // NomeCertificado: name the certificate must carry (empty: Host)
    // [Banco]
    DbEngine engine = DbEngine::Sqlite;  // Engine: sqlite | postgres | firebird
    QString dbPath;      // Caminho: SQLite file or Firebird database file (empty: host default)
    QString dbHost;      // Host (PostgreSQL; Firebird server when set, else embedded)
    int dbPort = 0;      // Porta (0: the engine's default)
    QString dbName;      // Nome (PostgreSQL database)
    QString dbUser;      // Usuario
    QString dbPassword;  // Senha
    // PostgreSQL over TLS. ModoSSL: verify-full (the default for a server on another machine),
    // verify-ca, require, prefer or disable (the last three only for a loopback server);
    // CertificadoCA: PEM file of the CA that signed the database server's certificate.
    QString dbSslMode;
    QString dbCaFile;

    // Reads `iniPath`. Missing keys keep the defaults above. Throws ConfigError naming the
    // file and the line for: a missing or unreadable file, a file with no known key, a line
    // that is not [section] or key=value, an unknown section or key, a repeated key, and a
    // bad engine, port, branch code or boolean.
    static HostConfig load(const QString& iniPath);
    // Writes every key to `iniPath` (used by tools and tests).
    void save(const QString& iniPath) const;
    // Throws ConfigError for an invalid value (also run by load).
    void validate() const;

    static QString engineName(DbEngine e);  // "sqlite", "postgres", "firebird"
    // The TLS mode the PostgreSQL connection uses: dbSslMode, or its default for dbHost.
    QString effectiveSslMode() const;
};

// The configuration the helpers (FiliProc, ModuFili, WebURL, WebPort) read; defaults until set.
VLM_EXPORT const HostConfig& hostConfig();
VLM_EXPORT void setHostConfig(const HostConfig& config);

}  // namespace vlm
