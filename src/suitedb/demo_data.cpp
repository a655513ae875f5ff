#include "suitedb/demo_data.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>

#include "suitedb/dialect.h"
#include "suitedb/operators.h"
#include "suitedb/schema.h"

namespace rqc::suitedb {

namespace {

// splitmix64: small, fast and the same on every platform (std distributions are not).
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::int64_t uniform(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }

  private:
    std::uint64_t m_state;
};

// Zero-padded decimal code of a fixed width, without allocating.
class Code {
  public:
    Code(std::int64_t n, int width) {
        m_len = width;
        std::fill(m_buf.begin(), m_buf.begin() + width, '0');
        for (int i = width - 1; i >= 0 && n > 0; --i, n /= 10) {
            m_buf[static_cast<std::size_t>(i)] = static_cast<char>('0' + n % 10);
        }
    }
    std::string_view view() const { return {m_buf.data(), static_cast<std::size_t>(m_len)}; }
    std::string str() const { return std::string(view()); }

  private:
    std::array<char, 24> m_buf{};
    int m_len;
};

std::string code(std::int64_t n, int width) {
    return Code(n, width).str();
}

constexpr std::array<const char*, 10> kCategories = {
    "Arroz", "Feijão",   "Açúcar",  "Café",        "Óleo de soja",
    "Leite", "Macarrão", "Farinha", "Sabão em pó", "Detergente",
};
constexpr std::array<const char*, 10> kVariants = {
    "tradicional", "integral", "especial", "premium",  "light",
    "orgânico",    "extra",    "seleção",  "clássico", "econômico",
};
constexpr std::array<const char*, 10> kPackages = {
    "500 g", "1 kg", "2 kg", "5 kg", "250 g", "900 ml", "1 l", "12 un", "6 un", "caixa 24 un",
};
constexpr std::array<const char*, 10> kFirstNames = {
    "Ana", "Bruno", "Carla", "Diego", "Elisa", "Fábio", "Gabriela", "Hélio", "Isabel", "João",
};
constexpr std::array<const char*, 10> kLastNames = {
    "Souza", "Oliveira", "Pereira", "Lima",   "Gonçalves",
    "Costa", "Ribeiro",  "Martins", "Araújo", "Carvalho",
};

constexpr int kBuyers = 50;

void addOperators(MasterData& m, int buyers, int others) {
    for (int i = 1; i <= buyers; ++i) {
        std::string name = std::string(kFirstNames[static_cast<std::size_t>((i - 1) % 10)]) + " " +
                           kLastNames[static_cast<std::size_t>((i - 1) / 10 % 10)];
        m.operators.push_back({"COMP" + code(i, 3), name, true});
    }
    for (int i = 1; i <= others; ++i) {
        std::string name = std::string("Operador ") + kLastNames[static_cast<std::size_t>(i % 10)];
        m.operators.push_back({"OPER" + code(i, 3), name, false});
    }
}

// Products: tree code "GG.SS.FFF.IIII" (group, subgroup, family, item); ten groups, families
// of ten items, ten families to a subgroup. About one in ten products (never a family's first
// item) has the family's first item as origin product.
void addProducts(MasterData& m, int count, std::uint64_t seed) {
    Rng rng(seed);
    int perGroup = (count + 9) / 10;
    m.products.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        int group = i / perGroup;
        int r = i % perGroup;
        int family = r / 10;
        int item = r % 10;
        std::string tree = code(group + 1, 2) + "." + code(family / 10 + 1, 2) + "." +
                           code(family % 10 + 1, 3) + "." + code(item + 1, 4);
        std::string name = std::string(kCategories[static_cast<std::size_t>(group % 10)]) + " " +
                           kVariants[static_cast<std::size_t>(family % 10)] + " " +
                           kPackages[static_cast<std::size_t>(item)] + " " + code(i + 1, 5);
        std::string buyer = "COMP" + code(group * 5 % kBuyers + family % 5 + 1, 3);
        std::string origin = item != 0 && rng.chance(0.11) ? code(i - item + 1, 10) : "";
        m.products.push_back({code(i + 1, 10), tree, name, buyer, origin});
    }
}

struct StockPlan {
    std::vector<std::string> branches;
    std::vector<int> dayOffsets;  // ascending
    double share = 0;             // of the products that have stock rows at these branches
};

