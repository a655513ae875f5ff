#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "suitedb/csv_reader.h"
#include "suitedb/dialect.h"
#include "suitedb/import.h"
#include "suitedb/import_kinds.h"
#include "suitedb/schema.h"

namespace rqc::suitedb {

using import::ImportColumn;
using import::ImportKind;
using import::ValueType;

namespace {

// One serialisation of imports per PostgreSQL database (SQLite: the write lock does it).
constexpr int kImportLockClass = 4101;
// A row's position: its file's index and its line, in one number the staging tables keep.
constexpr std::int64_t kLinesPerFile = 10'000'000'000;
constexpr std::int64_t kProgressEvery = 100'000;
constexpr std::int64_t kAnalyzeAfter = 10'000;
constexpr std::int64_t kRebuildIndexesAt = 100'000;
// The tail of an INSERT ... SELECT that adds only rows whose key is new: each row is looked up
// by its key as it goes in, whatever the planner thinks of the table's size. ("WHERE true"
// tells SQLite the ON belongs to the INSERT, not to a join.)
constexpr std::string_view kNewRowsOnly = " WHERE 1 = 1 ON CONFLICT DO NOTHING";
// SQLite page caches of an import (main file and staging tables), grown as pages are used.
constexpr std::int64_t kImportCacheBytes = std::int64_t{256} << 20;

// A header cell as a name to compare: lower case, accents dropped, blanks and '-' as '_'.
std::string headerKey(std::string_view cell) {
    // Latin-1 letters U+00C0..U+00FF without their accents.
    constexpr std::string_view kBase =
        "aaaaaaaceeeeiiiidnooooo_ouuuuypsaaaaaaaceeeeiiiidnooooo_ouuuuypy";
    std::string out;
    std::string_view s = import::trimmed(cell);
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == 0xC3 && i + 1 < s.size()) {
            auto n = static_cast<unsigned char>(s[++i]);
            out += kBase[static_cast<std::size_t>(n & 0x3F)];
        } else if (c == ' ' || c == '-' || c == '.') {
            if (!out.empty() && out.back() != '_')
                out += '_';
        } else {
            out += static_cast<char>(std::tolower(c));
        }
    }
    return out;
}

