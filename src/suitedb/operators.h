#pragma once
// Operators who may log in to the application server: their password hashes (libsodium's
// Argon2id string form) and the remote objects each may call.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "suitedb/connection.h"

namespace rqc::suitedb {

// Raised for an operator code, password or object name that cannot be stored; the message
// says why. Nothing is written then.
class OperatorError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kOperatorCodeMax = 12;
inline constexpr std::size_t kPasswordMin = 8;
inline constexpr std::size_t kPasswordMax = 256;  // bytes; longer ones are refused unhashed

// Empty when `code` can be an operator code (1 to 12 of A-Z a-z 0-9 . _ -); otherwise why not.
std::string operatorCodeProblem(std::string_view code);
// Empty when `name` can be a registered object name ("Module.object", letters, digits, dots
// and underscores, up to 60 characters); otherwise why not.
std::string objectNameProblem(std::string_view name);

// Throws OperatorError for a password outside kPasswordMin..kPasswordMax bytes.
void requirePasswordLength(std::string_view password);

// Argon2id string hash with a fresh salt (two passes, 19 MiB).
// Throws OperatorError for a password outside kPasswordMin..kPasswordMax bytes.
std::string hashPassword(std::string_view password);
// The same with other costs: what older versions stored, for checking the upgrade.
std::string hashPasswordWith(std::string_view password, unsigned long long opsLimit,
                             std::size_t memLimit);
// True when `hash` was made with less than hashPassword's costs (or is not one of its hashes).
bool hashNeedsUpgrade(const std::string& hash);
// True when `password` matches `hash`; false for a malformed hash. Takes as long as one
// hash whatever the answer.
bool verifyPassword(const std::string& hash, std::string_view password);

struct OperatorInfo {
    std::string code, name;
    bool hasPassword = false;
    std::vector<std::string> objects;  // permitted, sorted
};

// Creates the operator (OPERADOR row when missing, with `name`) and sets its password.
// Throws OperatorError when the code is invalid or the operator already has a password.
void addOperator(Connection& c, const std::string& code, const std::string& name,
                 std::string_view password);
// Replaces the password of an operator that has one; OperatorError otherwise.
void setOperatorPassword(Connection& c, const std::string& code, std::string_view password);
// Lets the operator call `object`; returns false when it already could.
bool grantObject(Connection& c, const std::string& code, const std::string& object);
// Takes the permission away; returns false when there was none.
bool revokeObject(Connection& c, const std::string& code, const std::string& object);
std::vector<OperatorInfo> listOperators(Connection& c);

// Codes of the operators whose password is `password`, sorted: one hash check per operator
// with a password.
std::vector<std::string> operatorsWithPassword(Connection& c, std::string_view password);

// What to type to create the first operator of database `shownDb` (as shown to the user) and
// let it call the consolidation object; for a database where nobody can log in.
std::string firstOperatorHint(const std::string& shownDb);

// The objects an operator may call after a successful login, sorted; nullopt when the code
// is unknown, has no password or the password does not match (one answer for all three,
// reached in about the same time). A successful login stores a stronger hash in place of one
// that hashNeedsUpgrade.
std::optional<std::vector<std::string>> checkLogin(Connection& c, std::string_view code,
                                                   std::string_view password);

}  // namespace rqc::suitedb