struct Plan {
    MasterData master;
    std::vector<std::string> withoutParameters;
    std::int64_t requestsPerBranch = 0;  // demo: a fixed number of requests per branch
    std::int64_t lines = 0;              // large: this many lines, shared evenly by branch
    int minLines = 1, maxLines = 8;
    int firstDay = -30, lastDay = 30;  // delivery dates, relative to today
    double launchedByCentral = 0.1;
    std::vector<StockPlan> stock;
    std::int64_t afCount = 0;
    double limitShare = 0.4;
    double olShare = 0.6;
    std::uint64_t seed = 0;
    Date today;
};

struct Request {
    int branch;
    int launcher;
    std::int64_t number;
    int dueDay;
    int askedDay;
    int op;
    int lines;
    std::uint64_t seed;
};

class Loader {
  public:
    Loader(Connection& c, LoadSummary& s) : m_conn(c), m_summary(s) {}
    BulkLoader& open(const std::string& table, const std::vector<std::string>& cols) {
        m_table = table;
        m_loader = m_conn.bulkLoad(table, cols);
        return *m_loader;
    }
    void close() {
        m_summary.tables.emplace_back(m_table, m_loader->finish());
        m_loader.reset();
    }

  private:
    Connection& m_conn;
    LoadSummary& m_summary;
    std::unique_ptr<BulkLoader> m_loader;
    std::string m_table;
};

BulkLoader& optionalText(BulkLoader& b, const std::string& v) {
    return v.empty() ? b.null() : b.text(v);
}

double quantity(Rng& rng, std::int64_t lo, std::int64_t hi) {
    double q = static_cast<double>(rng.uniform(lo, hi));
    return rng.chance(0.1) ? q + 0.5 : q;
}

void loadMaster(Loader& l, const MasterData& m) {
    auto& f = l.open("FILIAL", {"CDFILIAL", "NMFILIAL", "IDCNTRRESC", "CDREGIAO", "IDFUNCAOFILI",
                                "CDFILCENTCMP", "DTPROCESSAMENTO"});
    for (const auto& b : m.branches) {
        f.text(b.code).text(b.name).text(b.rescinded);
        optionalText(f, b.region);
        optionalText(f, b.function);
        optionalText(f, b.central);
        f.text(isoDate(b.processing)).endRow();
    }
    l.close();
    auto& o = l.open("OPERADOR", {"CDOPERADOR", "NMOPERADOR"});
    for (const auto& op : m.operators)
        o.text(op.code).text(op.name).endRow();
    l.close();
    auto& c = l.open("COMPRADOR", {"CDOPERADOR"});
    for (const auto& op : m.operators) {
        if (op.buyer)
            c.text(op.code).endRow();
    }
    l.close();
    auto& p =
        l.open("PRODUTO", {"CDPRODUTO", "CDARVPROD", "NMPRODUTO", "CDCOMPRADOR", "CDPRODORIG"});
    for (const auto& pr : m.products) {
        p.text(pr.code).text(pr.tree).text(pr.name);
        optionalText(p, pr.buyer);
        optionalText(p, pr.origin).endRow();
    }
    l.close();
}

