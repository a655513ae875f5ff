// A company's own files in (rqc-suitedb import), a consolidation through a real server, and
// the consolidated request handed on (export) and closed, on SQLite and PostgreSQL.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "consolidation_test_support.h"
#include "suitedb/import.h"
#include "support/command.h"
#include "support/demo_calls.h"
#include "support/server_process.h"

namespace rqc::test {
namespace {

namespace fs = std::filesystem;
using protocol::CallResult;
using suitedb::ImportReport;

// Windows-1252 bytes of the Portuguese letters the set uses.
std::string cp1252(std::string s) {
    const std::pair<std::string, char> kLetters[] = {{"ã", '\xE3'}, {"ç", '\xE7'}, {"é", '\xE9'},
                                                     {"í", '\xED'}, {"ó", '\xF3'}, {"ú", '\xFA'}};
    for (const auto& [utf8, byte] : kLetters) {
        for (std::size_t at = s.find(utf8); at != std::string::npos; at = s.find(utf8))
            s.replace(at, utf8.size(), 1, byte);
    }
    return s;
}

// A small company: central 0001 serving stores 0002 and 0003, three products (P3's origin is
// P1), stock, an AF, limits, OL parameters and four requests in March 2024. The files are as
// an ERP writes them: Windows-1252 with ';' and decimal comma, products in UTF-8 with a BOM
// and ',' separators, columns in any order, friendly names, optional columns left out.
const std::pair<const char*, std::string> kCompany[] = {
    {"SOLICMP.csv",
     cp1252("CDFILSOLI;CDFILLANCA;NRSOLICMP;DTSOLICITACAO;DTENTREGA;CDOPERADOR;NRITEM;"
            "CDPRODUTO;QTSOLICITADA\r\n"
            "0002;0002;S1;01/03/2024;10/03/2024;COMP001;1;P1;10\r\n"
            "0002;0002;S1;01/03/2024;10/03/2024;COMP001;2;P2;2,5\r\n"
            "0003;0003;S2;2024-03-02;2024-03-12;;1;P3;4\r\n"
            "0003;0003;S3;;20/04/2024;;1;P1;99\r\n")},
    {"FILIAL.csv",
     cp1252("filial;nome;IDCNTRRESC;IDFUNCAOFILI;centralizadora;data_processamento\r\n"
            "0001;Central Compras São Paulo;N;C;;05/03/2024\r\n"
            "0002;Loja Pinheiros;N;L;0001;05/03/2024\r\n"
            "0003;Loja Açaí;N;L;0001;05/03/2024\r\n")},
    {"OPERADOR.csv", cp1252("CDOPERADOR;NMOPERADOR\r\nCOMP001;Ana Souza\r\nCOMP002;João\r\n")},
    {"COMPRADOR.csv", "CDOPERADOR\nCOMP001\n"},
    {"PRODUTO.csv",
     "\xEF\xBB\xBF"
     "CDPRODUTO,CDARVPROD,NMPRODUTO,CDCOMPRADOR,CDPRODORIG\n"
     "P1,01.01.001.0001,Arroz tradicional 5 kg,COMP001,\n"
     "P2,01.01.001.0002,\"Feijão carioca, 1 kg\",COMP001,\n"
     "P3,01.01.001.0003,Arroz integral 5 kg,,P1\n"},
    {"PARCMPSUP.csv", "CDFILIAL;IDUTPRODPREF;QTDIASCOBERTURA\r\n0001;N;30\r\n"},
    {"ESTOQUE.csv", "CDFILIAL;CDPRODUTO;DTESTOQUE;QTESTOQUE\r\n0001;P1;04/03/2024;3,5\r\n"},
    {"AUTFORN.csv",
     "NRAUTFORN;CDPRODUTO;CDFILIAL;QTAUTORIZADA;QTRECEBIDA;IDSITUACAO\r\nAF1;P2;0001;1;;A\r\n"},
    {"LIMSEGFIL.csv", "CDFILIAL;CDPRODUTO;QTLIMITESEG\r\n0001;P1;2\r\n"},
    {"PARAMOL.csv", "CDFILIAL;CDPRODUTO;QTMULTIPLO;QTMINIMA\r\n0001;P3;6;\r\n"},
};

std::string bin(const std::string& name) {
    return ServerProcess::binary(name);
}

class DataFeed : public ::testing::TestWithParam<DbKind> {
  protected:
    void SetUp() override {
        m_db = std::make_unique<ConsolidationDb>(GetParam());
        if (!m_db->available())
            GTEST_SKIP() << "PostgreSQL not configured";
        m_conn = m_db->connect();
        for (const auto& [name, text] : kCompany)
            m_files.push_back(write(name, text));
    }
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = m_dir.file(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string text(const std::string& sql) {
        auto c = m_conn->query(sql);
        return c->next() ? std::string(c->text(0)) : std::string("<none>");
    }
    std::string snapshot() { return rqc::test::snapshot(*m_conn); }
    ServerProcess& startServer() {
        ServerProcess::Options o;
        o.db = m_db->target();
        o.workDir = m_dir.path().string();
        m_server = std::make_unique<ServerProcess>(o);
        m_server->start();
        return *m_server;
    }
    std::vector<suitedb::ImportFile> files() const {
        std::vector<suitedb::ImportFile> out;
        for (const auto& f : m_files)
            out.push_back({f, ""});
        return out;
    }
    ImportReport import(const suitedb::ImportOptions& o = {}) {
        return suitedb::importFiles(*m_conn, files(), o);
    }
    std::string problems(const ImportReport& r) {
        std::string out;
        for (const auto& p : r.problems)
            out += p.text() + "\n";
        return out;
    }
    CallResult consolidate(ServerProcess& server) {
        TestClient client;
        client.connect("127.0.0.1", server.port());
        return client.call(makeCall("GetConsSoli", baselineArguments()));
    }

    TempDir m_dir;
    std::unique_ptr<ConsolidationDb> m_db;
    std::unique_ptr<suitedb::Connection> m_conn;
    std::vector<std::string> m_files;
    std::unique_ptr<ServerProcess> m_server;
};

TEST_P(DataFeed, CompanySetConsolidatesAndImportingItAgainChangesNothing) {
    ImportReport r = import();
    ASSERT_TRUE(r.ok()) << problems(r);
    EXPECT_TRUE(r.written);
    const std::string loaded = snapshot();
    EXPECT_NE(loaded.find("Central Compras São Paulo"), std::string::npos) << loaded;
    EXPECT_NE(loaded.find("0003|Loja Açaí|N|<null>|L|0001|2024-03-05|"), std::string::npos)
        << loaded;
    EXPECT_EQ(scalar(*m_conn,
                     "SELECT COUNT(*) FROM ITSOLICMP WHERE CDPRODUTO = 'P2' AND"
                     " QTSOLICITADA = 2.5 AND NRCONSSOLI IS NULL"),
              1);

    ServerProcess& server = startServer();
    CallResult run = consolidate(server);
    ASSERT_EQ(run.kind, CallResult::Kind::Text) << run.text;
    // S1 and S2 deliver in March; S3 in April stays out. P3 consolidates as itself.
    EXPECT_EQ(scalar(*m_conn, "SELECT COUNT(*) FROM ITCONSSOLIORIG"), 3);
    const std::string nr = text("SELECT NRCONSSOLI FROM CONSSOLI");
    EXPECT_EQ(consolidatedQuantities(*m_conn, nr),
              (std::map<std::string, double>{{"P1", 10}, {"P2", 2.5}, {"P3", 4}}));
    EXPECT_EQ(consistencyFaults(*m_conn), "");

    const std::string before = snapshot();
    r = import();
    ASSERT_TRUE(r.ok()) << problems(r);
    for (const auto& c : r.counts)
        EXPECT_EQ(c.added + c.changed + c.removed, 0) << c.kind;
    EXPECT_EQ(snapshot(), before);

    // A taken line keeps its product and quantity; the refusal names its consolidation.
    m_files = {write("SOLICMP_correcao.csv",
                     "CDFILSOLI;CDFILLANCA;NRSOLICMP;DTENTREGA;NRITEM;CDPRODUTO;QTSOLICITADA\n"
                     "0002;0002;S1;10/03/2024;2;P2;3\n")};
    r = import();
    ASSERT_EQ(r.problems.size(), 1u) << problems(r);
    EXPECT_EQ(r.problems[0].column, "QTSOLICITADA");
    EXPECT_NE(r.problems[0].message.find(nr), std::string::npos) << problems(r);
    EXPECT_EQ(snapshot(), before);
}

TEST_P(DataFeed, OneBadValueInTheLastFileWritesNothingAndSaysWhere) {
    struct Case {
        std::string line, column, value, says;
    };
    const Case cases[] = {
        {"0002;0002;S9;01/03/2024;31/02/2024;;1;P1;1", "DTENTREGA", "31/02/2024", "calendário"},
        {"0002;0002;S9;01/03/2024;15/03/2024;;1;P1;1.234", "QTSOLICITADA", "1.234", "--decimal"},
        {"0002;0002;S9;01/03/2024;15/03/2024;;1;P1;-2", "QTSOLICITADA", "-2", "negativa"},
        {"0002;0002;S9;01/03/2024;15/03/2024;;1;P9;1", "CDPRODUTO", "P9", "não existe"},
        {"2;0002;S9;01/03/2024;15/03/2024;;1;P1;1", "CDFILSOLI", "2", "'0002'"},
        {"0002;0002;S1;01/03/2024;10/03/2024;COMP001;1;P1;10", "", "0002 0002 S1 1", "repete"},
    };
    ASSERT_TRUE(import().ok());
    const std::string before = snapshot();
    for (const Case& c : cases) {
        // The requests' file is given first; it is still checked after the files it needs.
        const std::string bad = m_files[0] =
            write("SOLICMP_dia.csv", std::get<1>(kCompany[0]) + c.line + "\r\n");
        ImportReport r = import();
        ASSERT_EQ(r.problems.size(), 1u) << c.line << "\n" << problems(r);
        const auto& p = r.problems[0];
        EXPECT_EQ(p.file, bad);
        EXPECT_EQ(p.line, 6);
        EXPECT_EQ(p.column, c.column);
        EXPECT_EQ(p.value, c.value);
        EXPECT_NE(p.message.find(c.says), std::string::npos) << p.text();
        EXPECT_FALSE(r.written);
        EXPECT_EQ(snapshot(), before) << c.line;
    }
}

TEST_P(DataFeed, DatabaseRefusesEmptyCodesBadDatesAndNegativeQuantities) {
    ASSERT_TRUE(import().ok());
    for (const char* sql :
         {"UPDATE FILIAL SET CDFILCENTCMP = '' WHERE CDFILIAL = '0002'",
          "UPDATE ITSOLICMP SET NRCONSSOLI = ''", "UPDATE ITSOLICMP SET QTSOLICITADA = -1",
          "UPDATE PRODUTO SET CDPRODORIG = '' WHERE CDPRODUTO = 'P2'",
          "UPDATE SOLICMP SET DTENTREGA = '2024-02-30'"}) {
        if (GetParam() == DbKind::Postgres && std::string(sql).find("02-30") != std::string::npos)
            continue;  // a DATE column takes no such text at all
        EXPECT_THROW(m_conn->execute(sql), suitedb::DbError) << sql;
    }
}

// An import and a consolidation under way on the same database both finish correctly: the
// run takes the lines that were there, the import's lines are all there afterwards.
TEST_P(DataFeed, ImportAndConsolidationUnderWayBothFinish) {
    ASSERT_TRUE(import().ok());
    std::string big = "CDFILSOLI;CDFILLANCA;NRSOLICMP;DTENTREGA;NRITEM;CDPRODUTO;QTSOLICITADA\n";
    for (int i = 0; i < 20000; ++i)
        big += "0003;0003;B" + std::to_string(i / 10) + ";15/03/2024;" +
               std::to_string(i % 10 + 1) + ";P2;1\n";
    m_files = {write("SOLICMP_lote.csv", big)};

    ServerProcess& server = startServer();
    ImportReport r;
    std::thread importer([&] {
        auto conn = m_db->connect();
        r = suitedb::importFiles(*conn, files());
    });
    CallResult run = consolidate(server);
    importer.join();
    ASSERT_TRUE(r.ok()) << problems(r);
    ASSERT_EQ(run.kind, CallResult::Kind::Text) << run.text;
    EXPECT_EQ(scalar(*m_conn,
                     "SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI IS NULL AND"
                     " CDFILSOLI = '0003' AND NRSOLICMP LIKE 'B%'") +
                  scalar(*m_conn, "SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRSOLICMP LIKE 'B%'"),
              20000);
    EXPECT_EQ(consistencyFaults(*m_conn), "");
}

// Exported, closed by the next step of purchasing through the server, then never reversed.
TEST_P(DataFeed, ExportThenCloseThenReversalIsRefused) {
    ASSERT_TRUE(import().ok());
    ServerProcess& server = startServer();
    ASSERT_EQ(consolidate(server).kind, CallResult::Kind::Text);
    const std::string nr = text("SELECT NRCONSSOLI FROM CONSSOLI");
    const std::string db = "'" + m_db->target() + "'";

    CommandOutcome json = runCommand(bin("rqc-suitedb") + " export --db " + db + " " + nr);
    ASSERT_EQ(json.exit, 0) << json.output;
    for (const char* expected : {"\"itens\"", "\"QTCONSOLIDADA\": 2.500",
                                 "\"CDARVPROD\": "
                                 "\"01.01.001.0002\"",
                                 "\"NRSOLICMP\": \"S2\"", "\"IDSITUACAO\": \"A\""})
        EXPECT_NE(json.output.find(expected), std::string::npos) << expected << json.output;
    CommandOutcome csv =
        runCommand(bin("rqc-suitedb") + " export --format csv --db " + db + " --since 2000-01-01");
    ASSERT_EQ(csv.exit, 0) << csv.output;
    EXPECT_NE(csv.output.find(";P2;01.01.001.0002;Feijão carioca, 1 kg;COMP001;2,500;"),
              std::string::npos)
        << csv.output;

    TestClient client;
    client.connect("127.0.0.1", server.port());
    CallResult closed = client.call(makeCall("FechaConsSoli", {protocol::Argument::byValue(nr)}));
    ASSERT_EQ(closed.kind, CallResult::Kind::Text) << closed.text;
    EXPECT_EQ(text("SELECT IDSITUACAO || NMUSUFECHAMENTO FROM CONSSOLI"), "FCOMP001");
    CallResult reversal =
        client.call(makeCall("EstornaConsSoli", {protocol::Argument::byValue(nr)}));
    ASSERT_EQ(reversal.kind, CallResult::Kind::Error);
    EXPECT_NE(reversal.text.find("Fechada"), std::string::npos) << reversal.text;
    CommandOutcome again = runCommand(bin("rqc-suitedb") + " close --db " + db + " " + nr);
    EXPECT_EQ(again.exit, 1);
    EXPECT_NE(again.output.find("já está fechada"), std::string::npos) << again.output;
    EXPECT_EQ(scalar(*m_conn, "SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI IS NOT NULL"), 3);
}

INSTANTIATE_TEST_SUITE_P(Engines, DataFeed, ::testing::Values(DbKind::Sqlite, DbKind::Postgres),
                         engineCaseName);

}  // namespace
}  // namespace rqc::test
