// Runs the built rqc-suitedb program on real databases and checks what it prints and leaves.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "suitedb/connection.h"
#include "suitedb/operators.h"
#include "suitedb/schema.h"
#include "support/command.h"
#include "support/pg_database.h"
#include "support/temp_dir.h"

namespace rqc::suitedb {
namespace {

using Outcome = test::CommandOutcome;

Outcome run(const std::string& command) {
    return test::runCommand(command);
}

std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string tool() {
    const char* bin = std::getenv("RQC_BIN_DIR");
    return shellQuoted(std::string(bin ? bin : ".") + "/rqc-suitedb");
}

Outcome suitedb(const std::string& args) {
    return run(tool() + " " + args);
}

bool contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

class RqcSuitedbTool : public ::testing::Test {
  protected:
    std::string demoDb() {
        std::string path = m_dir.file("demo.db");
        Outcome r = suitedb("init --db " + shellQuoted(path) + " --demo --today 2024-03-15");
        EXPECT_EQ(r.exit, 0) << r.output;
        return path;
    }
    rqc::test::TempDir m_dir;
};

TEST_F(RqcSuitedbTool, InitDemoCreatesTheSchemaAndSaysWhatItLoaded) {
    std::string path = m_dir.file("demo.db");
    Outcome r = suitedb("init --db " + shellQuoted(path) + " --demo --today 2024-03-15");
    ASSERT_EQ(r.exit, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "schema version " + std::to_string(kSchemaVersion) + " applied"))
        << r.output;
    EXPECT_TRUE(contains(r.output, "FILIAL                 20 rows")) << r.output;
    EXPECT_TRUE(contains(r.output, "SOLICMP              2000 rows")) << r.output;
    auto c = Connection::open(path);
    auto cur = c->query("SELECT COUNT(*) FROM PRODUTO");
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->int64(0), 2000);

    Outcome v = suitedb("version --db " + shellQuoted(path));
    EXPECT_EQ(v.exit, 0);
    EXPECT_EQ(v.output, std::to_string(kSchemaVersion) + "\n");
}

TEST_F(RqcSuitedbTool, InitRefusesADatabaseWithDataUnlessForced) {
    std::string path = demoDb();
    Outcome r = suitedb("init --db " + shellQuoted(path) + " --generate 500 --today 2024-03-15");
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(contains(r.output, "already holds data; use --force")) << r.output;
    auto c = Connection::open(path);
    auto cur = c->query("SELECT COUNT(*) FROM SOLICMP");
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->int64(0), 2000) << "the refused run changed the data";
    cur.reset();

    r = suitedb("init --db " + shellQuoted(path) + " --generate 500 --today 2024-03-15 --force");
    ASSERT_EQ(r.exit, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "emptied every table")) << r.output;
    cur = c->query("SELECT COUNT(*) FROM ITSOLICMP");
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->int64(0), 500);
    cur.reset();

    r = suitedb("init --db " + shellQuoted(path) + " --empty --force");
    ASSERT_EQ(r.exit, 0) << r.output;
    EXPECT_FALSE(hasData(*c));
}

