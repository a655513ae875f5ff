#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <fstream>
#include <stdexcept>

#include "pg_database.h"
#include "temp_dir.h"
#include "vlm/adoib_query.h"
#include "vlm/dtm_db_geral.h"
#include "vlm/helpers.h"

using vlm::DbEngine;
using vlm::HostConfig;

namespace {

const QStringList kFilialRows = {
    "('0001', 'Matriz', 'N', '001', 'C', NULL, '2024-06-03')",
    "('0002', 'Loja Centro', 'N', '001', 'L', '0001', '2024-06-04')",
    "('0003', 'Loja Rescindida', 'S', NULL, 'O', '0009', '2024-06-05')",
    "('0004', 'Loja Sem Data', 'N', '002', 'O', '', '2024-06-06')",
};

QStringList schema(const QString& nvlstrDdl) {
    QStringList s = {
        "CREATE TABLE FILIAL (CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY, NMFILIAL VARCHAR(30) NOT "
        "NULL, IDCNTRRESC CHAR(1), CDREGIAO VARCHAR(3), IDFUNCAOFILI CHAR(1), CDFILCENTCMP "
        "VARCHAR(4), DTPROCESSAMENTO DATE NOT NULL)",
    };
    if (!nvlstrDdl.isEmpty())
        s << nvlstrDdl;
    for (const QString& r : kFilialRows)
        s << "INSERT INTO FILIAL VALUES " + r;
    return s;
}

// The central purchasing branch query as the screens write it.
void setCentComp(TADOIBQuery& q) {
    q.setObjectName("qryCentComp");
    q.SQL = {"SELECT",
             "  CAST(NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS VARCHAR(4)) AS CDFILCENTCMP,",
             "  FILCENT.NMFILIAL AS NMFILIAL_CENTRAL",
             "FROM ",
             "  FILIAL FILCENT,",
             "  FILIAL ",
             "WHERE",
             "  FILIAL.CDFILIAL = :P_CDFILIAL AND",
             "  NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL"};
    q.SQL_IB = q.SQL;
    q.SQL_IB[3] = "FROM";
    q.SQL_IB[5] = "  FILIAL";
    q.SQL_ORACLE = q.SQL;
    q.SQL_ORACLE[1] = "  NVL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS CDFILCENTCMP,";
    q.SQL_MSSQL = q.SQL;
    q.SQL_MSSQL[1] = "  ISNULL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL)  AS CDFILCENTCMP,";
    TField* code = q.AddField("CDFILCENTCMP", 4);
    code->DisplayLabel = "Código";
    code->DisplayWidth = 8;
    q.AddField("NMFILIAL_CENTRAL", 30)->DisplayLabel = "Nome";
}

void setPesqFilial(TADOIBQuery& q) {
    q.setObjectName("qryPesqFilial");
    q.SQL = {"SELECT",
             "   CDFILIAL,",
             "   NMFILIAL,",
             "   IDCNTRRESC,",
             "   CDREGIAO,",
             "   IDFUNCAOFILI",
             "FROM",
             "   FILIAL",
             "WHERE",
             "   (CDFILIAL = :P_CDFILIAL OR :P_TCDFILIAL = 'T')",
             "ORDER BY ",
             "   CDFILIAL",
             " "};
}

// Expected central branch (code, name) per processing branch; empty: no row.
void expectCentralBranches(TADOIBQuery& q) {
    struct Case {
        const char* branch;
        const char* central;
        const char* name;
    } cases[] = {
        {"0001", "0001", "Matriz"},  // null CDFILCENTCMP: its own central
        {"0002", "0001", "Matriz"},
        {"0003", nullptr, nullptr},  // central 0009 missing
        {"9999", nullptr, nullptr},  // not registered
    };
    for (const auto& c : cases) {
        q.Close();
        q.ParamByName("P_CDFILIAL")->setValue(QString(c.branch));
        q.Open();
        if (c.central == nullptr) {
            EXPECT_TRUE(q.IsEmpty()) << c.branch;
            continue;
        }
        ASSERT_FALSE(q.IsEmpty()) << c.branch;
        EXPECT_EQ(q.FieldByName("CDFILCENTCMP")->AsString().trimmed(), c.central) << c.branch;
        EXPECT_EQ(q.FieldByName("NMFILIAL_CENTRAL")->AsString(), c.name) << c.branch;
    }
    EXPECT_EQ(q.FieldByName("CDFILCENTCMP")->label(), "Código");
}

class SqliteSuite : public ::testing::Test {
  protected:
    void SetUp() override {
        path = QString::fromStdString(dir.file("suite.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
            db.setDatabaseName(path);
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            for (const QString& s : schema(QString()))
                ASSERT_TRUE(q.exec(s)) << q.lastError().text().toStdString();
            db.close();
        }
        QSqlDatabase::removeDatabase("setup");
        HostConfig c;
        c.engine = DbEngine::Sqlite;
        c.dbPath = path;
        module.Open(c);
    }
    rqc::test::TempDir dir;
    QString path;
    TdtmDBGeral module;
};

}  // namespace

TEST_F(SqliteSuite, CentralBranchQueryRunsTheGenericTextWithNvlstr) {
    ASSERT_EQ(dtmDBGeral, &module);
    TADOIBQuery q;
    setCentComp(q);
    EXPECT_EQ(q.ActiveText(), q.SQL.join('\n'));
    expectCentralBranches(q);
}

TEST_F(SqliteSuite, SecondParameterTSelectsEveryRowInOrder) {
    TADOIBQuery q;
    setPesqFilial(q);
    EXPECT_EQ(q.ParamNames(), QStringList({"P_CDFILIAL", "P_TCDFILIAL"}));
    struct Case {
        QString code;
        QString all;
        QStringList rows;
    } cases[] = {
        {"", "T", {"0001", "0002", "0003", "0004"}},
        {"0002", "", {"0002"}},
        {"0002", "t", {"0002"}},
        {"0005", "", {}},
    };
    for (const auto& c : cases) {
        q.Close();
        q.ParamByName("P_CDFILIAL")->SetAsString(c.code);
        q.ParamByName("p_tcdfilial")->SetAsString(c.all);
        q.Open();
        QStringList got;
        for (q.First(); !q.Eof(); q.Next())
            got << q.FieldByName("CDFILIAL")->AsString();
        EXPECT_EQ(got, c.rows) << c.code.toStdString() << "/" << c.all.toStdString();
    }
    q.Close();
    q.ParamByName("P_CDFILIAL")->SetAsString("0003");
    q.ParamByName("P_TCDFILIAL")->SetAsString("");
    q.Open();
    EXPECT_EQ(q.FieldByName("IDCNTRRESC")->AsString(), "S");
    EXPECT_TRUE(q.FieldByName("CDREGIAO")->IsNull());
}

TEST_F(SqliteSuite, ParametersKeepTheirValuesAndUnassignedOnesAreNull) {
    TADOIBQuery q;
    setPesqFilial(q);
    q.Open();
    EXPECT_TRUE(q.IsEmpty());  // both null: neither condition holds
    EXPECT_TRUE(q.ParamByName("P_CDFILIAL")->IsNull());
    q.Close();
    q.ParamByName("P_TCDFILIAL")->SetAsString("T");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 4);
    q.Close();
    q.Open();
    EXPECT_EQ(q.RecordCount(), 4);
    q.Close();
    q.ParamByName("P_CDFILIAL")->SetAsString("0001");
    q.ParamByName("P_TCDFILIAL")->SetAsString("X");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.ParamByName("P_CDFILIAL")->AsString(), "0001");
}

