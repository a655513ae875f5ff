#pragma once
// rqc-suitedb import, export and close: the company's files in, consolidated requests out.

#include <string>
#include <vector>

namespace rqc::suitedb::tool {

struct ImportCommand {
    std::string db;
    std::vector<std::string> paths;  // files, or folders for the unattended feed
    std::string kind;
    std::string decimal;  // "", "virgula" or "ponto"
    bool dryRun = false;
    bool replace = false;
    int maxErrors = 100;
    int waitSeconds = 30;
    std::string templateKind;
};
int runImport(const ImportCommand& c);

struct ExportCommand {
    std::string db;
    std::string number;
    std::string since;
    std::string format = "json";
    std::string output;
};
int runExport(const ExportCommand& c);

struct CloseCommand {
    std::string db;
    std::string number;
    std::string user;
};
int runClose(const CloseCommand& c);

}  // namespace rqc::suitedb::tool
