#include "suitedb/operators.h"

#include "suitedb/demo_data.h"
#include "suitedb/redact.h"

#include <sodium.h>

#include <algorithm>

namespace rqc::suitedb {

namespace {

// At least the usual minimum for Argon2id (19 MiB, two passes); a stored hash made with less is
// replaced at its next successful login.
constexpr unsigned long long kOpsLimit = 2;
constexpr std::size_t kMemLimit = 19u << 20;

void initSodium() {
    static const int rc = sodium_init();
    if (rc < 0)
        throw OperatorError("libsodium could not be initialised");
}

void requireOperatorCode(std::string_view code) {
    if (std::string p = operatorCodeProblem(code); !p.empty())
        throw OperatorError(p);
}

bool hasPassword(Connection& c, const std::string& code) {
    auto cur = c.query("SELECT 1 FROM OPERADORSENHA WHERE CDOPERADOR = ?", {code});
    return cur->next();
}

// A hash that no password given at a login matches, verified for unknown operators so that
// they cost as much as a wrong password.
const std::string& decoyHash() {
    static const std::string hash = [] {
        unsigned char random[32];
        randombytes_buf(random, sizeof random);
        char hex[2 * sizeof random + 1];
        sodium_bin2hex(hex, sizeof hex, random, sizeof random);
        return hashPassword(hex);
    }();
    return hash;
}

}  // namespace

void requirePasswordLength(std::string_view password) {
    if (password.size() < kPasswordMin) {
        throw OperatorError("a password needs at least " + std::to_string(kPasswordMin) +
                            " characters");
    }
    if (password.size() > kPasswordMax) {
        throw OperatorError("a password may have at most " + std::to_string(kPasswordMax) +
                            " bytes");
    }
}

std::string operatorCodeProblem(std::string_view code) {
    if (code.empty())
        return "the operator code is empty";
    if (code.size() > kOperatorCodeMax) {
        return "an operator code has at most " + std::to_string(kOperatorCodeMax) + " characters";
    }
    for (char ch : code) {
        const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                        (ch >= '0' && ch <= '9') || ch == '.' || ch == '_' || ch == '-';
        if (!ok)
            return "an operator code holds only letters A-Z, digits and . _ -";
    }
    return {};
}

std::string objectNameProblem(std::string_view name) {
    if (name.empty() || name.size() > 60)
        return "an object name has 1 to 60 characters";
    for (char ch : name) {
        const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                        (ch >= '0' && ch <= '9') || ch == '.' || ch == '_';
        if (!ok)
            return "an object name holds only letters A-Z, digits, dots and underscores";
    }
    if (name.find('.') == std::string_view::npos || name.front() == '.' || name.back() == '.')
        return "an object name has the form Module.object";
    return {};
}

std::string hashPassword(std::string_view password) {
    return hashPasswordWith(password, kOpsLimit, kMemLimit);
}

bool verifyPassword(const std::string& hash, std::string_view password) {
    initSodium();
    if (password.size() > kPasswordMax || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool hashNeedsUpgrade(const std::string& hash) {
    initSodium();
    return crypto_pwhash_str_needs_rehash(hash.c_str(), kOpsLimit, kMemLimit) != 0;
}

std::string hashPasswordWith(std::string_view password, unsigned long long opsLimit,
                             std::size_t memLimit) {
    initSodium();
    requirePasswordLength(password);
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), opsLimit, memLimit) != 0)
        throw OperatorError("not enough memory to hash the password");
    return out;
}

void addOperator(Connection& c, const std::string& code, const std::string& name,
                 std::string_view password) {
    requireOperatorCode(code);
    const std::string hash = hashPassword(password);
    Transaction tx(c);
    if (hasPassword(c, code)) {
        throw OperatorError("operator " + code +
                            " already exists; use passwd to change the password");
    }
    auto known = c.query("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?", {code});
    const bool exists = known->next();
    known.reset();
    if (!exists) {
        c.execute("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR) VALUES (?, ?)",
                  {code, name.empty() ? Param(nullptr) : Param(name)});
    }
    c.execute(
        "INSERT INTO OPERADORSENHA (CDOPERADOR, DSHASH, DTALTERACAO) "
        "VALUES (?, ?, CURRENT_TIMESTAMP)",
        {code, hash});
    tx.commit();
}

