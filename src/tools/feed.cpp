#include "feed.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "suitedb/connection.h"
#include "suitedb/consolidation_export.h"
#include "suitedb/import.h"
#include "suitedb/redact.h"
#include "suitedb/schema.h"

namespace rqc::suitedb::tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDoneFolder = "processados";
constexpr const char* kRejectedFolder = "rejeitados";

// One line on a terminal, rewritten in place; nothing when stderr is not a terminal.
class ProgressLine {
  public:
    ProgressLine() : m_tty(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { clear(); }
    void show(const std::string& text) {
        if (!m_tty)
            return;
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
        m_shown = true;
    }
    void clear() {
        if (m_shown)
            std::fprintf(stderr, "\r\033[K");
        m_shown = false;
    }

  private:
    bool m_tty;
    bool m_shown = false;
};

ImportDecimal decimalOption(const std::string& text) {
    if (text.empty())
        return ImportDecimal::Unknown;
    if (text == "virgula" || text == "vírgula" || text == "comma")
        return ImportDecimal::Comma;
    if (text == "ponto" || text == "point")
        return ImportDecimal::Point;
    throw std::invalid_argument("--decimal aceita virgula ou ponto, não '" + text + "'");
}

void printCounts(const ImportReport& r, bool dry) {
    for (const auto& c : r.counts) {
        // Padded by characters, not bytes: "solicitações" has two of two bytes.
        const auto chars = std::count_if(c.kind.begin(), c.kind.end(),
                                         [](char ch) { return (ch & 0xC0) != 0x80; });
        const std::string name =
            c.kind + std::string(static_cast<std::size_t>(std::max<long>(0, 24 - chars)), ' ');
        std::printf("  %s %9lld linhas: %lld %s, %lld %s, %lld sem mudança", name.c_str(),
                    static_cast<long long>(c.rows), static_cast<long long>(c.added),
                    dry ? "a incluir" : "incluídas", static_cast<long long>(c.changed),
                    dry ? "a alterar" : "alteradas", static_cast<long long>(c.unchanged));
        if (c.removed > 0) {
            std::printf(", %lld %s", static_cast<long long>(c.removed),
                        dry ? "a remover" : "removidas");
        }
        std::printf("\n");
    }
}

void printProblems(const ImportReport& r) {
    for (const auto& p : r.problems)
        std::fprintf(stderr, "  %s\n", p.text().c_str());
    if (r.moreProblems > 0) {
        std::fprintf(stderr, "  ... e mais %lld problema(s) além destes\n",
                     static_cast<long long>(r.moreProblems));
    }
}

std::vector<ImportFile> filesOf(const std::vector<std::string>& paths, const std::string& kind) {
    std::vector<ImportFile> files;
    for (const auto& p : paths)
        files.push_back(ImportFile{p, kind});
    return files;
}

// "20261210-020000-" for names moved aside, so that each day's files keep their own.
std::string stampPrefix() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S-", &tm);
    return buf;
}

fs::path moveInto(const fs::path& file, const fs::path& folder, const std::string& prefix) {
    fs::create_directories(folder);
    fs::path target = folder / (prefix + file.filename().string());
    fs::rename(file, target);
    return target;
}