TEST_F(SqliteSuite, OpenOnAnOpenQueryKeepsItsRows) {
    TADOIBQuery q;
    setPesqFilial(q);
    q.ParamByName("P_TCDFILIAL")->SetAsString("T");
    q.Open();
    q.Next();
    q.ParamByName("P_TCDFILIAL")->SetAsString("");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 4);
    EXPECT_EQ(q.RecNo(), 1);
}

TEST_F(SqliteSuite, FaultsAreReportedClearly) {
    TADOIBQuery q;
    setPesqFilial(q);
    try {
        q.ParamByName("P_NADA");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(
            std::string(e.what()).find("qryPesqFilial: the statement has no parameter :P_NADA"),
            std::string::npos);
    }
    TADOIBQuery bad;
    bad.setObjectName("qryErrada");
    bad.SQL = {"SELECT CDFILIAL FROM TABELA_QUE_NAO_EXISTE"};
    try {
        bad.Open();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("qryErrada"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("TABELA_QUE_NAO_EXISTE"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(bad.Active());

    TADOIBQuery missingField;
    missingField.setObjectName("qryCampo");
    missingField.SQL = {"SELECT CDFILIAL FROM FILIAL"};
    missingField.AddField("NMFILIAL", 30);
    EXPECT_THROW(missingField.Open(), std::runtime_error);
    EXPECT_FALSE(missingField.Active());

    TADOIBQuery quoted;
    quoted.SQL = {"SELECT CDFILIAL FROM FILIAL WHERE NMFILIAL <> ':NAOPARAM' AND CDFILIAL = :P"};
    EXPECT_EQ(quoted.ParamNames(), QStringList({"P"}));
    quoted.ParamByName("P")->SetAsString("0004");
    quoted.Open();
    EXPECT_EQ(quoted.RecordCount(), 1);
}

TEST_F(SqliteSuite, DataProcReadsTheBranchProcessingDate) {
    EXPECT_EQ(DataProc("0002"), vlm::toDateTime(QDate(2024, 6, 4)));
    EXPECT_EQ(DataProc("9999"), vlm::toDateTime(QDate::currentDate()));
}

TEST(TdtmDBGeral, OpenFailuresSayWhatFailedAndLeaveItClosed) {
    rqc::test::TempDir dir;
    TdtmDBGeral module;
    HostConfig c;
    c.dbPath = QString::fromStdString(dir.file("missing.db"));
    try {
        module.Open(c);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Arquivo do banco SQLite não encontrado"),
                  std::string::npos);
    }
    EXPECT_FALSE(module.Connected());
    c.dbPath.clear();
    EXPECT_THROW(module.Open(c), std::runtime_error);
    c.engine = DbEngine::Postgres;
    c.dbHost = "127.0.0.1";
    c.dbPort = 1;  // nothing listens there
    c.dbName = "suite";
    try {
        module.Open(c);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Não foi possível abrir o banco da suíte"),
                  std::string::npos);
    }
    EXPECT_FALSE(module.Connected());
    TADOIBQuery q;
    q.Connection = &module;
    q.SQL = {"SELECT 1"};
    EXPECT_THROW(q.Open(), std::runtime_error);
}

// The desktop's connection never writes the suite database, and it trusts no PostgreSQL server
// whose certificate it cannot verify.
TEST(TdtmDBGeral, ReadsSqliteReadOnlyAndRefusesAnUnverifiedPostgres) {
    rqc::test::TempDir dir;
    const QString file = QString::fromStdString(dir.file("suite.db"));
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
        writer.setDatabaseName(file);
        ASSERT_TRUE(writer.open());
        ASSERT_TRUE(QSqlQuery(writer).exec("CREATE TABLE FILIAL (CDFILIAL TEXT)"));
    }
    QSqlDatabase::removeDatabase("writer");
    TdtmDBGeral module;
    HostConfig c;
    c.dbPath = file;
    module.Open(c);
    {
        QSqlQuery q(module.Database());
        for (const char* sql : {"INSERT INTO FILIAL VALUES ('0001')", "DELETE FROM FILIAL",
                                "CREATE TABLE X (A INTEGER)"})
            EXPECT_FALSE(q.exec(sql)) << sql;
        EXPECT_TRUE(q.exec("SELECT COUNT(*) FROM FILIAL")) << q.lastError().text().toStdString();
    }
    module.Close();

    rqc::test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    // A CA that never signed the server's certificate.
    const std::string ca = dir.file("other-ca.pem");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=outra "
                           "-keyout " +
                           dir.file("other-ca.key") + " -out " + ca + " >/dev/null 2>&1")
                              .c_str()),
              0);
    QUrl url(QString::fromStdString(pg.url()));
    HostConfig p;
    p.engine = DbEngine::Postgres;
    p.dbHost = url.host();
    p.dbPort = url.port(5432);
    p.dbName = url.path().mid(1);
    p.dbUser = url.userName();
    p.dbSslMode = "verify-full";
    p.dbCaFile = QString::fromStdString(ca);
    try {
        module.Open(p);
        ADD_FAILURE() << "connected to a server whose certificate does not verify";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("não foi emitido pela autoridade de [Banco] "
                                             "CertificadoCA"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(module.Connected());
}

TEST(TADOIBQuery, PostgresRunsTheGenericText) {
    rqc::test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    QUrl url(QString::fromStdString(pg.url()));
    HostConfig c;
    c.engine = DbEngine::Postgres;
    c.dbHost = url.host();
    c.dbPort = url.port(5432);
    c.dbName = url.path().mid(1);
    c.dbUser = url.userName();
    TdtmDBGeral module;
    module.Open(c);
    {
        QSqlQuery q(module.Database());
        for (const QString& s : schema("CREATE FUNCTION NVLSTR(a text, b text) RETURNS text "
                                       "LANGUAGE sql IMMUTABLE AS $$ SELECT COALESCE(a,b) $$")) {
            ASSERT_TRUE(q.exec(s)) << q.lastError().text().toStdString();
        }
    }
    TADOIBQuery q;
    q.Connection = &module;
    setCentComp(q);
    expectCentralBranches(q);
    TADOIBQuery withCast;
    withCast.Connection = &module;
    withCast.SQL = {"SELECT CDFILIAL::text AS C FROM FILIAL WHERE CDFILIAL = :P"};
    withCast.ParamByName("P")->SetAsString("0004");
    withCast.Open();
    EXPECT_EQ(withCast.FieldByName("C")->AsString(), "0004");
    module.Close();
}

TEST(TADOIBQuery, FirebirdRunsTheInterBaseText) {
    QString isql = QStandardPaths::findExecutable("isql-fb");
    if (isql.isEmpty() || !QSqlDatabase::isDriverAvailable("QIBASE")) {
        GTEST_SKIP() << "isql-fb or the QIBASE driver is not installed";
    }
    rqc::test::TempDir dir;
    QString fdb = QString::fromStdString(dir.file("suite.fdb"));
    std::string script =
        "CREATE DATABASE '" + fdb.toStdString() + "' USER 'SYSDBA' DEFAULT CHARACTER SET UTF8;\n";
    for (const QString& s : schema(QString()))
        script += s.toStdString() + ";\n";
    script +=
        "SET TERM ^ ;\nCREATE OR ALTER FUNCTION NVLSTR(A VARCHAR(4000), B VARCHAR(4000)) RETURNS "
        "VARCHAR(4000) AS BEGIN RETURN COALESCE(A,B); END^\nSET TERM ; ^\nCOMMIT;\n";
    std::ofstream(dir.file("create.sql")) << script;
    QProcess p;
    p.start(isql, {"-q", "-i", QString::fromStdString(dir.file("create.sql"))});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

    TdtmDBGeral module;
    HostConfig c;
    c.engine = DbEngine::Firebird;
    c.dbUser = QStringLiteral("SYSDBA");  // embedded access: the owner of the test file
    c.dbPath = fdb;
    module.Open(c);
    TADOIBQuery q;
    q.Connection = &module;
    setCentComp(q);
    // The generic text is made unusable: only the InterBase text can give the rows.
    q.SQL = {"THIS IS NOT SQL :P_CDFILIAL"};
    EXPECT_EQ(q.ActiveText(), q.SQL_IB.join('\n'));
    expectCentralBranches(q);
    EXPECT_EQ(DataProc("0003"), vlm::toDateTime(QDate(2024, 6, 5)));
    module.Close();
}