TEST_F(RqcSuitedbTool, ShowPrintsHeaderLinesAndSourceLines) {
    std::string path = demoDb();
    std::vector<std::string> sourceRows;
    {
        auto c = Connection::open(path);
        Transaction tx(*c);
        c->exec(
            "INSERT INTO CONSSOLI (NRCONSSOLI, CDFILIAL, CDFILCENTCMP, CDFILEST, CDARVPRODINI, "
            "CDARVPRODFIN, DTENTREGAINI, DTENTREGAFIN, DTPROCESTOQUE, LSTCOMPRADOR, LSTFILIAL, "
            "LSTSOLICIT, IDCONSESTOQUE, IDCONSSOLI, IDPRODORIG, IDTODASSOLI, IDCONSSOLIABERTA, "
            "IDCONSAF, IDLIMITESEG, IDPARAMOL, IDSITUACAO, DTGERACAO, NMUSUARIO) VALUES "
            "('0000000001', '0001', '0001', '0001', '01.01.001.0001', '10.02.010.0010', "
            "'2024-03-01', '2024-03-31', '2024-03-15', '', '0002,0003', '', 'S', 'N', 'N', 'T', "
            "'S', 'S', 'S', 'N', 'A', '2024-03-15 10:30:00', 'maria')");
        auto lines = c->query(
            "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA "
            "FROM ITSOLICMP WHERE CDFILSOLI = '0002' ORDER BY NRSOLICMP, NRITEM LIMIT 3");
        std::vector<std::vector<Param>> links;
        while (lines->next()) {
            links.push_back({std::string(lines->text(0)), std::string(lines->text(1)),
                             std::string(lines->text(2)), lines->int64(3),
                             std::string(lines->text(4)), lines->real(5)});
        }
        lines.reset();
        ASSERT_EQ(links.size(), 3u);
        for (auto& l : links) {
            sourceRows.push_back("0002      " + std::get<std::string>(l[1]) + "       " +
                                 std::get<std::string>(l[2]) + " " +
                                 std::to_string(std::get<std::int64_t>(l[3])) + "      " +
                                 std::get<std::string>(l[4]));
            c->execute(
                "INSERT INTO ITCONSSOLIORIG (NRCONSSOLI, CDFILSOLI, CDFILLANCA, NRSOLICMP, "
                "NRITEM, CDPRODUTO, QTSOLICITADA) VALUES ('0000000001', ?, ?, ?, ?, ?, ?)",
                l);
            c->execute(
                "INSERT INTO ITCONSSOLI (NRCONSSOLI, CDPRODUTO, QTSOLICITADA, QTLIMITESEG, "
                "QTESTOQUE, QTAF, QTCONSABERTA, QTARREDONDA, QTCONSOLIDADA) VALUES "
                "('0000000001', ?, ?, 2, 1, 0, 0, 0.5, ?)",
                {l[4], l[5], std::get<double>(l[5]) + 1.5});
        }
        tx.commit();
    }
    Outcome r = suitedb("show --db " + shellQuoted(path) + " 1");
    ASSERT_EQ(r.exit, 0) << r.output;
    for (const char* expected :
         {"Consolidated request 0000000001", "NMUSUARIO:", "maria", "LSTFILIAL:", "0002,0003",
          "IDCONSAF:", "DTGERACAO:", "2024-03-15 10:30:00", "QTCONSOLIDADA", "QTARREDONDA",
          "3 line(s)", "3 source line(s)"}) {
        EXPECT_TRUE(contains(r.output, expected)) << expected << "\n" << r.output;
    }
    for (const auto& row : sourceRows)
        EXPECT_TRUE(contains(r.output, row)) << row;
}

TEST_F(RqcSuitedbTool, ErrorsExitNonZeroWithAClearMessage) {
    std::string path = demoDb();
    struct Case {
        std::string args;
        std::string message;
    };
    const Case cases[] = {
        {"init --db " + shellQuoted(m_dir.file("a.db")),
         "Exactly 1 option from [--demo,--generate,--empty] is required"},
        {"init --db " + shellQuoted(m_dir.file("a.db")) + " --demo --empty", "and 2 were given"},
        {"init --db " + shellQuoted(m_dir.file("a.db")) + " --demo --today 2024-13-01",
         "'2024-13-01' is not a valid date"},
        {"init --db " + shellQuoted(m_dir.file("a.db")) + " --generate 0", "--generate"},
        {"init --db firebird: --demo", "firebird: needs a file path"},
        {"version --db " + shellQuoted(m_dir.file("missing.db")), "no database at"},
        {"show --db " + shellQuoted(path) + " 12x", "'12x' is not a consolidated request number"},
        {"show --db " + shellQuoted(path) + " 42", "there is no consolidated request 0000000042"},
        {"show --db " + shellQuoted(m_dir.file("missing.db")) + " 1", "no database at"},
        {"frobnicate", "A subcommand is required"},
    };
    for (const auto& c : cases) {
        Outcome r = suitedb(c.args);
        EXPECT_NE(r.exit, 0) << c.args;
        EXPECT_TRUE(contains(r.output, c.message)) << c.args << "\n" << r.output;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("a.db")))
        << "a refused init left a database file behind";
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("missing.db")));
}

