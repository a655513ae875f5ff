#include <gtest/gtest.h>

#include <fstream>

#include "temp_dir.h"
#include "vlm/host_config.h"

using vlm::ConfigError;
using vlm::DbEngine;
using vlm::HostConfig;

namespace {

QString write(const rqc::test::TempDir& dir, const std::string& text) {
    std::string path = dir.file("suite.ini");
    std::ofstream(path) << text;
    return QString::fromStdString(path);
}

}  // namespace

TEST(HostConfig, ReadsEveryKey) {
    rqc::test::TempDir dir;
    QString path = write(dir,
                         "[Filial]\nProcessamento=0003\nFixa=true\n"
                         "[Servidor]\nHost=127.0.0.1\nPorta=4200\n"
                         "[Banco]\nEngine=postgres\nHost=127.0.0.1\nPorta=55432\nNome=suite\n"
                         "Usuario=postgres\nSenha=a,b\n");
    HostConfig c = HostConfig::load(path);
    EXPECT_EQ(c.processingBranch, "0003");
    EXPECT_TRUE(c.branchFixed);
    EXPECT_EQ(c.serverHost, "127.0.0.1");
    EXPECT_EQ(c.serverPort, 4200);
    EXPECT_EQ(c.engine, DbEngine::Postgres);
    EXPECT_EQ(c.dbHost, "127.0.0.1");
    EXPECT_EQ(c.dbPort, 55432);
    EXPECT_EQ(c.dbName, "suite");
    EXPECT_EQ(c.dbUser, "postgres");
    EXPECT_EQ(c.dbPassword, "a,b");
}

TEST(HostConfig, MissingKeysKeepDefaultsAndPathsAreRelativeToTheFile) {
    rqc::test::TempDir dir;
    QString path = write(dir, "[Filial]\nProcessamento=7\n[Banco]\nCaminho=suite.db\n");
    HostConfig c = HostConfig::load(path);
    EXPECT_EQ(c.processingBranch, "0007");
    EXPECT_FALSE(c.branchFixed);
    EXPECT_EQ(c.serverHost, "127.0.0.1");
    EXPECT_EQ(c.serverPort, 4100);
    EXPECT_EQ(c.engine, DbEngine::Sqlite);
    EXPECT_EQ(c.dbPath, QString::fromStdString(dir.file("suite.db")));
}

TEST(HostConfig, SaveThenLoadGivesTheSameConfiguration) {
    rqc::test::TempDir dir;
    HostConfig c;
    c.processingBranch = "AB12";
    c.branchFixed = true;
    c.serverPort = 4999;
    c.engine = DbEngine::Firebird;
    c.dbPath = QString::fromStdString(dir.file("suite.fdb"));
    QString path = QString::fromStdString(dir.file("out.ini"));
    c.save(path);
    HostConfig r = HostConfig::load(path);
    EXPECT_EQ(r.processingBranch, "AB12");
    EXPECT_TRUE(r.branchFixed);
    EXPECT_EQ(r.serverPort, 4999);
    EXPECT_EQ(r.engine, DbEngine::Firebird);
    EXPECT_EQ(r.dbPath, c.dbPath);
}