std::size_t utf8Chars(std::string_view s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The values of `cols` joined by a unit separator; empty when one of them is missing.
std::string keyOf(const std::vector<std::optional<std::string>>& values,
                  const std::vector<int>& cols) {
    std::string key;
    for (int c : cols) {
        const auto& v = values[static_cast<std::size_t>(c)];
        if (!v)
            return {};
        if (!key.empty() || c != cols.front())
            key += '\x1f';
        key += *v;
    }
    return key;
}

std::string kindWord(std::string_view kind) {
    if (kind == "FILIAL")
        return "a filial";
    if (kind == "OPERADOR")
        return "o operador";
    if (kind == "COMPRADOR")
        return "o comprador";
    return "o produto";
}

// Texts kept for the import's life at stable addresses, without an allocation each.
class TextArena {
  public:
    std::string_view keep(std::string_view s) {
        if (s.size() > kBlock - m_used || m_blocks.empty()) {
            m_blocks.push_back(std::make_unique<char[]>(std::max(kBlock, s.size())));
            m_used = 0;
        }
        char* at = m_blocks.back().get() + m_used;
        std::copy(s.begin(), s.end(), at);
        m_used += s.size();
        return {at, s.size()};
    }

  private:
    static constexpr std::size_t kBlock = 1 << 20;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_used = 0;
};

// Keys in the files and the position of the row that has each.
using KeyPositions = std::unordered_map<std::string_view, std::int64_t>;

// Everything the import knows of one file.
struct Source {
    std::string path;
    const ImportKind* kind = nullptr;
    std::size_t index = 0;
};

class Importer {
  public:
    Importer(Connection& db, const ImportOptions& o) : m_db(db), m_d(db), m_o(o) {}

    ImportReport run(const std::vector<ImportFile>& files);

  private:
    // Parsing and the checks that need only the files and the master tables.
    void parse(const Source& src);
    bool mapHeader(const Source& src, const std::vector<std::string>& header,
                   std::vector<int>& map);
    std::string checkValue(const ImportKind& k, const ImportColumn& c, std::string_view raw,
                           std::optional<std::string>& out, std::int64_t& whole);
    const std::unordered_set<std::string>& knownKeys(std::string_view kind);
    // A column whose value is the key of a row of another kind (or of its own).
    struct Reference {
        std::size_t index;
        const ImportColumn* column;
        const KeyPositions* inFiles;
        const std::unordered_set<std::string>* known;
        bool self;
    };
    void checkReference(const Source& src, std::int64_t line, const Reference& r,
                        const std::string& value);
    // The checks and writes that need the database, in one transaction.
    void stageAndWrite();
    // Reads what the kind's checks need from the database, then creates its staging table
    // and starts loading it (a COPY on PostgreSQL: no other statement until it finishes).
    void startKind(const ImportKind& k);
    void checkTakenLines();
    ImportCount writeKind(const ImportKind& k, std::int64_t rows);
    ImportCount writeRequests();
    // Before and after many rows go into `table`: the planner's statistics brought up to
    // date, so that a table loaded (or emptied) since its last analysis is not planned as
    // what it was: a nested loop over a table thought empty reads it once per row.
    void refreshStatistics(const std::string& table, std::int64_t changedRows);
    void problem(const Source* src, std::int64_t line, std::string column, std::string value,
                 std::string message);
    void problemAt(std::int64_t pos, std::string column, std::string value, std::string message);
    void progress(const std::string& what) {
        if (m_o.progress)
            m_o.progress(what);
    }

    Connection& m_db;
    Dialect m_d;
    const ImportOptions& m_o;
    ImportReport m_report;
    std::vector<Source> m_sources;

    // The staging table of the kind being parsed; its rows go there as they are checked.
    std::unique_ptr<BulkLoader> m_loader;
    std::map<int, std::int64_t> m_rows;  // rows per kind (load order) in the files
    // Keys of each kind in the files (for repeats and references), with where they are; the
    // texts live in m_keyText.
    std::unordered_map<std::string, KeyPositions> m_fileKeys;
    TextArena m_keyText;
    std::unordered_map<std::string, std::unordered_set<std::string>> m_dbKeys;
    std::unordered_map<std::string, std::int64_t> m_treeInFiles;
    std::unordered_map<std::string, std::string> m_treeInDb;  // tree code -> product
    struct Request {
        std::int64_t pos;
        std::optional<std::string> requested, delivery, requester;
    };
    std::unordered_map<std::string, Request> m_requests;
};

void Importer::problem(const Source* src, std::int64_t line, std::string column, std::string value,
                       std::string message) {
    if (static_cast<int>(m_report.problems.size()) >= m_o.maxProblems) {
        ++m_report.moreProblems;
        return;
    }
    m_report.problems.push_back(ImportProblem{src ? src->path : std::string(), line,
                                              std::move(column), std::move(value),
                                              std::move(message)});
}

void Importer::problemAt(std::int64_t pos, std::string column, std::string value,
                         std::string message) {
    const auto file = static_cast<std::size_t>(pos / kLinesPerFile);
    problem(file < m_sources.size() ? &m_sources[file] : nullptr, pos % kLinesPerFile,
            std::move(column), std::move(value), std::move(message));
}

bool Importer::mapHeader(const Source& src, const std::vector<std::string>& header,
                         std::vector<int>& map) {
    const ImportKind& k = *src.kind;
    map.assign(header.size(), -1);
    std::vector<bool> seen(k.columns.size(), false);
    bool ok = true;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string name = headerKey(header[i]);
        if (name.empty() && i + 1 == header.size() && i > 0)
            continue;  // a separator at the end of the header
        int found = -1;
        for (std::size_t c = 0; c < k.columns.size() && found < 0; ++c) {
            const ImportColumn& col = k.columns[c];
            if (import::upperAscii(name) == col.name ||
                std::find(col.aliases.begin(), col.aliases.end(), name) != col.aliases.end()) {
                found = static_cast<int>(c);
            }
        }
        if (found < 0) {
            std::string names;
            for (const auto& col : k.columns)
                names += (names.empty() ? "" : ", ") + std::string(col.name);
            problem(&src, 1, std::string(import::trimmed(header[i])), "",
                    "coluna desconhecida em " + std::string(k.name) + "; as colunas são " + names);
            ok = false;
        } else if (seen[static_cast<std::size_t>(found)]) {
            problem(&src, 1, std::string(import::trimmed(header[i])), "",
                    "a coluna " + std::string(k.columns[static_cast<std::size_t>(found)].name) +
                        " aparece duas vezes no cabeçalho");
            ok = false;
        } else {
            seen[static_cast<std::size_t>(found)] = true;
            map[i] = found;
        }
    }
    for (std::size_t c = 0; c < k.columns.size(); ++c) {
        if (k.columns[c].required && !seen[c]) {
            problem(&src, 1, std::string(k.columns[c].name), "",
                    "falta no cabeçalho a coluna obrigatória " + std::string(k.columns[c].name));
            ok = false;
        }
    }
    return ok;
}