TEST_F(RqcSuitedbTool, OperatorCommandsManagePasswordsAndPermissions) {
    const std::string db = shellQuoted(demoDb());
    const std::string obj = "Rqc04100.rdmConsolidaSolicita";
    auto withPassword = [](const std::string& pw, const std::string& args) {
        return run("RQC_PASSWORD=" + shellQuoted(pw) + " " + tool() + " " + args);
    };
    auto typed = [](const std::string& pw, const std::string& args) {
        return run("sh -c " +
                   shellQuoted("printf '%s\\n' " + shellQuoted(pw) + " | " + tool() + " " + args));
    };
    struct Case {
        const char* name;
        Outcome outcome;
        bool ok;
        std::string message;
    };
    const Case cases[] = {
        {"add", withPassword("senha-do-ze", "operator add --db " + db + " ZE --name Zé"), true,
         "operator ZE added"},
        {"add again", withPassword("outra-senha", "operator add --db " + db + " ZE"), false,
         "already exists"},
        {"short password", withPassword("curta", "operator add --db " + db + " LU"), false,
         "at least 8 characters"},
        {"bad code", withPassword("senha-longa", "operator add --db " + db + " 'A B'"), false,
         "only letters"},
        {"passwd typed on stdin", typed("senha-nova-ze", "operator passwd --db " + db + " ZE"),
         true, "password of ZE changed"},
        {"passwd of nobody", withPassword("senha-longa", "operator passwd --db " + db + " NADA"),
         false, "has no password yet"},
        {"grant", suitedb("operator grant --db " + db + " ZE " + obj), true,
         "granted: ZE may call"},
        {"grant again", suitedb("operator grant --db " + db + " ZE " + obj), true, "unchanged:"},
        {"grant a bad name", suitedb("operator grant --db " + db + " ZE 'x;drop'"), false,
         "object name"},
        {"grant a misspelt object", suitedb("operator grant --db " + db + " ZE " + obj + "s"),
         false, "confira a grafia"},
        {"list", suitedb("operator list --db " + db), true, "ZE"},
        {"password on the command line", suitedb("operator add --db " + db + " ZE --password x"),
         false, "--password"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.outcome.exit == 0, c.ok) << c.name << "\n" << c.outcome.output;
        EXPECT_TRUE(contains(c.outcome.output, c.message)) << c.name << "\n" << c.outcome.output;
    }
    auto conn = Connection::open(m_dir.file("demo.db"));
    EXPECT_FALSE(checkLogin(*conn, "ZE", "senha-do-ze")) << "the old password still works";
    auto objects = checkLogin(*conn, "ZE", "senha-nova-ze");
    ASSERT_TRUE(objects);
    EXPECT_EQ(*objects, std::vector<std::string>{obj});
    Outcome revoked = suitedb("operator revoke --db " + db + " ZE " + obj);
    EXPECT_EQ(revoked.exit, 0) << revoked.output;
    EXPECT_TRUE(checkLogin(*conn, "ZE", "senha-nova-ze")->empty());
}

TEST_F(RqcSuitedbTool, OnlyTheDemoDatabaseHasOperatorsTheOthersSayHowToAddOne) {
    const std::string hint = "rqc-suitedb operator add --db ";
    const std::string empty = shellQuoted(m_dir.file("empty.db"));
    for (const Outcome& r : {suitedb("init --db " + empty + " --empty"),
                             suitedb("init --db " + shellQuoted(m_dir.file("big.db")) +
                                     " --generate 50 --today 2024-03-15"),
                             suitedb("operator list --db " + empty)}) {
        EXPECT_EQ(r.exit, 0) << r.output;
        EXPECT_TRUE(contains(r.output, hint)) << r.output;
    }
    auto conn = Connection::open(m_dir.file("big.db"));
    EXPECT_TRUE(listOperators(*conn).empty());
    EXPECT_FALSE(contains(suitedb("operator list --db " + shellQuoted(demoDb())).output, hint));
}

TEST_F(RqcSuitedbTool, ALoginWithAWeakerHashStoresAStrongOne) {
    auto conn = Connection::open(demoDb());
    const std::string weak = hashPasswordWith("rqc04100", 2, 8u << 20);
    conn->execute("UPDATE OPERADORSENHA SET DSHASH = ? WHERE CDOPERADOR = 'COMP001'", {weak});
    auto stored = [&] {
        auto cur = conn->query("SELECT DSHASH FROM OPERADORSENHA WHERE CDOPERADOR = 'COMP001'");
        return cur->next() ? std::string(cur->text(0)) : std::string();
    };
    EXPECT_TRUE(hashNeedsUpgrade(weak));
    EXPECT_FALSE(checkLogin(*conn, "COMP001", "wrong-password"));
    EXPECT_EQ(stored(), weak) << "a refused login changes nothing";
    ASSERT_TRUE(checkLogin(*conn, "COMP001", "rqc04100"));
    EXPECT_TRUE(stored().starts_with("$argon2id$v=19$m=19456,t=2,")) << stored();
    EXPECT_TRUE(checkLogin(*conn, "COMP001", "rqc04100")) << "the new hash holds the password";
}