// The unattended feed: every CSV file of `dir`, taken together in dependency order. Files
// imported go to processados/; files with a problem go to rejeitados/ with their problems
// beside them; the others are imported without them when they can be, and otherwise wait
// in the folder for the next run.
int importFolder(Connection& db, const fs::path& dir, const ImportCommand& c,
                 const ImportOptions& options) {
    const fs::path lockPath = dir / ".rqc-import.lock";
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (lock >= 0)
            ::close(lock);
        std::fprintf(stderr, "rqc-suitedb: outra importação já usa a pasta %s\n", dir.c_str());
        return 1;
    }
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }
    } unlock{lock};

    std::vector<std::string> paths;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (e.is_regular_file() && ext == ".csv" && !e.path().filename().string().starts_with("."))
            paths.push_back(e.path().string());
    }
    std::sort(paths.begin(), paths.end());
    if (paths.empty()) {
        std::printf("nada a importar em %s\n", dir.c_str());
        return 0;
    }
    const std::string prefix = stampPrefix();
    ImportReport r = importFiles(db, filesOf(paths, ""), options);
    if (r.ok()) {
        std::printf("importados %zu arquivo(s) de %s:\n", paths.size(), dir.c_str());
        printCounts(r, c.dryRun);
        if (!c.dryRun) {
            for (const auto& p : paths)
                moveInto(p, dir / kDoneFolder, prefix);
        }
        return 0;
    }
    const std::vector<std::string> bad = r.filesWithProblems();
    std::map<std::string, std::string> errors;
    for (const auto& p : r.problems)
        errors[p.file] += p.text() + "\n";
    std::fprintf(stderr, "rqc-suitedb: %zu arquivo(s) recusado(s) em %s:\n", bad.size(),
                 dir.c_str());
    printProblems(r);
    std::vector<std::string> good;
    for (const auto& p : paths) {
        if (std::find(bad.begin(), bad.end(), p) == bad.end())
            good.push_back(p);
    }
    if (!c.dryRun) {
        for (const auto& p : bad) {
            fs::path moved = moveInto(p, dir / kRejectedFolder, prefix);
            std::ofstream(moved.string() + ".erros.txt")
                << errors[p]
                << (r.moreProblems > 0 ? "(a importação parou de contar os problemas no limite)\n"
                                       : "");
            std::fprintf(stderr, "  %s -> %s\n", p.c_str(), moved.c_str());
        }
    }
    // The others go in without the refused ones; a file whose rows need a refused file waits
    // in the folder for the next run, and the rest are tried again without it.
    while (!good.empty() && !bad.empty()) {
        ImportReport next = importFiles(db, filesOf(good, ""), options);
        if (next.ok()) {
            std::printf("importados os outros %zu arquivo(s):\n", good.size());
            printCounts(next, c.dryRun);
            if (!c.dryRun) {
                for (const auto& p : good)
                    moveInto(p, dir / kDoneFolder, prefix);
            }
            break;
        }
        std::fprintf(stderr,
                     "rqc-suitedb: sem os arquivos recusados, estes ficam na pasta até a "
                     "próxima execução:\n");
        printProblems(next);
        const std::vector<std::string> waiting = next.filesWithProblems();
        std::erase_if(good, [&](const std::string& p) {
            return std::find(waiting.begin(), waiting.end(), p) != waiting.end();
        });
        if (waiting.empty())
            break;
    }
    return 1;
}

std::string loginName() {
    for (const char* var : {"SUDO_USER", "USER", "LOGNAME"}) {
        if (const char* v = std::getenv(var); v && *v)
            return v;
    }
    if (const passwd* pw = ::getpwuid(::getuid()))
        return pw->pw_name;
    return "rqc-suitedb";
}

std::unique_ptr<Connection> openCurrent(const std::string& target) {
    if (!Connection::isPostgresTarget(target) && !fs::exists(target))
        throw std::invalid_argument("não há banco em '" + target + "'");
    auto db = Connection::open(target);
    if (int v = schemaVersion(*db); v != kSchemaVersion) {
        throw std::invalid_argument("'" + redactTarget(target) + "' está na versão " +
                                    std::to_string(v) + " do esquema, não na " +
                                    std::to_string(kSchemaVersion) +
                                    "; atualize-o com rqc-suitedb migrate");
    }
    return db;
}

Date parseDayArgument(const std::string& text) {
    if (auto d = dates::tryParseIsoDate(text))
        return *d;
    unsigned dd = 0, mm = 0, yy = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2u/%2u/%4u%c", &dd, &mm, &yy, &tail) == 3) {
        char iso[16];
        std::snprintf(iso, sizeof iso, "%04u-%02u-%02u", yy, mm, dd);
        if (auto d = dates::tryParseIsoDate(iso))
            return *d;
    }
    throw std::invalid_argument("'" + text + "' não é uma data (dd/mm/aaaa ou aaaa-mm-dd)");
}

}  // namespace

