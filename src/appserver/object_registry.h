#pragma once
// Remote objects by registered name, each with methods by name and their declared argument
// kinds. Built once before the server starts; read-only (and so thread-safe) afterwards.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "method_table.h"
#include "protocol/protocol.h"

namespace rqc::appserver {

class WorkerConnection;

// What a method sees of the call besides its arguments.
struct CallContext {
    std::string_view peer;          // "address:port" of the client
    std::string_view operatorCode;  // the operator the connection logged in as (a run's user)
    WorkerConnection& db;           // this worker thread's database connection
    // The consolidated request a method made or reversed, for the call's log line.
    std::string number;
};

// Runs a method. The arguments have the declared kinds; a method may change by-reference
// values (they travel back to the caller), by-value ones never reach the caller again.
// Failures are exceptions (ArgumentError, suitedb::DbError, ...): the dispatcher turns them
// into error results.
using MethodHandler =
    std::function<protocol::CallResult(CallContext&, std::vector<protocol::Argument>& args)>;

struct RemoteMethod {
    std::string name;
    std::vector<std::uint8_t> argumentKinds;  // type codes, in call order
    MethodHandler run;
    bool writes = false;  // from the method table: it takes the SQLite file's write turn
};

class RemoteObject {
  public:
    explicit RemoteObject(std::string name) : m_name(std::move(name)) {}

    const std::string& name() const { return m_name; }
    // Throws std::invalid_argument when the name is already taken.
    void addMethod(std::string name, std::vector<std::uint8_t> argumentKinds, MethodHandler run);
    // A method of the method table, with its name and kinds from there.
    void addMethod(const MethodSignature& method, MethodHandler run);
    const RemoteMethod* findMethod(std::string_view name) const;  // nullptr when absent
    const std::vector<RemoteMethod>& methods() const { return m_methods; }

  private:
    std::string m_name;
    std::vector<RemoteMethod> m_methods;
};

class ObjectRegistry {
  public:
    // Throws std::invalid_argument when the name is already registered.
    RemoteObject& add(std::string name);
    const RemoteObject* find(std::string_view name) const;  // nullptr when absent
    // "Object.Method" of every method registered.
    std::vector<std::string> methodNames() const;

  private:
    std::vector<std::unique_ptr<RemoteObject>> m_objects;
};

}  // namespace rqc::appserver
