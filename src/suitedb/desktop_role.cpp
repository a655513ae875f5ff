#include "suitedb/desktop_role.h"

#include "suitedb/dialect.h"

#include "suitedb/operators.h"

namespace rqc::suitedb {

const std::vector<DesktopGrant>& desktopGrants() {
    static const std::vector<DesktopGrant> grants = {
        {"FILIAL", {}},
        {"PRODUTO", {}},
        {"COMPRADOR", {}},
        {"OPERADOR", {"CDOPERADOR", "NMOPERADOR"}},
    };
    return grants;
}

std::string columnList(const DesktopGrant& grant) {
    std::string columns;
    for (const auto& col : grant.columns)
        columns += (columns.empty() ? " (" : ", ") + col;
    return columns.empty() ? columns : columns + ")";
}

std::string desktopRoleProblem(std::string_view name) {
    if (name.empty() || name.size() > 63)
        return "a desktop role's name has 1 to 63 characters";
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char ch = name[i];
        const bool ok = (ch >= 'a' && ch <= 'z') || ch == '_' || (i > 0 && ch >= '0' && ch <= '9');
        if (!ok)
            return "a desktop role's name holds lower-case letters a-z, digits and _, and starts "
                   "with a letter or _";
    }
    if (name.starts_with("pg_"))
        return "names starting with pg_ are PostgreSQL's own";
    return {};
}

bool setDesktopRole(Connection& c, const std::string& name, const std::string& password) {
    if (!Dialect(c).roles()) {
        throw OperatorError(
            "a SQLite database has no roles: a desktop opens the file read-only, and the file's "
            "permissions (docs/install.md) keep other users from writing it");
    }
    if (std::string p = desktopRoleProblem(name); !p.empty())
        throw OperatorError(p);
    requirePasswordLength(password);
    if (password.find('\0') != std::string::npos)
        throw OperatorError("a password may not hold a NUL byte");
    {
        auto who = c.query(
            "SELECT current_user, CASE WHEN (SELECT rolsuper FROM pg_roles WHERE rolname = ?) "
            "THEN 1 ELSE 0 END, CASE WHEN EXISTS (SELECT 1 FROM pg_tables WHERE tableowner = ? "
            "AND schemaname = current_schema()) THEN 1 ELSE 0 END",
            {name, name});
        who->next();
        if (who->text(0) == name || who->int64(2) != 0) {
            throw OperatorError("'" + name +
                                "' is the servers' role, which owns the tables; give the "
                                "desktops a role of their own, such as rqc_desktop");
        }
        if (who->int64(1) != 0)
            throw OperatorError("'" + name + "' is a superuser; choose another name");
    }
    Transaction t(c);
    auto exists = c.query("SELECT 1 FROM pg_roles WHERE rolname = ?", {name});
    const bool created = !exists->next();
    exists.reset();
    const std::string role = "\"" + name + "\"";  // the name holds no quote (checked above)
    if (created)
        c.exec("CREATE ROLE " + role);
    // The password travels as a literal built by the server, never spliced in here.
    auto alter = c.query(
        "SELECT format('ALTER ROLE %I WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOINHERIT "
        "NOREPLICATION NOBYPASSRLS PASSWORD %L', CAST(? AS TEXT), CAST(? AS TEXT))",
        {name, password});
    alter->next();
    const std::string alterSql(alter->text(0));
    alter.reset();
    c.exec(alterSql);
    // Nothing but what follows: no other table, no sequence, no function of the schema, and
    // no membership in another role.
    auto schema = c.query("SELECT current_schema(), current_database()");
    schema->next();
    const std::string schemaName(schema->text(0));
    const std::string database(schema->text(1));
    schema.reset();
    auto quoted = [&c](const std::string& ident) {
        auto q = c.query("SELECT quote_ident(CAST(? AS TEXT))", {ident});
        q->next();
        return std::string(q->text(0));
    };
    const std::string s = quoted(schemaName);
    c.exec("REVOKE ALL ON ALL TABLES IN SCHEMA " + s + " FROM " + role);
    c.exec("REVOKE ALL ON ALL SEQUENCES IN SCHEMA " + s + " FROM " + role);
    auto memberships = c.query(
        "SELECT quote_ident(g.rolname) FROM pg_auth_members m JOIN pg_roles g ON g.oid = "
        "m.roleid JOIN pg_roles r ON r.oid = m.member WHERE r.rolname = ?",
        {name});
    std::vector<std::string> groups;
    while (memberships->next())
        groups.emplace_back(memberships->text(0));
    memberships.reset();
    for (const auto& g : groups)
        c.exec("REVOKE " + g + " FROM " + role);
    c.exec("GRANT CONNECT ON DATABASE " + quoted(database) + " TO " + role);
    c.exec("GRANT USAGE ON SCHEMA " + s + " TO " + role);
    for (const auto& g : desktopGrants())
        c.exec("GRANT SELECT" + columnList(g) + " ON " + s + "." + g.table + " TO " + role);
    t.commit();
    return created;
}

}  // namespace rqc::suitedb