int runImport(const ImportCommand& c) {
    if (!c.templateKind.empty()) {
        std::string t = importTemplate(c.templateKind);
        if (t.empty()) {
            std::string list;
            for (const auto& k : importKinds())
                list += (list.empty() ? "" : ", ") + k;
            throw std::invalid_argument("não há o tipo '" + c.templateKind + "'; os tipos são " +
                                        list);
        }
        std::fputs(t.c_str(), stdout);
        return 0;
    }
    if (c.db.empty() || c.paths.empty())
        throw std::invalid_argument("informe --db e ao menos um arquivo ou pasta");
    ProgressLine line;
    ImportOptions o;
    o.dryRun = c.dryRun;
    o.replace = c.replace;
    o.decimal = decimalOption(c.decimal);
    o.maxProblems = std::max(1, c.maxErrors);
    o.lockWaitMs = std::max(0, c.waitSeconds) * 1000;
    o.progress = [&line](const std::string& s) { line.show(s); };
    auto db = openCurrent(c.db);

    const bool folders = std::all_of(c.paths.begin(), c.paths.end(),
                                     [](const std::string& p) { return fs::is_directory(p); });
    if (folders) {
        int rc = 0;
        for (const auto& dir : c.paths)
            rc = std::max(rc, importFolder(*db, dir, c, o));
        return rc;
    }
    for (const auto& p : c.paths) {
        if (fs::is_directory(p))
            throw std::invalid_argument("informe só arquivos ou só pastas, não os dois");
    }
    const auto started = std::chrono::steady_clock::now();
    ImportReport r = importFiles(*db, filesOf(c.paths, c.kind), o);
    line.clear();
    if (!r.ok()) {
        std::fprintf(stderr, "rqc-suitedb: nada foi gravado; a importação tem problemas:\n");
        printProblems(r);
        return 1;
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s em %.1f s:\n", c.dryRun ? "conferido, nada gravado (--dry-run)" : "importado",
                secs);
    printCounts(r, c.dryRun);
    return 0;
}

int runExport(const ExportCommand& c) {
    if (c.number.empty() == c.since.empty())
        throw std::invalid_argument("informe um número de consolidação ou --since DATA");
    if (c.format != "json" && c.format != "csv")
        throw std::invalid_argument("--format aceita json ou csv, não '" + c.format + "'");
    auto db = openCurrent(c.db);
    const std::vector<std::string> numbers =
        c.number.empty() ? openConsolidationsSince(*db, parseDayArgument(c.since))
                         : std::vector<std::string>{consolidationNumber(c.number)};
    const ExportFormat format = c.format == "csv" ? ExportFormat::Csv : ExportFormat::Json;
    if (c.output.empty() || c.output == "-") {
        exportConsolidations(*db, numbers, format, std::cout);
        std::cout.flush();
        return std::cout ? 0 : 1;
    }
    // Written beside the target and renamed over it: a reader never sees half a file.
    const std::string partial = c.output + ".parcial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out)
            throw std::invalid_argument("não foi possível criar '" + partial + "'");
        try {
            exportConsolidations(*db, numbers, format, out);
        } catch (...) {
            out.close();
            fs::remove(partial);
            throw;
        }
        out.close();
        if (!out) {
            fs::remove(partial);
            throw std::invalid_argument("não foi possível gravar '" + c.output + "'");
        }
    }
    fs::rename(partial, c.output);
    std::fprintf(stderr, "%zu consolidação(ões) em %s\n", numbers.size(), c.output.c_str());
    return 0;
}

int runClose(const CloseCommand& c) {
    auto db = openCurrent(c.db);
    const std::string nr = consolidationNumber(c.number);
    const std::string user = c.user.empty() ? loginName() : c.user;
    CloseOutcome outcome = closeConsolidation(*db, nr, user);
    if (outcome != CloseOutcome::Closed) {
        std::fprintf(stderr, "rqc-suitedb: %s\n", closeRefusal(outcome, nr).c_str());
        return 1;
    }
    std::printf("consolidação %s fechada por %s\n", nr.c_str(), user.c_str());
    return 0;
}

}  // namespace rqc::suitedb::tool
