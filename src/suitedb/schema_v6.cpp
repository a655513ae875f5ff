#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "suitedb/dialect.h"
#include "suitedb/schema_steps.h"

namespace rqc::suitedb {

namespace {

// What a column may not hold. An empty code is no code: where null means "none", '' would be
// read as a code that exists nowhere and silently match nothing.
enum class Rule {
    NullNotBlank,  // a code that may be null, never ''
    NotBlank,      // a code that is always there
    Day,           // SQLite: "YYYY-MM-DD" text of a real day (PostgreSQL's DATE checks itself)
    NotNegative,   // a quantity: a number, never below zero
};

struct Check {
    std::string_view table, column;
    Rule rule;
};

constexpr Check kChecks[] = {
    {"FILIAL", "CDFILIAL", Rule::NotBlank},
    {"FILIAL", "CDREGIAO", Rule::NullNotBlank},
    {"FILIAL", "IDFUNCAOFILI", Rule::NullNotBlank},
    {"FILIAL", "CDFILCENTCMP", Rule::NullNotBlank},
    {"FILIAL", "DTPROCESSAMENTO", Rule::Day},
    {"OPERADOR", "CDOPERADOR", Rule::NotBlank},
    {"PRODUTO", "CDPRODUTO", Rule::NotBlank},
    {"PRODUTO", "CDARVPROD", Rule::NotBlank},
    {"PRODUTO", "CDCOMPRADOR", Rule::NullNotBlank},
    {"PRODUTO", "CDPRODORIG", Rule::NullNotBlank},
    {"PARCMPSUP", "CDFILIAL", Rule::NotBlank},
    {"SOLICMP", "CDFILSOLI", Rule::NotBlank},
    {"SOLICMP", "CDFILLANCA", Rule::NotBlank},
    {"SOLICMP", "NRSOLICMP", Rule::NotBlank},
    {"SOLICMP", "DTSOLICITACAO", Rule::Day},
    {"SOLICMP", "DTENTREGA", Rule::Day},
    {"SOLICMP", "CDOPERADOR", Rule::NullNotBlank},
    {"ITSOLICMP", "CDPRODUTO", Rule::NotBlank},
    {"ITSOLICMP", "QTSOLICITADA", Rule::NotNegative},
    {"ITSOLICMP", "NRCONSSOLI", Rule::NullNotBlank},
    {"ESTOQUE", "CDFILIAL", Rule::NotBlank},
    {"ESTOQUE", "CDPRODUTO", Rule::NotBlank},
    {"ESTOQUE", "DTESTOQUE", Rule::Day},
    {"ESTOQUE", "QTESTOQUE", Rule::NotNegative},
    {"AUTFORN", "NRAUTFORN", Rule::NotBlank},
    {"AUTFORN", "CDPRODUTO", Rule::NotBlank},
    {"AUTFORN", "CDFILIAL", Rule::NullNotBlank},
    {"AUTFORN", "IDSITUACAO", Rule::NullNotBlank},
    {"AUTFORN", "QTAUTORIZADA", Rule::NotNegative},
    {"AUTFORN", "QTRECEBIDA", Rule::NotNegative},
    {"LIMSEGFIL", "CDFILIAL", Rule::NotBlank},
    {"LIMSEGFIL", "CDPRODUTO", Rule::NotBlank},
    {"LIMSEGFIL", "QTLIMITESEG", Rule::NotNegative},
    {"PARAMOL", "CDFILIAL", Rule::NotBlank},
    {"PARAMOL", "CDPRODUTO", Rule::NotBlank},
    {"PARAMOL", "QTMULTIPLO", Rule::NotNegative},
    {"PARAMOL", "QTMINIMA", Rule::NotNegative},
};

constexpr std::string_view kTables[] = {"FILIAL",    "OPERADOR", "PRODUTO", "PARCMPSUP", "SOLICMP",
                                        "ITSOLICMP", "ESTOQUE",  "AUTFORN", "LIMSEGFIL", "PARAMOL"};

// The condition a value `v` breaks the rule under, where columns are untyped (null where the rule
// allows it). date() alone keeps 2024-02-30 as it is; with a modifier it becomes the day it stands
// for.
std::string untypedBreaks(Rule r, const std::string& v) {
    switch (r) {
        case Rule::NullNotBlank:
        case Rule::NotBlank:
            return "trim(" + v + ") = ''";
        case Rule::Day:
            return v + " IS NOT NULL AND (typeof(" + v + ") <> 'text' OR " + v +
                   " NOT GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' OR date(" + v +
                   ", '+0 days') IS NOT " + v + ")";
        case Rule::NotNegative:
            return v + " IS NOT NULL AND (typeof(" + v + ") NOT IN ('integer', 'real') OR " + v +
                   " < 0)";
    }
    return "0";
}

std::string ruleText(Rule r) {
    switch (r) {
        case Rule::NullNotBlank:
            return "vazio ('') não é um código: use NULL";
        case Rule::NotBlank:
            return "o código não pode ser vazio";
        case Rule::Day:
            return "não é uma data AAAA-MM-DD";
        case Rule::NotNegative:
            return "não é uma quantidade maior ou igual a zero";
    }
    return {};
}

// Tables other tables' foreign keys point at: SQLite cannot drop and rebuild them without
// turning foreign keys off, which a transaction cannot do.
constexpr std::string_view kReferenced[] = {"OPERADOR", "PRODUTO"};

std::string quoted(std::string_view text) {
    std::string out = "'";
    for (char ch : text)
        out += ch == '\'' ? std::string("''") : std::string(1, ch);
    return out + "'";
}

// A table referenced by foreign keys gets a trigger per operation that refuses, naming the
// column, the rows that break a rule.
void addGuardTriggers(Connection& c, std::string_view table) {
    for (std::string_view op : {"INSERT", "UPDATE"}) {
        std::string body;
        for (const Check& k : kChecks) {
            if (k.table != table)
                continue;
            body +=
                "    SELECT RAISE(ABORT, " +
                quoted(std::string(table) + "." + std::string(k.column) + ": " + ruleText(k.rule)) +
                ") WHERE " + untypedBreaks(k.rule, "NEW." + std::string(k.column)) + ";\n";
        }
        c.exec("CREATE TRIGGER CK_" + std::string(table) + "_" + std::string(op) + " BEFORE " +
               std::string(op) + " ON " + std::string(table) + " BEGIN\n" + body + "END");
    }
}

// Any other table is rebuilt with its rules as CHECK constraints, which cost a write almost
// nothing: the same definition plus the checks, the rows copied, its indexes made again.
void rebuildWithChecks(Connection& c, std::string_view table) {
    const std::string t(table), fresh = t + "_V6";
    std::string ddl;
    std::vector<std::string> indexes;
    {
        auto cur = c.query(
            "SELECT type, sql FROM sqlite_master WHERE tbl_name = ? AND sql IS NOT NULL", {t});
        while (cur->next()) {
            if (cur->text(0) == "table")
                ddl = cur->text(1);
            else if (cur->text(0) == "index")
                indexes.emplace_back(cur->text(1));
        }
    }
    const std::size_t name = ddl.find(t);
    const std::size_t close = ddl.rfind(')');
    if (name == std::string::npos || close == std::string::npos)
        throw DbError("a definição da tabela " + t + " não foi encontrada");
    std::string checks;
    for (const Check& k : kChecks) {
        if (k.table == table) {
            checks += ",\n    CONSTRAINT CK_" + t + "_" + std::string(k.column) + " CHECK (NOT (" +
                      untypedBreaks(k.rule, std::string(k.column)) + "))";
        }
    }
    ddl.insert(close, checks);
    ddl.replace(name, t.size(), fresh);
    c.exec(ddl);
    c.exec("INSERT INTO " + fresh + " SELECT * FROM " + t);
    c.exec("DROP TABLE " + t);
    c.exec("ALTER TABLE " + fresh + " RENAME TO " + t);
    for (const auto& ix : indexes)
        c.exec(ix);
}

void addCheckConstraints(Connection& c) {
    for (const Check& k : kChecks) {
        std::string cond;
        const std::string col(k.column);
        switch (k.rule) {
            case Rule::NullNotBlank:
            case Rule::NotBlank:
                cond = "trim(" + col + ") <> ''";
                break;
            case Rule::Day:
                continue;
            case Rule::NotNegative:
                cond = col + " >= 0";
                break;
        }
        c.exec("ALTER TABLE " + std::string(k.table) + " ADD CONSTRAINT CK_" +
               std::string(k.table) + "_" + col + " CHECK (" + cond + ")");
    }
}

// Rows that break a rule the upgrade cannot mend, one line each (at most `limit`).
std::string unmendable(Connection& c, std::size_t limit) {
    const bool pg = Dialect(c).typedColumns();
    std::string out;
    std::size_t found = 0;
    for (const Check& k : kChecks) {
        if (k.rule == Rule::NullNotBlank || (pg && k.rule == Rule::Day))
            continue;
        const std::string col(k.column);
        const std::string cond =
            pg ? (k.rule == Rule::NotNegative ? col + " < 0" : "trim(" + col + ") = ''")
               : untypedBreaks(k.rule, col);
        auto cur = c.query("SELECT " + col + " FROM " + std::string(k.table) + " WHERE " + cond);
        while (cur->next()) {
            if (++found <= limit) {
                out += "\n  " + std::string(k.table) + "." + col + " = '" +
                       std::string(cur->text(0)) + "': " + ruleText(k.rule);
            }
        }
    }
    if (found > limit)
        out += "\n  ... e mais " + std::to_string(found - limit);
    return out;
}

}  // namespace

// Version 6: the database refuses what has no meaning (an empty code where a code or null
// is meant, a date SQLite would store as any text, a negative quantity), and a consolidation
// records when and by whom it was closed. The upgrade turns '' into null where null is the
// meaning, and refuses, listing them, the rows it cannot decide about.
void schemaStep6(Connection& c) {
    const Dialect d(c);
    for (const Check& k : kChecks) {
        if (k.rule == Rule::NullNotBlank) {
            c.exec("UPDATE " + std::string(k.table) + " SET " + std::string(k.column) +
                   " = NULL WHERE trim(" + std::string(k.column) + ") = ''");
        }
    }
    if (std::string bad = unmendable(c, 20); !bad.empty()) {
        throw DbError(
            "a versão 6 do esquema não pode ser aplicada: estas linhas não têm "
            "sentido e precisam ser corrigidas antes (nada foi mudado):" +
            bad);
    }
    c.exec("ALTER TABLE CONSSOLI ADD COLUMN DTFECHAMENTO " + d.timestampType());
    c.exec("ALTER TABLE CONSSOLI ADD COLUMN NMUSUFECHAMENTO VARCHAR(40)");
    if (d.typedColumns()) {
        addCheckConstraints(c);
        return;
    }
    for (std::string_view table : kTables) {
        if (std::find(std::begin(kReferenced), std::end(kReferenced), table) !=
            std::end(kReferenced))
            addGuardTriggers(c, table);
        else
            rebuildWithChecks(c, table);
    }
}

}  // namespace rqc::suitedb
