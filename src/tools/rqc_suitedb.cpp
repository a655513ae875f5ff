// rqc-suitedb: creates suite databases (schema and data) and shows what is in them.

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "feed.h"
#include "names/names.h"
#include "secret_prompt.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/desktop_role.h"
#include "suitedb/firebird.h"
#include "suitedb/operators.h"
#include "suitedb/redact.h"
#include "suitedb/schema.h"

namespace sdb = rqc::suitedb;
namespace fs = std::filesystem;

namespace {

struct InitOptions {
    std::string db;
    bool demo = false;
    bool empty = false;
    std::int64_t generate = 0;
    std::string today;
    bool force = false;
};

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

constexpr std::string_view kFirebirdPrefix = "firebird:";

std::unique_ptr<sdb::Connection> openExisting(const std::string& db) {
    if (!sdb::Connection::isPostgresTarget(db) && !db.starts_with(kFirebirdPrefix) &&
        !fs::exists(db)) {
        throw UsageError("no database at '" + db + "'");
    }
    return sdb::Connection::open(db);
}

void printSummary(const sdb::LoadSummary& s) {
    std::int64_t total = 0;
    for (const auto& [table, rows] : s.tables) {
        std::printf("  %-14s %10lld rows\n", table.c_str(), static_cast<long long>(rows));
        total += rows;
    }
    std::printf("  %-14s %10lld rows\n", "total", static_cast<long long>(total));
}

int initFirebird(const InitOptions& o, sdb::Date today) {
    std::string path(o.db.substr(kFirebirdPrefix.size()));
    if (path.empty())
        throw UsageError("firebird: needs a file path, e.g. firebird:/tmp/suite.fdb");
    if (fs::exists(path)) {
        if (!o.force) {
            throw UsageError("'" + path +
                             "' already exists; use --force to replace it with a new database");
        }
        fs::remove(path);
        std::printf("removed the existing file %s\n", path.c_str());
    }
    sdb::MasterData data;
    if (o.demo)
        data = sdb::demoMasterData(today);
    if (o.generate > 0)
        data = sdb::largeMasterData(o.generate, today);
    auto started = std::chrono::steady_clock::now();
    sdb::createFirebirdDatabase(path, o.empty ? nullptr : &data);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("created Firebird database %s (FILIAL, OPERADOR, COMPRADOR, PRODUTO, NVLSTR)\n",
                path.c_str());
    if (!o.empty) {
        std::printf("loaded %s rows of the four tables in %.1f s:\n",
                    o.demo ? "the demo" : "the generated", secs);
        std::printf("  %-14s %10zu rows\n  %-14s %10zu rows\n", "FILIAL", data.branches.size(),
                    "OPERADOR", data.operators.size());
        std::size_t buyers = 0;
        for (const auto& op : data.operators)
            buyers += op.buyer ? 1 : 0;
        std::printf("  %-14s %10zu rows\n  %-14s %10zu rows\n", "COMPRADOR", buyers, "PRODUTO",
                    data.products.size());
    }
    return 0;
}

// Only a demo database comes with operators; any other says how to add the first one.
void printFirstOperatorHint(sdb::Connection& c, const std::string& db) {
    if (sdb::listOperators(c).empty())
        std::printf("%s\n", sdb::firstOperatorHint(sdb::redactTarget(db)).c_str());
}

int init(const InitOptions& o) {
    if (o.generate < 0)
        throw UsageError("--generate needs a positive number of lines");
    sdb::Date today = o.today.empty() ? sdb::localToday() : sdb::parseIsoDate(o.today);
    if (o.db.starts_with(kFirebirdPrefix))
        return initFirebird(o, today);

    if (!sdb::Connection::isPostgresTarget(o.db)) {
        // A new SQLite file may name a folder that does not exist yet (var/rqc.db).
        const fs::path folder = fs::path(o.db).parent_path();
        if (!folder.empty())
            fs::create_directories(folder);
    }
    auto c = sdb::Connection::open(o.db);
    int before = sdb::applySchema(*c);
    if (before < sdb::kSchemaVersion) {
        std::printf("schema version %d applied to %s (was %d)\n", sdb::kSchemaVersion,
                    sdb::redactTarget(o.db).c_str(), before);
    } else {
        std::printf("schema already at version %d in %s\n", before,
                    sdb::redactTarget(o.db).c_str());
    }
    if (sdb::hasData(*c)) {
        if (!o.force) {
            throw UsageError("the database already holds data; use --force to empty it first");
        }
        sdb::clearData(*c);
        std::printf("emptied every table (--force)\n");
    }
    if (o.empty) {
        std::printf("left the database empty\n");
        printFirstOperatorHint(*c, o.db);
        return 0;
    }
    auto started = std::chrono::steady_clock::now();
    sdb::LoadSummary s =
        o.demo ? sdb::createDemoDatabase(*c, today) : sdb::generateLarge(*c, o.generate, today);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("loaded %s data (today %s) in %.1f s:\n", o.demo ? "the demo" : "generated",
                sdb::isoDate(today).c_str(), secs);
    printSummary(s);
    printFirstOperatorHint(*c, o.db);
    return 0;
}

std::string cell(const sdb::Cursor& cur, int col) {
    if (cur.isNull(col))
        return "(null)";
    std::string name = cur.columnName(col);
    if (name.starts_with("QT")) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.3f", cur.real(col));
        return buf;
    }
    return std::string(cur.text(col));
}