void setOperatorPassword(Connection& c, const std::string& code, std::string_view password) {
    requireOperatorCode(code);
    const std::string hash = hashPassword(password);
    const std::int64_t n = c.execute(
        "UPDATE OPERADORSENHA SET DSHASH = ?, DTALTERACAO = CURRENT_TIMESTAMP WHERE CDOPERADOR = ?",
        {hash, code});
    if (n == 0)
        throw OperatorError("operator " + code + " has no password yet; use add");
}

bool grantObject(Connection& c, const std::string& code, const std::string& object) {
    requireOperatorCode(code);
    if (std::string p = objectNameProblem(object); !p.empty())
        throw OperatorError(p);
    Transaction tx(c);
    if (!hasPassword(c, code))
        throw OperatorError("there is no operator " + code + " with a password; use add first");
    auto cur =
        c.query("SELECT 1 FROM PERMISSAO WHERE CDOPERADOR = ? AND NMOBJETO = ?", {code, object});
    const bool had = cur->next();
    cur.reset();
    if (!had)
        c.execute("INSERT INTO PERMISSAO (CDOPERADOR, NMOBJETO) VALUES (?, ?)", {code, object});
    tx.commit();
    return !had;
}

bool revokeObject(Connection& c, const std::string& code, const std::string& object) {
    requireOperatorCode(code);
    return c.execute("DELETE FROM PERMISSAO WHERE CDOPERADOR = ? AND NMOBJETO = ?",
                     {code, object}) > 0;
}

std::vector<OperatorInfo> listOperators(Connection& c) {
    std::vector<OperatorInfo> out;
    {
        auto cur = c.query(
            "SELECT S.CDOPERADOR, O.NMOPERADOR FROM OPERADORSENHA S "
            "JOIN OPERADOR O ON O.CDOPERADOR = S.CDOPERADOR ORDER BY S.CDOPERADOR");
        while (cur->next())
            out.push_back({std::string(cur->text(0)), std::string(cur->text(1)), true, {}});
    }
    auto cur = c.query("SELECT CDOPERADOR, NMOBJETO FROM PERMISSAO ORDER BY CDOPERADOR, NMOBJETO");
    while (cur->next()) {
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const OperatorInfo& o) { return o.code == cur->text(0); });
        if (it != out.end())
            it->objects.emplace_back(cur->text(1));
    }
    return out;
}

std::vector<std::string> operatorsWithPassword(Connection& c, std::string_view password) {
    std::vector<std::pair<std::string, std::string>> hashes;
    {
        auto cur = c.query("SELECT CDOPERADOR, DSHASH FROM OPERADORSENHA ORDER BY CDOPERADOR");
        while (cur->next())
            hashes.emplace_back(std::string(cur->text(0)), std::string(cur->text(1)));
    }
    std::vector<std::string> out;
    for (const auto& [code, hash] : hashes) {
        if (verifyPassword(hash, password))
            out.push_back(code);
    }
    return out;
}

std::string firstOperatorHint(const std::string& shownDb) {
    const std::string db = shellWord(shownDb);
    return "Nenhum operador pode fazer login em " + shownDb +
           ". Crie o primeiro (a senha é pedida no terminal ou lida de RQC_PASSWORD):\n"
           "  rqc-suitedb operator add --db " +
           db +
           " CODIGO --name \"Nome do operador\"\n"
           "  rqc-suitedb operator grant --db " +
           db + " CODIGO " + kDemoObject;
}

std::optional<std::vector<std::string>> checkLogin(Connection& c, std::string_view code,
                                                   std::string_view password) {
    std::string hash;
    if (operatorCodeProblem(code).empty()) {
        auto cur =
            c.query("SELECT DSHASH FROM OPERADORSENHA WHERE CDOPERADOR = ?", {std::string(code)});
        if (cur->next())
            hash = std::string(cur->text(0));
    }
    const bool known = !hash.empty();
    const bool match = verifyPassword(known ? hash : decoyHash(), password);
    if (!known || !match)
        return std::nullopt;
    if (hashNeedsUpgrade(hash)) {
        // Only the hash the password was just checked against is replaced: a password changed
        // meanwhile wins.
        c.execute("UPDATE OPERADORSENHA SET DSHASH = ? WHERE CDOPERADOR = ? AND DSHASH = ?",
                  {hashPassword(password), std::string(code), hash});
    }
    std::vector<std::string> objects;
    auto cur = c.query("SELECT NMOBJETO FROM PERMISSAO WHERE CDOPERADOR = ? ORDER BY NMOBJETO",
                       {std::string(code)});
    while (cur->next())
        objects.emplace_back(cur->text(0));
    return objects;
}

}  // namespace rqc::suitedb