void loadPlan(Connection& c, const Plan& plan, LoadSummary& summary) {
    const MasterData& m = plan.master;
    const auto nBranches = static_cast<int>(m.branches.size());
    const auto nProducts = static_cast<std::int64_t>(m.products.size());
    std::vector<std::string> dates;
    for (int d = -400; d <= 400; ++d)
        dates.push_back(isoDate(plan.today + std::chrono::days(d)));
    auto date = [&](int offset) -> const std::string& {
        return dates[static_cast<std::size_t>(offset + 400)];
    };
    std::vector<int> centralOf(static_cast<std::size_t>(nBranches));
    std::vector<int> centrals, olBranches;
    for (int i = 0; i < nBranches; ++i) {
        const auto& b = m.branches[static_cast<std::size_t>(i)];
        centralOf[static_cast<std::size_t>(i)] = i;
        for (int j = 0; j < nBranches; ++j) {
            if (m.branches[static_cast<std::size_t>(j)].code == b.central) {
                centralOf[static_cast<std::size_t>(i)] = j;
            }
        }
        if (b.function == "C")
            centrals.push_back(i);
        if (b.function == "O")
            olBranches.push_back(i);
    }

    Loader l(c, summary);
    loadMaster(l, m);

    auto& par = l.open("PARCMPSUP", {"CDFILIAL", "IDUTPRODPREF", "QTDIASCOBERTURA"});
    for (int i = 0; i < nBranches; ++i) {
        const auto& b = m.branches[static_cast<std::size_t>(i)];
        if (std::find(plan.withoutParameters.begin(), plan.withoutParameters.end(), b.code) !=
            plan.withoutParameters.end()) {
            continue;
        }
        par.text(b.code).text(i % 3 == 0 ? "S" : "N").int64(7 + i * 3 % 39).endRow();
    }
    l.close();

    // Requests, branch by branch so that keys arrive in ascending order.
    Rng rng(plan.seed);
    std::vector<Request> requests;
    std::int64_t number = 0;
    for (int b = 0; b < nBranches; ++b) {
        std::int64_t quota = plan.requestsPerBranch;
        std::int64_t lineQuota = 0;
        if (plan.lines > 0) {
            lineQuota = plan.lines / nBranches + (b < plan.lines % nBranches ? 1 : 0);
            quota = lineQuota;  // an upper bound; stops when the lines run out
        }
        for (std::int64_t k = 0; k < quota; ++k) {
            if (plan.lines > 0 && lineQuota == 0)
                break;
            Request r{};
            r.branch = b;
            r.launcher =
                rng.chance(plan.launchedByCentral) ? centralOf[static_cast<std::size_t>(b)] : b;
            r.number = ++number;
            r.dueDay = static_cast<int>(rng.uniform(plan.firstDay, plan.lastDay));
            r.askedDay = r.dueDay - static_cast<int>(rng.uniform(1, 20));
            r.op =
                static_cast<int>(rng.uniform(0, static_cast<std::int64_t>(m.operators.size()) - 1));
            r.lines = static_cast<int>(rng.uniform(plan.minLines, plan.maxLines));
            if (plan.lines > 0) {
                r.lines = static_cast<int>(std::min<std::int64_t>(r.lines, lineQuota));
                lineQuota -= r.lines;
            }
            r.seed = rng.next();
            requests.push_back(r);
        }
    }
    auto& sol = l.open("SOLICMP", {"CDFILSOLI", "CDFILLANCA", "NRSOLICMP", "DTSOLICITACAO",
                                   "DTENTREGA", "CDOPERADOR"});
    for (const auto& r : requests) {
        sol.text(m.branches[static_cast<std::size_t>(r.branch)].code)
            .text(m.branches[static_cast<std::size_t>(r.launcher)].code)
            .text(Code(r.number, 10).view())
            .text(date(r.askedDay))
            .text(date(r.dueDay))
            .text(m.operators[static_cast<std::size_t>(r.op)].code)
            .endRow();
    }
    l.close();
    auto& it = l.open("ITSOLICMP", {"CDFILSOLI", "CDFILLANCA", "NRSOLICMP", "NRITEM", "CDPRODUTO",
                                    "QTSOLICITADA", "NRCONSSOLI"});
    std::array<std::int64_t, 64> taken{};
    for (const auto& r : requests) {
        Rng lr(r.seed);
        Code nr(r.number, 10);
        for (int item = 0; item < r.lines; ++item) {
            std::int64_t p = lr.uniform(0, nProducts - 1);
            for (int tries = 0;
                 std::find(taken.begin(), taken.begin() + item, p) != taken.begin() + item;
                 ++tries) {
                p = tries < 32 ? lr.uniform(0, nProducts - 1) : (p + 1) % nProducts;
            }
            taken[static_cast<std::size_t>(item)] = p;
            it.text(m.branches[static_cast<std::size_t>(r.branch)].code)
                .text(m.branches[static_cast<std::size_t>(r.launcher)].code)
                .text(nr.view())
                .int64(item + 1)
                .text(m.products[static_cast<std::size_t>(p)].code)
                .real(quantity(lr, 1, 100))
                .null()
                .endRow();
        }
    }
    l.close();
    requests.clear();
    requests.shrink_to_fit();

    auto& st = l.open("ESTOQUE", {"CDFILIAL", "CDPRODUTO", "DTESTOQUE", "QTESTOQUE"});
    for (const auto& sp : plan.stock) {
        for (const auto& branch : sp.branches) {
            for (const auto& pr : m.products) {
                if (!rng.chance(sp.share))
                    continue;
                for (int d : sp.dayOffsets) {
                    st.text(branch)
                        .text(pr.code)
                        .text(date(d))
                        .real(quantity(rng, 0, 300))
                        .endRow();
                }
            }
        }
    }
    l.close();

    auto& af = l.open("AUTFORN", {"NRAUTFORN", "CDPRODUTO", "CDFILIAL", "QTAUTORIZADA",
                                  "QTRECEBIDA", "IDSITUACAO"});
    for (std::int64_t a = 1; a <= plan.afCount && !centrals.empty(); ++a) {
        int central = centrals[static_cast<std::size_t>(
            rng.uniform(0, static_cast<std::int64_t>(centrals.size()) - 1))];
        bool open = rng.chance(0.7);
        int n = static_cast<int>(rng.uniform(1, 5));
        std::int64_t first = rng.uniform(0, nProducts - 1);
        std::int64_t step = rng.uniform(1, std::max<std::int64_t>(1, nProducts / 5));
        Code nr(a, 10);
        for (int k = 0; k < n && k < nProducts; ++k) {
            std::int64_t p = (first + k * step) % nProducts;
            if (k > 0 && p == first)
                break;
            double authorised = static_cast<double>(rng.uniform(1, 50) * 10);
            double received =
                open ? static_cast<double>(rng.uniform(0, 4)) * authorised / 8 : authorised;
            af.text(nr.view())
                .text(m.products[static_cast<std::size_t>(p)].code)
                .text(m.branches[static_cast<std::size_t>(central)].code)
                .real(authorised)
                .real(received)
                .text(open ? "A" : "F")
                .endRow();
        }
    }
    l.close();

    auto& lim = l.open("LIMSEGFIL", {"CDFILIAL", "CDPRODUTO", "QTLIMITESEG"});
    for (int b : centrals) {
        for (const auto& pr : m.products) {
            if (rng.chance(plan.limitShare)) {
                lim.text(m.branches[static_cast<std::size_t>(b)].code)
                    .text(pr.code)
                    .real(static_cast<double>(rng.uniform(5, 60)))
                    .endRow();
            }
        }
    }
    l.close();

    auto& ol = l.open("PARAMOL", {"CDFILIAL", "CDPRODUTO", "QTMULTIPLO", "QTMINIMA"});
    constexpr std::array<int, 4> kMultiples = {1, 6, 12, 24};
    for (int b : olBranches) {
        for (const auto& pr : m.products) {
            if (!rng.chance(plan.olShare))
                continue;
            double multiple = kMultiples[static_cast<std::size_t>(rng.uniform(0, 3))];
            double minimum = multiple * static_cast<double>(rng.uniform(0, 2));
            ol.text(m.branches[static_cast<std::size_t>(b)].code)
                .text(pr.code)
                .real(multiple)
                .real(minimum)
                .endRow();
        }
    }
    l.close();
}