// Prints every row of cur as an aligned table; returns the number of rows.
std::size_t printTable(sdb::Cursor& cur) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header;
    for (int i = 0; i < cur.columnCount(); ++i)
        header.push_back(cur.columnName(i));
    std::vector<std::size_t> width;
    for (const auto& h : header)
        width.push_back(h.size());
    while (cur.next()) {
        std::vector<std::string> r;
        for (int i = 0; i < cur.columnCount(); ++i) {
            r.push_back(cell(cur, i));
            width[static_cast<std::size_t>(i)] =
                std::max(width[static_cast<std::size_t>(i)], r.back().size());
        }
        rows.push_back(std::move(r));
    }
    auto line = [&](const std::vector<std::string>& r) {
        std::string out = " ";
        for (std::size_t i = 0; i < r.size(); ++i) {
            out += " " + r[i] + std::string(width[i] - r[i].size(), ' ');
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        std::printf("%s\n", out.c_str());
    };
    line(header);
    for (const auto& r : rows)
        line(r);
    return rows.size();
}

int show(const std::string& db, const std::string& number) {
    if (number.empty() || number.size() > 10 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError("'" + number + "' is not a consolidated request number (up to 10 digits)");
    }
    std::string nr = std::string(10 - number.size(), '0') + number;
    auto c = openExisting(db);
    if (sdb::schemaVersion(*c) == 0)
        throw UsageError("'" + sdb::redactTarget(db) + "' has no suite schema");
    {
        auto h = c->query("SELECT * FROM CONSSOLI WHERE NRCONSSOLI = ?", {nr});
        if (!h->next())
            throw UsageError("there is no consolidated request " + nr);
        std::printf("Consolidated request %s\n", nr.c_str());
        for (int i = 0; i < h->columnCount(); ++i) {
            std::printf("  %-17s %s\n", (h->columnName(i) + ":").c_str(), cell(*h, i).c_str());
        }
    }
    std::printf("\nLines (one per product):\n");
    auto lines = c->query(
        "SELECT CDPRODUTO, QTSOLICITADA, QTLIMITESEG, QTESTOQUE, QTAF, QTCONSABERTA, QTARREDONDA, "
        "QTCONSOLIDADA FROM ITCONSSOLI WHERE NRCONSSOLI = ? ORDER BY CDPRODUTO",
        {nr});
    std::size_t n = printTable(*lines);
    std::printf("  %zu line(s)\n", n);
    lines.reset();
    std::printf("\nSource request lines:\n");
    auto links = c->query(
        "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA "
        "FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ? "
        "ORDER BY CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM",
        {nr});
    n = printTable(*links);
    std::printf("  %zu source line(s)\n", n);
    return 0;
}