TEST(HostConfig, BadValuesAreRefusedWithTheKeyNamed) {
    struct Case {
        const char* ini;
        const char* mentions;
    } cases[] = {
        {"[Banco]\nEngine=oracle\n", "[Banco] Engine \"oracle\""},
        {"[Servidor]\nPorta=70000\n", "[Servidor] Porta 70000"},
        {"[Servidor]\nPorta=0\n", "[Servidor] Porta 0"},
        {"[Servidor]\nPorta=abc\n", "[Servidor] Porta \"abc\" não é um número"},
        {"[Servidor]\nHost=\n", "[Servidor] Host está vazio"},
        {"[Filial]\nProcessamento=00001\n", "[Filial] Processamento \"00001\""},
        {"[Filial]\nProcessamento=A-1\n", "[Filial] Processamento \"A-1\""},
        {"[Filial]\nProcessamento=AB\n", "deve ter 4 caracteres"},
        {"[Filial]\nFixa=talvez\n", "[Filial] Fixa \"talvez\""},
        {"[Banco]\nEngine=postgres\n", "[Banco] Nome"},
        {"[Banco]\nEngine=firebird\n", "[Banco] Caminho"},
        {"[Banco]\nPorta=-1\n", "[Banco] Porta -1"},
        {"[Banco]\nEngine=postgres\nNome=s\nModoSSL=talvez\n", "[Banco] ModoSSL \"talvez\""},
        {"[Banco]\nEngine=postgres\nNome=s\nHost=db.example.net\nModoSSL=require\n",
         "não confere o certificado do banco em db.example.net"},
    };
    for (const auto& c : cases) {
        rqc::test::TempDir dir;
        QString path = write(dir, c.ini);
        try {
            HostConfig::load(path);
            ADD_FAILURE() << "accepted: " << c.ini;
        } catch (const ConfigError& e) {
            std::string what = e.what();
            EXPECT_NE(what.find(c.mentions), std::string::npos) << what;
            EXPECT_NE(what.find(path.toStdString()), std::string::npos) << what;
        }
    }
}

TEST(HostConfig, UnreadableOrForeignFilesAreRefusedNamingTheFileAndTheLine) {
    struct Case {
        const char* ini;
        const char* mentions;
    } cases[] = {
        {"", "nenhuma chave da configuração da suíte"},
        {"; only a comment\n[Servidor]\n", "nenhuma chave da configuração da suíte"},
        {"[Servidor]\nPorta=4100\nProta=4200\n",
         "linha 3: a chave \"Prota\" não é conhecida na seção [Servidor]"},
        {"[Filial]\nFixa=true\n[Rede]\nHost=x\n", "linha 3: a seção [Rede] não é conhecida"},
        {"Porta=4100\n", "linha 1: a chave Porta está fora de uma seção"},
        {"[Servidor]\nPorta 4100\n", "linha 2: \"Porta 4100\" não é uma linha chave=valor"},
        {"[Servidor]\nPorta=1\nPorta=2\n", "linha 3: a chave [Servidor] Porta se repete"},
        {"[Servidor]\nHost=h\n\nPorta=abc\n", "linha 4: [Servidor] Porta \"abc\" não é um número"},
        {"[Banco]\nSenha=\"aberta\n", "linha 2: falta fechar as aspas"},
        {"[Banco]\nNome=\xff\n", "linha 2: o texto não está em UTF-8"},
    };
    for (const auto& c : cases) {
        rqc::test::TempDir dir;
        const QString path = write(dir, c.ini);
        try {
            HostConfig::load(path);
            ADD_FAILURE() << "accepted: " << c.ini;
        } catch (const ConfigError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.mentions), std::string::npos) << what;
            EXPECT_NE(what.find("Arquivo de configuração " + path.toStdString()), std::string::npos)
                << what;
        }
    }
    rqc::test::TempDir dir;
    const QString quoted =
        write(dir, "[banco]\nsenha = \"a;b\\\"c\"  ; comment\nUSUARIO=ana ; comment\n");
    const HostConfig c = HostConfig::load(quoted);
    EXPECT_EQ(c.dbPassword, "a;b\"c");
    EXPECT_EQ(c.dbUser, "ana");
}

TEST(HostConfig, MissingFileIsAnError) {
    rqc::test::TempDir dir;
    EXPECT_THROW(HostConfig::load(QString::fromStdString(dir.file("none.ini"))), ConfigError);
}

TEST(HostConfig, SetHostConfigIsWhatTheHelpersRead) {
    HostConfig saved = vlm::hostConfig();
    HostConfig c;
    c.processingBranch = "0042";
    vlm::setHostConfig(c);
    EXPECT_EQ(vlm::hostConfig().processingBranch, "0042");
    vlm::setHostConfig(saved);
}