std::string Importer::checkValue(const ImportKind& k, const ImportColumn& c, std::string_view raw,
                                 std::optional<std::string>& out, std::int64_t& whole) {
    out.reset();
    const std::string_view v = import::trimmed(raw);
    if (v.empty())
        return c.required ? "é obrigatório e está vazio" : "";
    std::string canonical;
    std::string why;
    switch (c.type) {
        case ValueType::Code:
        case ValueType::Tree: {
            const std::string_view allowed = c.type == ValueType::Code ? "" : "./-";
            for (char ch : v) {
                const bool alnum = (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') ||
                                   (ch >= 'a' && ch <= 'z');
                if (!alnum && allowed.find(ch) == std::string_view::npos) {
                    return c.type == ValueType::Code
                               ? "um código só tem letras e dígitos"
                               : "um código de árvore só tem letras, dígitos, '.', '-' e '/'";
                }
            }
            if (static_cast<int>(v.size()) > c.width)
                return "tem mais de " + std::to_string(c.width) + " caracteres";
            canonical = v;
            break;
        }
        case ValueType::Text:
            for (char ch : v) {
                if (static_cast<unsigned char>(ch) < 0x20)
                    return "tem um caractere de controle";
            }
            if (static_cast<int>(utf8Chars(v)) > c.width)
                return "tem mais de " + std::to_string(c.width) + " caracteres";
            canonical = v;
            break;
        case ValueType::Flag:
            if (v.size() != 1 || c.allowed.find(v[0]) == std::string_view::npos) {
                std::string list;
                for (char a : c.allowed)
                    list += (list.empty() ? "" : ", ") + std::string(1, a);
                return "deve ser uma destas letras maiúsculas: " + list;
            }
            canonical = v;
            break;
        case ValueType::Date:
            if (why = import::parseDay(v, canonical); !why.empty())
                return why;
            break;
        case ValueType::Quantity:
            if (why = import::parseDecimal(v, m_o.decimal, 3, canonical); !why.empty())
                return why;
            if (canonical.starts_with('-'))
                return "não pode ser negativa";
            if (k.positive && canonical == "0")
                return "deve ser maior que zero";
            break;
        case ValueType::Integer:
            if (why = import::parseWhole(v, whole); !why.empty())
                return why;
            if (whole < (c.key ? 1 : 0))
                return c.key ? "deve ser maior que zero" : "não pode ser negativo";
            if (whole > 2'000'000'000)
                return "é grande demais";
            canonical = std::to_string(whole);
            break;
    }
    out = std::move(canonical);
    return {};
}

const std::unordered_set<std::string>& Importer::knownKeys(std::string_view kind) {
    auto [it, added] = m_dbKeys.try_emplace(std::string(kind));
    if (added) {
        const ImportKind& k = *import::findKind(kind);
        auto cur = m_db.query("SELECT " + std::string(k.columns[0].name) + " FROM " +
                              std::string(k.table));
        while (cur->next())
            it->second.emplace(cur->text(0));
    }
    return it->second;
}

void Importer::checkReference(const Source& src, std::int64_t line, const Reference& r,
                              const std::string& v) {
    if (r.inFiles->contains(v) || r.known->contains(v))
        return;
    std::string hint;
    const auto width = static_cast<std::size_t>(r.column->width);
    if (v.size() < width && v.find_first_not_of("0123456789") == std::string::npos) {
        const std::string padded = std::string(width - v.size(), '0') + v;
        if (r.inFiles->contains(padded) || r.known->contains(padded))
            hint = " (quis dizer '" + padded + "'? os zeros à esquerda fazem parte do código)";
    }
    problem(&src, line, std::string(r.column->name), v,
            kindWord(r.column->ref) + " '" + v + "' não existe no banco nem nos arquivos" + hint);
}

void Importer::parse(const Source& src) {
    const ImportKind& k = *src.kind;
    std::ifstream in(src.path, std::ios::binary | std::ios::ate);
    std::string bytes;
    if (in) {
        bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
        in.seekg(0);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!in)
        throw ImportError("não foi possível ler o arquivo '" + src.path + "'");
    import::CsvText text = import::decodeCsv(std::move(bytes));
    import::CsvRecords records(text.text);
    std::vector<std::string> fields;
    std::int64_t line = 0;
    std::vector<int> map;
    try {
        if (!records.next(fields, line)) {
            problem(&src, 0, "", "", "o arquivo está vazio: falta o cabeçalho");
            return;
        }
        if (!mapHeader(src, fields, map))
            return;
    } catch (const std::runtime_error& e) {
        problem(&src, line, "", "", e.what());
        return;
    }

    const int order = import::loadOrder(k);
    std::vector<int> keyCols, requestCols;
    for (std::size_t c = 0; c < k.columns.size(); ++c) {
        if (k.columns[c].key)
            keyCols.push_back(static_cast<int>(c));
        if (k.name == import::kRequestKind &&
            std::find(std::begin(import::kRequestHeaderColumns),
                      std::end(import::kRequestHeaderColumns),
                      k.columns[c].name) != std::end(import::kRequestHeaderColumns) &&
            k.columns[c].key) {
            requestCols.push_back(static_cast<int>(c));
        }
    }
    auto& keys = m_fileKeys[std::string(k.name)];
    keys.reserve(keys.size() + text.text.size() / 32);
    std::vector<Reference> refs;
    for (std::size_t c = 0; c < k.columns.size(); ++c) {
        const ImportColumn& col = k.columns[c];
        if (!col.ref.empty()) {
            refs.push_back(Reference{c, &col, &m_fileKeys[std::string(col.ref)],
                                     &knownKeys(col.ref), col.ref == k.name});
        }
    }
    std::vector<std::optional<std::string>> values(k.columns.size());
    std::vector<std::int64_t> wholes(k.columns.size());
    // A row may name one further down its own file: those wait for the file's end.
    std::vector<std::tuple<std::int64_t, const Reference*, std::string>> pendingSelf;
    std::int64_t rows = 0;
    const bool requests = k.name == import::kRequestKind;
    const auto column = [&](std::string_view name) {
        for (std::size_t c = 0; c < k.columns.size(); ++c) {
            if (k.columns[c].name == name)
                return static_cast<int>(c);
        }
        return -1;
    };
    const int treeCol = column("CDARVPROD"), codeCol = 0;
    const int requestedCol = column("DTSOLICITACAO"), deliveryCol = column("DTENTREGA"),
              requesterCol = column("CDOPERADOR");

    for (;;) {
        try {
            if (!records.next(fields, line))
                break;
        } catch (const std::runtime_error& e) {
            problem(&src, line, "", "", e.what());
            break;
        }
        const std::int64_t pos = static_cast<std::int64_t>(src.index) * kLinesPerFile + line;
        while (fields.size() > map.size() && import::trimmed(fields.back()).empty())
            fields.pop_back();
        if (fields.size() != map.size() &&
            !(fields.size() < map.size() && map.back() < 0 && fields.size() + 1 == map.size())) {
            problem(&src, line, "", "",
                    "a linha tem " + std::to_string(fields.size()) + " campos e o cabeçalho " +
                        std::to_string(map.size()) + " (confira o separador '" +
                        std::string(1, records.separator()) + "' e as aspas)");
            continue;
        }
        std::fill(values.begin(), values.end(), std::nullopt);
        bool rowOk = true;
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (map[f] < 0)
                continue;
            const auto c = static_cast<std::size_t>(map[f]);
            const ImportColumn& col = k.columns[c];
            if (std::string why = checkValue(k, col, fields[f], values[c], wholes[c]);
                !why.empty()) {
                problem(&src, line, std::string(col.name), std::string(import::trimmed(fields[f])),
                        why);
                rowOk = false;
            }
        }
        const std::string key = keyOf(values, keyCols);
        if (!key.empty()) {
            auto it = keys.find(key);
            if (it == keys.end()) {
                keys.emplace(m_keyText.keep(key), pos);
            } else {
                std::string shown;
                for (int c : keyCols)
                    shown += (shown.empty() ? "" : " ") + *values[static_cast<std::size_t>(c)];
                const auto first = it->second;
                problem(&src, line, "", shown,
                        "a chave se repete: já está na linha " +
                            std::to_string(first % kLinesPerFile) + " de " +
                            m_sources[static_cast<std::size_t>(first / kLinesPerFile)].path);
                rowOk = false;
            }
        }
        if (treeCol >= 0 && values[static_cast<std::size_t>(treeCol)]) {
            const std::string& tree = *values[static_cast<std::size_t>(treeCol)];
            auto [it, fresh] = m_treeInFiles.try_emplace(tree, pos);
            if (!fresh && it->second != pos) {
                problem(&src, line, "CDARVPROD", tree,
                        "o código de árvore já é de outro produto na linha " +
                            std::to_string(it->second % kLinesPerFile));
            }
            auto owner = m_treeInDb.find(tree);
            if (owner != m_treeInDb.end() && values[codeCol] && owner->second != *values[codeCol] &&
                !keys.contains(owner->second)) {
                problem(&src, line, "CDARVPROD", tree,
                        "o código de árvore já é do produto " + owner->second + " no banco");
            }
        }
        for (const Reference& r : refs) {
            if (const auto& v = values[r.index]; v) {
                if (r.self)
                    pendingSelf.emplace_back(line, &r, *v);
                else
                    checkReference(src, line, r, *v);
            }
        }
        std::string request;
        if (requests && rowOk) {
            request = keyOf(values, requestCols);
            const auto& requested = values[static_cast<std::size_t>(requestedCol)];
            const auto& delivery = values[static_cast<std::size_t>(deliveryCol)];
            const auto& requester = values[static_cast<std::size_t>(requesterCol)];
            auto it = m_requests.find(request);
            if (it == m_requests.end()) {
                m_requests.emplace(request, Request{pos, requested, delivery, requester});
            } else {
                const Request& first = it->second;
                const auto differs = [&](const char* name, const std::optional<std::string>& a,
                                         const std::optional<std::string>& b) {
                    if (a == b)
                        return;
                    problem(&src, line, name, b.value_or(""),
                            "difere da mesma solicitação na linha " +
                                std::to_string(first.pos % kLinesPerFile) + " ('" + a.value_or("") +
                                "'): as linhas de uma solicitação levam os "
                                "mesmos dados da solicitação");
                };
                differs("DTSOLICITACAO", first.requested, requested);
                differs("DTENTREGA", first.delivery, delivery);
                differs("CDOPERADOR", first.requester, requester);
            }
        }
        if (!m_report.problems.empty())
            continue;  // nothing will be written: only look for more problems
        BulkLoader& l = *m_loader;
        l.int64(pos);
        if (requests)
            l.int64(m_requests.at(request).pos == pos ? 1 : 0);
        for (std::size_t c = 0; c < k.columns.size(); ++c) {
            if (!values[c])
                l.null();
            else if (k.columns[c].type == ValueType::Integer)
                l.int64(wholes[c]);
            else
                l.text(*values[c]);
        }
        l.endRow();
        if (++rows % kProgressEvery == 0) {
            progress(src.path + ": " + std::to_string(rows) + " linhas (" +
                     std::to_string(records.position() * 100 /
                                    std::max<std::size_t>(text.text.size(), 1)) +
                     "%)");
        }
    }
    for (const auto& [at, ref, v] : pendingSelf)
        checkReference(src, at, *ref, v);
    m_rows[order] += rows;
}

void Importer::startKind(const ImportKind& k) {
    for (const auto& c : k.columns) {
        if (!c.ref.empty())
            knownKeys(c.ref);
        if (c.name == "CDARVPROD" && m_treeInDb.empty()) {
            auto cur = m_db.query("SELECT CDARVPROD, CDPRODUTO FROM PRODUTO");
            while (cur->next())
                m_treeInDb.emplace(cur->text(0), cur->text(1));
        }
    }
    std::string def = "IMP_" + std::string(k.name) + " (POS BIGINT NOT NULL";
    std::vector<std::string> cols = {"POS"};
    if (k.name == import::kRequestKind) {
        def += ", PRIMEIRA INTEGER NOT NULL";
        cols.emplace_back("PRIMEIRA");
    }
    for (const auto& c : k.columns) {
        def += ", " + std::string(c.name) + " ";
        def += c.type == ValueType::Date       ? m_d.dateType()
               : c.type == ValueType::Quantity ? m_d.quantityType()
               : c.type == ValueType::Integer  ? std::string("INTEGER")
                                               : std::string("TEXT");
        cols.emplace_back(c.name);
    }
    def += ")";
    if (m_d.keepsWorkTables())
        m_db.exec("DROP TABLE IF EXISTS " + m_d.tempTable("IMP_" + std::string(k.name)));
    m_db.exec(m_d.createWorkTable(def));
    m_loader = m_db.bulkLoad("IMP_" + std::string(k.name), cols);
}

void Importer::refreshStatistics(const std::string& table, std::int64_t changedRows) {
    if (m_d.plansByStatistics() && changedRows >= kAnalyzeAfter)
        m_db.exec("ANALYZE " + table);
}

std::string keyJoin(const ImportKind& k, std::string_view a, std::string_view b) {
    std::string out;
    for (const auto& c : k.columns) {
        if (!c.key)
            continue;
        if (!out.empty())
            out += " AND ";
        out += std::string(a) + "." + std::string(c.name) + " = " + std::string(b) + "." +
               std::string(c.name);
    }
    return out;
}

void Importer::checkTakenLines() {
    const ImportKind& k = *import::findKind(import::kRequestKind);
    auto cur = m_db.query(
        "SELECT s.POS, t.NRCONSSOLI, t.CDPRODUTO, s.CDPRODUTO, t.QTSOLICITADA, s.QTSOLICITADA"
        " FROM IMP_SOLICMP s JOIN ITSOLICMP t ON " +
        keyJoin(k, "t", "s") +
        " WHERE t.NRCONSSOLI IS NOT NULL AND (t.CDPRODUTO <> s.CDPRODUTO OR"
        " t.QTSOLICITADA <> s.QTSOLICITADA) ORDER BY s.POS");
    while (cur->next()) {
        const bool product = cur->text(2) != cur->text(3);
        char qty[64];
        std::snprintf(qty, sizeof qty, "%.3f", cur->real(5));
        problemAt(cur->int64(0), product ? "CDPRODUTO" : "QTSOLICITADA",
                  product ? std::string(cur->text(3)) : std::string(qty),
                  "a linha já foi consolidada na consolidação " + std::string(cur->text(1)) +
                      " e mantém o produto e a quantidade que tinha; estorne a consolidação "
                      "antes de mudá-la");
    }
}

// The SET list and the "differs" test of a kind's non-key columns (`except`: columns left out).
std::pair<std::string, std::string> updateParts(const ImportKind& k,
                                                std::span<const std::string_view> only = {}) {
    std::string set, differs;
    for (const auto& c : k.columns) {
        if (c.key || (!only.empty() && std::find(only.begin(), only.end(), c.name) == only.end()))
            continue;
        const std::string n(c.name);
        set += (set.empty() ? "" : ", ") + n + " = s." + n;
        differs += (differs.empty() ? "" : " OR ") + std::string(k.table) + "." + n +
                   " IS DISTINCT FROM s." + n;
    }
    return {set, differs};
}

ImportCount Importer::writeKind(const ImportKind& k, std::int64_t rows) {
    const std::string table(k.table), stage = "IMP_" + std::string(k.name);
    std::string cols;
    for (const auto& c : k.columns)
        cols += (cols.empty() ? "" : ", ") + std::string(c.name);
    ImportCount n{std::string(k.name), rows};
    bool hadRows = false;
    {
        auto cur = m_db.query("SELECT 1 FROM " + table + " LIMIT 1");
        hadRows = cur->next();
    }
    n.added = m_db.execute("INSERT INTO " + table + " (" + cols + ") SELECT " + cols + " FROM " +
                           stage + std::string(kNewRowsOnly));
    refreshStatistics(table, n.added);
    if (hadRows) {
        auto [set, differs] = updateParts(k);
        if (!set.empty()) {
            n.changed =
                m_db.execute("UPDATE " + table + " SET " + set + " FROM " + stage + " s WHERE " +
                             keyJoin(k, table, "s") + " AND (" + differs + ")");
        }
        if (m_o.replace && k.snapshot) {
            n.removed = m_db.execute("DELETE FROM " + table + " WHERE NOT EXISTS (SELECT 1 FROM " +
                                     stage + " s WHERE " + keyJoin(k, table, "s") + ")");
        }
    }
    n.unchanged = rows - n.added - n.changed;
    return n;
}

ImportCount Importer::writeRequests() {
    ImportCount n{"SOLICMP (solicitações)", 0};
    n.rows = static_cast<std::int64_t>(m_requests.size());
    n.added = m_db.execute(
        "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTSOLICITACAO, DTENTREGA,"
        " CDOPERADOR) SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, DTSOLICITACAO, DTENTREGA,"
        " CDOPERADOR FROM IMP_SOLICMP s WHERE s.PRIMEIRA = 1 ON CONFLICT DO NOTHING");
    refreshStatistics("SOLICMP", n.added);
    if (n.added < n.rows) {
        n.changed = m_db.execute(
            "UPDATE SOLICMP SET DTSOLICITACAO = s.DTSOLICITACAO, DTENTREGA = s.DTENTREGA,"
            " CDOPERADOR = s.CDOPERADOR FROM IMP_SOLICMP s WHERE s.PRIMEIRA = 1 AND"
            " s.CDFILSOLI = SOLICMP.CDFILSOLI AND s.CDFILLANCA = SOLICMP.CDFILLANCA AND"
            " s.NRSOLICMP = SOLICMP.NRSOLICMP AND (SOLICMP.DTSOLICITACAO IS DISTINCT FROM"
            " s.DTSOLICITACAO OR SOLICMP.DTENTREGA IS DISTINCT FROM s.DTENTREGA OR"
            " SOLICMP.CDOPERADOR IS DISTINCT FROM s.CDOPERADOR)");
    }
    n.unchanged = n.rows - n.added - n.changed;
    return n;
}

void Importer::stageAndWrite() {
    const ImportKind& requestKind = *import::findKind(import::kRequestKind);
    // Lines: only product and quantity change, and never on a line a consolidation took.
    constexpr std::string_view kLineColumns[] = {"CDPRODUTO", "QTSOLICITADA"};
    if (m_rows.contains(import::loadOrder(requestKind))) {
        progress("conferindo as linhas já consolidadas");
        checkTakenLines();
        if (!m_report.problems.empty())
            return;
    }
    for (const auto& k : import::kinds()) {
        const int order = import::loadOrder(k);
        if (!m_rows.contains(order))
            continue;
        progress("gravando " + std::string(k.name));
        if (&k != &requestKind) {
            m_report.counts.push_back(writeKind(k, m_rows[order]));
            continue;
        }
        // Many lines into a table of few: the secondary indexes are built again at the end,
        // faster than kept row by row. Only where the import holds the only write turn
        // (PostgreSQL would lock out every reader of the table until the commit).
        const std::int64_t staged = m_rows[import::loadOrder(k)];
        bool rebuild = false;
        if (!m_d.rowLocks() && staged >= kRebuildIndexesAt) {
            auto c = m_db.query("SELECT COUNT(*) FROM ITSOLICMP");
            rebuild = c->next() && c->int64(0) * 2 < staged;
        }
        if (rebuild) {
            dropRequestIndexes(m_db, "SOLICMP");
            dropRequestIndexes(m_db, "ITSOLICMP");
        }
        ImportCount requests = writeRequests();
        ImportCount lines{std::string(k.name), m_rows[order]};
        std::string cols;
        for (const auto& c : k.columns) {
            if (std::find(std::begin(import::kRequestHeaderColumns),
                          std::end(import::kRequestHeaderColumns),
                          c.name) == std::end(import::kRequestHeaderColumns) ||
                c.key) {
                cols += (cols.empty() ? "" : ", ") + std::string(c.name);
            }
        }
        lines.added = m_db.execute("INSERT INTO ITSOLICMP (" + cols + ") SELECT " + cols +
                                   " FROM IMP_SOLICMP" + std::string(kNewRowsOnly));
        if (lines.added < lines.rows) {
            auto [set, differs] = updateParts(requestKind, kLineColumns);
            lines.changed =
                m_db.execute("UPDATE ITSOLICMP SET " + set + " FROM IMP_SOLICMP s WHERE " +
                             keyJoin(requestKind, "ITSOLICMP", "s") + " AND (" + differs +
                             ") AND ITSOLICMP.NRCONSSOLI IS NULL");
            // A line taken since the check above kept its values: refuse the whole import.
            if (m_d.rowLocks())
                checkTakenLines();
        }
        if (rebuild) {
            progress("refazendo os índices das solicitações");
            createRequestIndexes(m_db);
        }
        refreshStatistics("ITSOLICMP", lines.added + lines.changed);
        lines.unchanged = lines.rows - lines.added - lines.changed;
        m_report.counts.push_back(lines);
        m_report.counts.push_back(requests);
    }
}

ImportReport Importer::run(const std::vector<ImportFile>& files) {
    for (const auto& f : files) {
        Source s{f.path, nullptr, 0};
        const std::string name = std::filesystem::path(f.path).filename().string();
        s.kind = f.kind.empty() ? import::kindOfFileName(name)
                                : import::findKind(import::upperAscii(f.kind));
        if (!s.kind) {
            std::string list;
            for (const auto& k : import::kinds())
                list += (list.empty() ? "" : ", ") + std::string(k.name);
            problem(&s, 0, "", f.kind,
                    f.kind.empty()
                        ? "o nome do arquivo não diz o tipo; ele começa por um destes: " + list +
                              " (ou use --kind)"
                        : "tipo desconhecido; os tipos são " + list);
            continue;
        }
        m_sources.push_back(std::move(s));
    }
    if (!m_report.problems.empty())
        return std::move(m_report);
    std::stable_sort(m_sources.begin(), m_sources.end(), [](const Source& a, const Source& b) {
        return import::loadOrder(*a.kind) < import::loadOrder(*b.kind);
    });
    for (std::size_t i = 0; i < m_sources.size(); ++i)
        m_sources[i].index = i;
    if (int v = schemaVersion(m_db); v != kSchemaVersion) {
        throw ImportError("o banco está na versão " + std::to_string(v) +
                          " do esquema e este "
                          "programa precisa da versão " +
                          std::to_string(kSchemaVersion) + "; atualize-o com rqc-suitedb migrate");
    }

    // Staging tables live in the connection's temporary store; on SQLite filling them takes
    // no write lock, so a running server keeps writing until the import's own transaction.
    WorkSettings settings(m_db, kImportCacheBytes, kImportCacheBytes);
    const bool stageApart = m_d.keepsWorkTables();
    std::optional<Transaction> tx;
    if (stageApart)
        m_d.beginLocal(m_db);
    else
        tx.emplace(m_db);
    try {
        for (std::size_t i = 0; i < m_sources.size(); ++i) {
            const ImportKind& k = *m_sources[i].kind;
            if (i == 0 || m_sources[i - 1].kind != &k) {
                startKind(k);
                m_rows[import::loadOrder(k)] = 0;
            }
            progress("lendo " + m_sources[i].path);
            parse(m_sources[i]);
            if (i + 1 == m_sources.size() || m_sources[i + 1].kind != &k) {
                m_loader->finish();
                m_loader.reset();
                refreshStatistics("IMP_" + std::string(k.name), m_rows[import::loadOrder(k)]);
            }
        }
        if (stageApart)
            m_db.commit();
    } catch (...) {
        m_loader.reset();
        if (stageApart)
            m_db.rollback();
        throw;
    }
    if (!m_report.problems.empty())
        return std::move(m_report);

    if (stageApart) {
        BusyTimeout wait(m_db, m_o.lockWaitMs);
        try {
            tx.emplace(m_db);
        } catch (const DbError& e) {
            if (!m_d.isLockTimeout(e))
                throw;
            throw ImportError("o banco está ocupado com outra gravação há mais de " +
                              std::to_string(m_o.lockWaitMs / 1000) +
                              " s; nada foi importado, tente de novo mais tarde");
        }
    } else {
        m_d.lockKey(m_db, kImportLockClass, "import");
    }
    stageAndWrite();
    if (!m_report.problems.empty()) {
        m_report.counts.clear();
        return std::move(m_report);
    }
    if (m_o.dryRun)
        return std::move(m_report);  // the transaction rolls back
    progress("confirmando");
    tx->commit();
    m_report.written = true;
    return std::move(m_report);
}

}  // namespace