void requireEmpty(Connection& c) {
    if (schemaVersion(c) == 0) {
        throw DbError("the database has no schema; apply it before loading data");
    }
    if (hasData(c))
        throw DbError("the database already holds data; empty it before loading");
}

}  // namespace

std::int64_t LoadSummary::rows(const std::string& table) const {
    for (const auto& [name, n] : tables) {
        if (name == table)
            return n;
    }
    return 0;
}

MasterData demoMasterData(Date today) {
    struct B {
        const char* name;
        const char* function;
        const char* central;
    };
    static constexpr std::array<B, 20> kBranches = {{
        {"Central Compras São Paulo", "C", ""},
        {"Loja Campinas", "L", "0001"},
        {"Loja Santos", "L", "0001"},
        {"Loja Ribeirão Preto", "L", "0001"},
        {"OL Sorocaba", "O", "0001"},
        {"Depósito Jundiaí", "D", "0001"},
        {"Loja São José dos Campos", "L", "0001"},
        {"Loja Bauru", "L", "0001"},
        {"Loja Piracicaba", "L", "0001"},
        {"Loja Franca", "L", "0001"},
        {"Central Compras Curitiba", "C", ""},
        {"Loja Londrina", "L", "0011"},
        {"Loja Maringá", "L", "0011"},
        {"Loja Ponta Grossa", "L", "0011"},
        {"Loja Cascavel", "L", "0011"},
        {"Depósito São José dos Pinhais", "D", "0011"},
        {"Loja Foz do Iguaçu", "L", "0011"},
        {"Loja Guarapuava", "L", "0011"},
        {"Loja Joinville", "L", "0099"},
        {"Loja Blumenau", "L", "0011"},
    }};
    MasterData m;
    for (std::size_t i = 0; i < kBranches.size(); ++i) {
        std::string c = code(static_cast<std::int64_t>(i + 1), 4);
        MasterData::Branch b;
        b.code = c;
        b.name = kBranches[i].name;
        b.rescinded = c == "0009" ? "S" : "N";
        b.region = c == "0010" ? "" : (i < 10 ? "001" : i < 18 ? "002" : "003");
        b.function = kBranches[i].function;
        b.central = kBranches[i].central;
        bool behind = c == "0003" || c == "0014" || c == "0017";
        b.processing = today - std::chrono::days(behind ? 1 : 0);
        m.branches.push_back(b);
    }
    addOperators(m, kBuyers, 6);
    addProducts(m, 2000, 0x5EED0001);
    return m;
}

