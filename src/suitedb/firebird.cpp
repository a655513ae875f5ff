#include "suitedb/firebird.h"

#include <dlfcn.h>
#include <ibase.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "suitedb/schema.h"

namespace rqc::suitedb {

namespace {

std::string literal(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

std::string literalOrNull(const std::string& s) {
    return s.empty() ? "NULL" : literal(s);
}

std::string runCaptured(const std::string& command, int& status) {
    std::string output;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        throw std::runtime_error("cannot run " + command);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        output.append(buf, n);
    status = ::pclose(p);
    return output;
}

}  // namespace

std::string firebirdCreateScript(const std::string& path, const MasterData* data) {
    std::string s = "SET SQL DIALECT 3;\nSET NAMES UTF8;\nCREATE DATABASE " + literal(path) +
                    " USER 'SYSDBA' PASSWORD 'masterkey' PAGE_SIZE 8192 DEFAULT CHARACTER SET "
                    "UTF8;\n";
    s += firebirdSchemaScript();
    if (data == nullptr)
        return s;
    for (const auto& b : data->branches) {
        s += "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, IDCNTRRESC, CDREGIAO, IDFUNCAOFILI, "
             "CDFILCENTCMP, DTPROCESSAMENTO) VALUES (" +
             literal(b.code) + ", " + literal(b.name) + ", " + literalOrNull(b.rescinded) + ", " +
             literalOrNull(b.region) + ", " + literalOrNull(b.function) + ", " +
             literalOrNull(b.central) + ", DATE " + literal(isoDate(b.processing)) + ");\n";
    }
    for (const auto& o : data->operators) {
        s += "INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR) VALUES (" + literal(o.code) + ", " +
             literal(o.name) + ");\n";
    }
    for (const auto& o : data->operators) {
        if (o.buyer)
            s += "INSERT INTO COMPRADOR (CDOPERADOR) VALUES (" + literal(o.code) + ");\n";
    }
    for (const auto& p : data->products) {
        s += "INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO, CDCOMPRADOR, CDPRODORIG) "
             "VALUES (" +
             literal(p.code) + ", " + literal(p.tree) + ", " + literal(p.name) + ", " +
             literalOrNull(p.buyer) + ", " + literalOrNull(p.origin) + ");\n";
    }
    s += "COMMIT;\n";
    return s;
}

void createFirebirdDatabase(const std::string& path, const MasterData* data) {
    namespace fs = std::filesystem;
    if (path.empty())
        throw std::runtime_error("no Firebird database file given");
    if (fs::exists(path))
        throw std::runtime_error("'" + path + "' already exists");
    fs::path parent = fs::absolute(path).parent_path();
    if (!fs::is_directory(parent)) {
        throw std::runtime_error("cannot create '" + path + "': folder " + parent.string() +
                                 " does not exist");
    }
    std::string scriptPath = (fs::temp_directory_path() / "rqc-fb-XXXXXX").string();
    int fd = ::mkstemp(scriptPath.data());
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary isql script");
    ::close(fd);
    struct Remove {
        std::string p;
        ~Remove() { std::remove(p.c_str()); }
    } removeScript{scriptPath};
    {
        std::ofstream out(scriptPath, std::ios::binary);
        out << firebirdCreateScript(fs::absolute(path).string(), data);
        if (!out)
            throw std::runtime_error("cannot write the isql script " + scriptPath);
    }
    const char* isql = std::getenv("RQC_ISQL_FB");
    std::string program = isql != nullptr && *isql != '\0' ? isql : "isql-fb";
    int status = 0;
    std::string output =
        runCaptured(program + " -q -b -user SYSDBA -i " + scriptPath + " 2>&1 </dev/null", status);
    // -b stops at the first failed statement with a status other than 0.
    if (status != 0) {
        std::error_code ec;
        fs::remove(path, ec);
        std::string why = output.empty() ? "exit status " + std::to_string(status) : output;
        throw std::runtime_error("isql-fb could not create '" + path + "': " + why);
    }
}

bool shutdownFirebirdEngine() {
    // Only a client library already loaded (by the driver): none loaded, no engine to stop.
    void* client = ::dlopen("libfbclient.so.2", RTLD_NOW | RTLD_NOLOAD);
    if (client == nullptr)
        return false;
    constexpr unsigned kTimeoutMs = 10000;
    const auto shutdown = reinterpret_cast<decltype(&fb_shutdown)>(::dlsym(client, "fb_shutdown"));
    const bool stopped = shutdown != nullptr && shutdown(kTimeoutMs, fb_shutrsn_app_stopped) == 0;
    ::dlclose(client);
    return stopped;
}

}  // namespace rqc::suitedb
