#pragma once
// Engine back ends behind Connection::open (internal to the library).

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "suitedb/connection.h"

namespace rqc::suitedb::detail {

// Hash for the statement caches: looks up std::string keys by string_view without copying.
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

std::unique_ptr<Connection> openSqlite(const std::string& path);
std::unique_ptr<Connection> openPostgres(const std::string& target);

}  // namespace rqc::suitedb::detail