TEST_F(RqcSuitedbTool, RefusesADatabaseNewerThanItKnows) {
    std::string path = demoDb();
    {
        auto c = Connection::open(path);
        c->execute("INSERT INTO SCHEMA_VERSION (VERSAO, DTAPLICACAO) VALUES (?, CURRENT_TIMESTAMP)",
                   {std::int64_t{kSchemaVersion + 1}});
    }
    Outcome r = suitedb("init --db " + shellQuoted(path) + " --demo --force");
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(contains(r.output, "newer than version " + std::to_string(kSchemaVersion)))
        << r.output;
    EXPECT_EQ(suitedb("version --db " + shellQuoted(path)).output,
              std::to_string(kSchemaVersion + 1) + "\n");
}

TEST_F(RqcSuitedbTool, WorksOnPostgres) {
    rqc::test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    Outcome r = suitedb("init --db " + shellQuoted(pg.url()) + " --demo --today 2024-03-15");
    ASSERT_EQ(r.exit, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "ITSOLICMP")) << r.output;
    EXPECT_EQ(suitedb("version --db " + shellQuoted(pg.url())).output,
              std::to_string(kSchemaVersion) + "\n");
    r = suitedb("show --db " + shellQuoted(pg.url()) + " 7");
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(contains(r.output, "there is no consolidated request 0000000007")) << r.output;
}

// The desktops' role reads the four look-up tables and nothing else.
TEST_F(RqcSuitedbTool, TheDesktopRoleReadsTheLookUpsAndWritesNothing) {
    rqc::test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    ASSERT_EQ(suitedb("init --db " + shellQuoted(pg.url()) + " --demo --today 2024-03-15").exit, 0);
    const std::string role = "rqc_desktop_" + std::to_string(::getpid());
    Outcome r = run("RQC_PASSWORD=senha-dos-desktops " + tool() + " desktop-role --db " +
                    shellQuoted(pg.url()) + " " + role);
    ASSERT_EQ(r.exit, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "OPERADOR (CDOPERADOR, NMOPERADOR), nothing else")) << r.output;
    const std::string owner =
        pg.url().substr(pg.url().find("://") + 3, pg.url().find('@') - pg.url().find("://") - 3);
    r = run("RQC_PASSWORD=senha-dos-desktops " + tool() + " desktop-role --db " +
            shellQuoted(pg.url()) + " " + owner.substr(0, owner.find(':')));
    EXPECT_EQ(r.exit, 1) << "the servers' role is never the desktops' one: " << r.output;

    const std::string url =
        "postgresql://" + role + ":senha-dos-desktops@" + pg.url().substr(pg.url().find('@') + 1);
    auto desk = Connection::open(url);
    EXPECT_TRUE(desk->query("SELECT NMFILIAL FROM FILIAL")->next());
    EXPECT_TRUE(desk->query("SELECT NMOPERADOR FROM OPERADOR")->next());
    const char* refused[] = {
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL) VALUES ('9999', 'X')",
        "UPDATE ITSOLICMP SET QTSOLICITADA = QTSOLICITADA * 10",
        "DELETE FROM LOGINFALHA",
        "UPDATE OPERADORSENHA SET DSHASH = 'x'",
        "INSERT INTO PERMISSAO (CDOPERADOR, NMOBJETO) VALUES ('X', 'Y')",
        "SELECT DSHASH FROM OPERADORSENHA",
        "SELECT * FROM PERMISSAO",
        "SELECT * FROM SOLICMP",
    };
    for (const char* sql : refused)
        EXPECT_THROW(desk->execute(sql), DbError) << sql;
}

// Runs an isql-fb script against a Firebird file (embedded) and returns its output.
std::string isql(const rqc::test::TempDir& dir, const std::string& db, const std::string& sql) {
    std::string script = dir.file("query.sql");
    std::ofstream(script) << "SET NAMES UTF8;\nCONNECT '" << db << "' USER 'SYSDBA';\n"
                          << "SET HEADING OFF;\n"
                          << sql;
    return run("isql-fb -q -user SYSDBA -i " + shellQuoted(script)).output;
}