int migrate(const std::string& db) {
    auto c = openExisting(db);
    int before = sdb::schemaVersion(*c);
    if (before == 0)
        throw UsageError("'" + sdb::redactTarget(db) +
                         "' has no suite schema; create it with rqc-suitedb init");
    sdb::applySchema(*c);
    if (before == sdb::kSchemaVersion)
        std::printf("schema already at version %d in %s\n", before, sdb::redactTarget(db).c_str());
    else
        std::printf("schema upgraded from version %d to %d in %s\n", before, sdb::kSchemaVersion,
                    sdb::redactTarget(db).c_str());
    printFirstOperatorHint(*c, db);
    return 0;
}

int version(const std::string& db) {
    auto c = openExisting(db);
    std::printf("%d\n", sdb::schemaVersion(*c));
    return 0;
}

struct OperatorOptions {
    std::string db, code, name, object;
};

// The new password from RQC_PASSWORD, or typed twice at the terminal.
std::string newPassword(const std::string& code) {
    const bool fromEnv = std::getenv(rqc::names::kPasswordVariable) != nullptr;
    auto first = rqc::tools::readSecret("Senha nova de " + code + ": ");
    if (!first)
        throw UsageError("no password given (RQC_PASSWORD, the terminal or standard input)");
    if (!fromEnv && ::isatty(STDIN_FILENO)) {
        auto again = rqc::tools::readSecret("Repita a senha: ");
        if (!again || *again != *first)
            throw UsageError("the two passwords differ; nothing changed");
    }
    return *first;
}

std::unique_ptr<sdb::Connection> openCurrent(const std::string& db) {
    auto c = openExisting(db);
    if (sdb::schemaVersion(*c) < sdb::kSchemaVersion) {
        throw UsageError("'" + sdb::redactTarget(db) + "' is not at schema version " +
                         std::to_string(sdb::kSchemaVersion) + "; upgrade it first");
    }
    return c;
}

// Whether rqc-appserver hosts the object.
bool hosted(std::string_view object) {
    return std::find(std::begin(rqc::names::kHostedObjects), std::end(rqc::names::kHostedObjects),
                     object) != std::end(rqc::names::kHostedObjects);
}

int operatorCommand(const std::string& action, const OperatorOptions& o) {
    auto c = openCurrent(o.db);
    if (action == "add") {
        if (std::string p = sdb::operatorCodeProblem(o.code); !p.empty())
            throw UsageError(p);
        sdb::addOperator(*c, o.code, o.name, newPassword(o.code));
        std::printf("operator %s added\n", o.code.c_str());
    } else if (action == "passwd") {
        sdb::setOperatorPassword(*c, o.code, newPassword(o.code));
        std::printf("password of %s changed\n", o.code.c_str());
    } else if (action == "grant") {
        if (sdb::objectNameProblem(o.object).empty() && !hosted(o.object)) {
            throw UsageError("o servidor de aplicação não tem o objeto '" + o.object +
                             "'; confira a grafia (por exemplo " +
                             std::string(rqc::names::kConsolidationObject) +
                             "); nenhuma permissão foi dada");
        }
        const bool added = sdb::grantObject(*c, o.code, o.object);
        std::printf("%s %s may call %s\n", added ? "granted:" : "unchanged:", o.code.c_str(),
                    o.object.c_str());
    } else if (action == "revoke") {
        const bool removed = sdb::revokeObject(*c, o.code, o.object);
        std::printf("%s %s may not call %s\n", removed ? "revoked:" : "unchanged:", o.code.c_str(),
                    o.object.c_str());
    } else {
        if (sdb::listOperators(*c).empty())
            std::printf("%s\n", sdb::firstOperatorHint(sdb::redactTarget(o.db)).c_str());
        for (const auto& op : sdb::listOperators(*c)) {
            std::string objects;
            for (const auto& obj : op.objects)
                objects += (objects.empty() ? "" : ",") + obj;
            std::printf("%-12s %-40s %s\n", op.code.c_str(), op.name.c_str(),
                        objects.empty() ? "-" : objects.c_str());
        }
    }
    return 0;
}