MasterData largeMasterData(std::int64_t lines, Date today) {
    MasterData m;
    constexpr int kBranchCount = 200;
    constexpr int kCentrals = 4;
    for (int i = 1; i <= kBranchCount; ++i) {
        MasterData::Branch b;
        b.code = code(i, 4);
        bool central = i <= kCentrals;
        bool ol = i % 50 == 10;
        b.name = std::string(central ? "Central Compras " : ol ? "OL " : "Loja ") + code(i, 4);
        b.rescinded = "N";
        b.region = code((i - 1) % kCentrals + 1, 3);
        b.function = central ? "C" : ol ? "O" : (i % 25 == 0 ? "D" : "L");
        b.central = central ? "" : code((i - 1) % kCentrals + 1, 4);
        b.processing = today;
        m.branches.push_back(b);
    }
    addOperators(m, kBuyers, 10);
    auto products = static_cast<int>(std::clamp<std::int64_t>(lines / 20, 100, 50'000));
    addProducts(m, products, 0x5EED0002);
    return m;
}

LoadSummary loadDemo(Connection& c, Date today) {
    requireEmpty(c);
    Plan plan;
    plan.master = demoMasterData(today);
    plan.withoutParameters = {"0020"};
    plan.requestsPerBranch = 100;
    plan.minLines = 1;
    plan.maxLines = 8;
    plan.firstDay = -30;
    plan.lastDay = 30;
    plan.stock = {{{"0001", "0011"}, {-20, -10, -1}, 0.6}, {{"0002", "0005", "0012"}, {-5}, 0.4}};
    plan.afCount = 300;
    plan.seed = 0xD3A0;
    plan.today = today;
    LoadSummary summary;
    Transaction tx(c);
    loadPlan(c, plan, summary);
    // The demo operators share their published password, so one hash serves them all.
    const std::string demoHash = hashPassword(kDemoPassword);
    for (const char* op : kDemoOperators) {
        c.execute(
            "INSERT INTO OPERADORSENHA (CDOPERADOR, DSHASH, DTALTERACAO) "
            "VALUES (?, ?, CURRENT_TIMESTAMP)",
            {std::string(op), demoHash});
        if (std::string_view(op) != "OPER001") {
            c.execute("INSERT INTO PERMISSAO (CDOPERADOR, NMOBJETO) VALUES (?, ?)",
                      {std::string(op), std::string(kDemoObject)});
        }
    }
    summary.tables.emplace_back("OPERADORSENHA", std::ssize(kDemoOperators));
    summary.tables.emplace_back("PERMISSAO", std::ssize(kDemoOperators) - 1);
    tx.commit();
    return summary;
}

LoadSummary createDemoDatabase(Connection& c, Date today) {
    applySchema(c);
    return loadDemo(c, today);
}

LoadSummary createDemoDatabase(const std::string& path, Date today) {
    namespace fs = std::filesystem;
    if (fs::exists(path))
        throw DbError("cannot create the demo database '" + path + "': the file already exists");
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty())
        fs::create_directories(folder);
    try {
        auto c = Connection::open(path);
        return createDemoDatabase(*c, today);
    } catch (...) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::error_code ec;
            fs::remove(path + suffix, ec);
        }
        throw;
    }
}

LoadSummary generateLarge(Connection& c, std::int64_t lines, Date today) {
    if (lines < 1)
        throw DbError("the number of lines to generate must be at least 1");
    requireEmpty(c);
    Plan plan;
    plan.master = largeMasterData(lines, today);
    plan.lines = lines;
    plan.minLines = 1;
    plan.maxLines = 20;
    plan.firstDay = -60;
    plan.lastDay = 59;
    std::vector<std::string> centrals, ol;
    for (const auto& b : plan.master.branches) {
        if (b.function == "C")
            centrals.push_back(b.code);
        if (b.function == "O")
            ol.push_back(b.code);
    }
    plan.stock = {{centrals, {-7, -1}, 1.0}, {ol, {-3}, 0.5}};
    plan.afCount = std::max<std::int64_t>(1, lines / 50);
    plan.seed = 0x1A46E;
    plan.today = today;
    LoadSummary summary;
    const WorkSettings settings(c, std::int64_t{256} << 20);
    Transaction tx(c);
    dropRequestIndexes(c);
    loadPlan(c, plan, summary);
    createRequestIndexes(c);
    tx.commit();
    c.exec("ANALYZE");
    return summary;
}

}  // namespace rqc::suitedb