TEST_F(RqcSuitedbTool, CreatesAFirebirdDatabaseWithTheDemoRows) {
    std::string fdb = m_dir.file("suite.fdb");
    Outcome r =
        suitedb("init --db " + shellQuoted("firebird:" + fdb) + " --demo --today 2024-03-15");
    ASSERT_EQ(r.exit, 0) << r.output;
    ASSERT_TRUE(std::filesystem::exists(fdb));
    std::string out = isql(m_dir, fdb,
                           "SELECT 'FILIAL=' || COUNT(*) FROM FILIAL;\n"
                           "SELECT 'OPERADOR=' || COUNT(*) FROM OPERADOR;\n"
                           "SELECT 'COMPRADOR=' || COUNT(*) FROM COMPRADOR;\n"
                           "SELECT 'PRODUTO=' || COUNT(*) FROM PRODUTO;\n"
                           "SELECT 'NAME=' || NMFILIAL FROM FILIAL WHERE CDFILIAL = '0013';\n"
                           "SELECT 'RESC=' || IDCNTRRESC FROM FILIAL WHERE CDFILIAL = '0009';\n"
                           // The screen's central-purchasing look-up in its SQL_IB form.
                           "SELECT\n  'CENTRAL=' || CAST(NVLSTR(FILIAL.CDFILCENTCMP, "
                           "FILIAL.CDFILIAL) AS VARCHAR(4)) AS CDFILCENTCMP,\n"
                           "  FILCENT.NMFILIAL AS NMFILIAL_CENTRAL\nFROM\n  FILIAL FILCENT,\n"
                           "  FILIAL\nWHERE\n  FILIAL.CDFILIAL = '0012' AND\n"
                           "  NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL;\n");
    for (const char* expected : {"FILIAL=20", "OPERADOR=56", "COMPRADOR=50", "PRODUTO=2000",
                                 "NAME=Loja Maringá", "RESC=S", "CENTRAL=0011"}) {
        EXPECT_TRUE(contains(out, expected)) << expected << "\n" << out;
    }

    r = suitedb("init --db " + shellQuoted("firebird:" + fdb) + " --demo");
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(contains(r.output, "already exists; use --force")) << r.output;
    r = suitedb("init --db " + shellQuoted("firebird:" + fdb) + " --empty --force");
    ASSERT_EQ(r.exit, 0) << r.output;
    out = isql(m_dir, fdb, "SELECT 'FILIAL=' || COUNT(*) FROM FILIAL;\n");
    EXPECT_TRUE(contains(out, "FILIAL=0")) << out;
}

TEST_F(RqcSuitedbTool, FirebirdFailureRemovesTheHalfMadeFile) {
    std::string fdb = m_dir.file("no-such-folder/suite.fdb");
    Outcome r = suitedb("init --db " + shellQuoted("firebird:" + fdb) + " --demo");
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(contains(r.output, "does not exist")) << r.output;
    EXPECT_FALSE(std::filesystem::exists(fdb));
}

// The daily feed: the shipped examples and a file with a problem dropped in one folder; the
// good files are imported and put aside, the bad one rejected with its problems beside it.
TEST_F(RqcSuitedbTool, FolderFeedImportsTheGoodFilesAndRejectsTheBadOne) {
    namespace fs = std::filesystem;
    const std::string db = m_dir.file("feed.db");
    ASSERT_EQ(suitedb("init --db " + shellQuoted(db) + " --empty").exit, 0);
    const fs::path in = m_dir.file("entrada");
    fs::create_directories(in);
    const char* source = std::getenv("RQC_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    for (const auto& e : fs::directory_iterator(fs::path(source) / "packaging/exemplos"))
        fs::copy_file(e.path(), in / e.path().filename());
    std::ofstream(in / "ESTOQUE_loja.csv") << "CDFILIAL;CDPRODUTO;DTESTOQUE;QTESTOQUE\n"
                                              "0001;0000000001;2026-12-16;1,5\n"
                                              "0001;0000000001;16/12/26;2\n";

    Outcome dry = suitedb("import --dry-run --db " + shellQuoted(db) + " " +
                          shellQuoted((in / "FILIAL.csv").string()));
    EXPECT_EQ(dry.exit, 0) << dry.output;
    EXPECT_TRUE(contains(dry.output, "1 a incluir")) << dry.output;

    Outcome r = suitedb("import --db " + shellQuoted(db) + " " + shellQuoted(in.string()));
    EXPECT_EQ(r.exit, 1) << r.output;
    std::size_t done = 0, rejected = 0;
    for (const auto& e : fs::directory_iterator(in / "processados"))
        done += e.path().extension() == ".csv";
    std::string errors;
    for (const auto& e : fs::directory_iterator(in / "rejeitados")) {
        rejected += e.path().extension() == ".csv";
        if (e.path().string().ends_with(".erros.txt"))
            std::getline(std::ifstream(e.path()), errors);
    }
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(rejected, 1u);
    EXPECT_TRUE(contains(errors, "ESTOQUE_loja.csv, linha 3, coluna DTESTOQUE, valor '16/12/26'"))
        << errors;
    EXPECT_TRUE(contains(suitedb("import --template SOLICMP").output,
                         "CDFILSOLI;CDFILLANCA;NRSOLICMP;DTSOLICITACAO;DTENTREGA"));
}

}  // namespace
}  // namespace rqc::suitedb