int desktopRole(const std::string& db, const std::string& name) {
    auto c = openCurrent(db);
    if (std::string p = sdb::desktopRoleProblem(name); !p.empty())
        throw UsageError(p);
    const std::string password = newPassword(name);
    const bool created = sdb::setDesktopRole(*c, name, password);
    std::printf("%s %s: may read",
                created ? "created desktop role" : "desktop role updated:", name.c_str());
    for (const auto& g : sdb::desktopGrants())
        std::printf(" %s%s", g.table.c_str(), sdb::columnList(g).c_str());
    std::printf(", nothing else\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Creates suite databases and shows what they hold.", "rqc-suitedb"};
    app.require_subcommand(1);

    InitOptions io;
    auto* initCmd =
        app.add_subcommand("init",
                           "Create the schema and load data (DB: SQLite path, PostgreSQL URL or "
                           "firebird:/path.fdb)");
    initCmd->add_option("--db", io.db, "database")->required();
    auto* data = initCmd->add_option_group("data", "what to load");
    data->add_flag("--demo", io.demo, "the demo data set");
    data->add_option("--generate", io.generate, "a generated data set of this many request lines")
        ->check(CLI::PositiveNumber);
    data->add_flag("--empty", io.empty, "no data: the schema only");
    data->require_option(1);
    initCmd->add_option("--today", io.today, "the date data is relative to (YYYY-MM-DD)");
    initCmd->add_flag("--force", io.force, "empty a database that already holds data first");

    std::string showDb, number;
    auto* showCmd = app.add_subcommand("show", "Print a consolidated request");
    showCmd->add_option("--db", showDb, "database (SQLite path or PostgreSQL URL)")->required();
    showCmd->add_option("NUMBER", number, "consolidated request number")->required();

    std::string versionDb;
    auto* versionCmd = app.add_subcommand("version", "Print the database's schema version");
    versionCmd->add_option("--db", versionDb, "database (SQLite path or PostgreSQL URL)")
        ->required();

    std::string migrateDb;
    auto* migrateCmd = app.add_subcommand(
        "migrate", "Upgrade the database's schema in place to this program's version");
    migrateCmd->add_option("--db", migrateDb, "database (SQLite path or PostgreSQL URL)")
        ->required();

    OperatorOptions oo;
    auto* opCmd =
        app.add_subcommand("operator",
                           "Manage who may log in to the application server (password from "
                           "RQC_PASSWORD or typed at a prompt, never on the command line)");
    opCmd->require_subcommand(1);
    std::string opAction;
    auto* opAdd = opCmd->add_subcommand("add", "Create an operator with a password");
    opAdd->add_option("CODE", oo.code, "operator code")->required();
    opAdd->add_option("--name", oo.name, "operator's name (when the operator is new)");
    auto* opPasswd = opCmd->add_subcommand("passwd", "Change an operator's password");
    opPasswd->add_option("CODE", oo.code, "operator code")->required();
    auto* opGrant = opCmd->add_subcommand("grant", "Let an operator call a remote object");
    auto* opRevoke = opCmd->add_subcommand("revoke", "Take that permission away");
    for (auto* sub : {opGrant, opRevoke}) {
        sub->add_option("CODE", oo.code, "operator code")->required();
        sub->add_option("OBJECT", oo.object,
                        "registered object, e.g. Rqc04100.rdmConsolidaSolicita")
            ->required();
    }
    auto* opList = opCmd->add_subcommand("list", "Operators with a password and their objects");
    for (auto* sub : {opAdd, opPasswd, opGrant, opRevoke, opList}) {
        sub->add_option("--db", oo.db, "database (SQLite path or PostgreSQL URL)")->required();
        sub->callback([&opAction, sub] { opAction = sub->get_name(); });
    }

    std::string roleDb, roleName;
    auto* roleCmd = app.add_subcommand(
        "desktop-role",
        "PostgreSQL: create or update the role the desktops log in with, which may only read "
        "the look-up tables (password from RQC_PASSWORD or typed at a prompt)");
    roleCmd->add_option("--db", roleDb, "database (PostgreSQL URL of the servers' role)")
        ->required()
        ->envname("RQC_DB");
    roleCmd->add_option("NAME", roleName, "role name, e.g. rqc_desktop")->required();

    namespace tool = rqc::suitedb::tool;
    tool::ImportCommand ic;
    auto* importCmd = app.add_subcommand(
        "import",
        "Import a company's CSV files (FILIAL.csv, PRODUTO.csv, SOLICMP.csv, ...; docs/import.md): "
        "every row is checked first, then everything is written in one transaction");
    importCmd->add_option("--db", ic.db, "database (SQLite path or PostgreSQL URL)")
        ->envname("RQC_DB");
    importCmd->add_option("PATH", ic.paths,
                          "files, or folders whose .csv files are imported and then moved to "
                          "processados/ or rejeitados/");
    importCmd->add_option("--kind", ic.kind, "the kind of every file given (default: its name)");
    importCmd->add_option("--decimal", ic.decimal,
                          "virgula or ponto: the decimal separator, for values such as 1.234");
    importCmd->add_flag("--dry-run", ic.dryRun, "check and count, write nothing");
    importCmd->add_flag("--replace", ic.replace,
                        "ESTOQUE, AUTFORN, LIMSEGFIL, PARAMOL: remove the rows the file no "
                        "longer has");
    importCmd->add_option("--max-errors", ic.maxErrors, "problems listed at most (100)");
    importCmd->add_option("--wait", ic.waitSeconds,
                          "SQLite: seconds to wait for the database's write turn (30)");
    importCmd->add_option("--template", ic.templateKind,
                          "print the header and an example row of a kind, and stop");

    tool::ExportCommand ec;
    auto* exportCmd = app.add_subcommand(
        "export", "Write consolidated requests for the next step of purchasing (JSON or CSV)");
    exportCmd->add_option("--db", ec.db, "database (SQLite path or PostgreSQL URL)")
        ->required()
        ->envname("RQC_DB");
    exportCmd->add_option("NUMBER", ec.number, "consolidated request number");
    exportCmd->add_option("--since", ec.since,
                          "every open consolidation generated on this date or later");
    exportCmd->add_option("--format", ec.format, "json (default) or csv");
    exportCmd->add_option("--output,-o", ec.output, "file to write (default: standard output)");

    tool::CloseCommand cc;
    auto* closeCmd = app.add_subcommand(
        "close", "Close a consolidation that became orders: it can no longer be reversed");
    closeCmd->add_option("--db", cc.db, "database (SQLite path or PostgreSQL URL)")
        ->required()
        ->envname("RQC_DB");
    closeCmd->add_option("NUMBER", cc.number, "consolidated request number")->required();
    closeCmd->add_option("--user", cc.user, "who closes it (default: the login name)");

    CLI11_PARSE(app, argc, argv);
    try {
        if (*importCmd)
            return tool::runImport(ic);
        if (*exportCmd)
            return tool::runExport(ec);
        if (*closeCmd)
            return tool::runClose(cc);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "rqc-suitedb: %s\n", e.what());
        return 1;
    }
    try {
        if (*initCmd)
            return init(io);
        if (*showCmd)
            return show(showDb, number);
        if (*versionCmd)
            return version(versionDb);
        if (*opCmd)
            return operatorCommand(opAction, oo);
        if (*migrateCmd)
            return migrate(migrateDb);
        if (*roleCmd)
            return desktopRole(roleDb, roleName);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "rqc-suitedb: error: %s\n", e.what());
        return 1;
    }
    return 0;
}