std::string ImportProblem::text() const {
    std::string out = file.empty() ? std::string("(importação)") : file;
    if (line > 0)
        out += ", linha " + std::to_string(line);
    if (!column.empty())
        out += ", coluna " + column;
    if (!value.empty() || !column.empty())
        out += ", valor '" + value + "'";
    return out + ": " + message;
}

std::vector<std::string> ImportReport::filesWithProblems() const {
    std::vector<std::string> out;
    for (const auto& p : problems) {
        if (!p.file.empty() && std::find(out.begin(), out.end(), p.file) == out.end())
            out.push_back(p.file);
    }
    return out;
}

ImportReport importFiles(Connection& db, const std::vector<ImportFile>& files,
                         const ImportOptions& options) {
    return Importer(db, options).run(files);
}

std::vector<std::string> importKinds() {
    std::vector<std::string> out;
    for (const auto& k : import::kinds())
        out.emplace_back(k.name);
    return out;
}

std::string importTemplate(std::string_view kind) {
    const ImportKind* k = import::findKind(import::upperAscii(kind));
    if (!k)
        return {};
    std::string out;
    for (const auto& c : k->columns)
        out += (out.empty() ? "" : ";") + std::string(c.name);
    return out + "\n" + std::string(k->example) + "\n";
}

}  // namespace rqc::suitedb
