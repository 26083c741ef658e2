// Host-side helpers of the Firebird driver. Plug-ins never see this header.
#pragma once

#include <string>

#include "vesk/VeskPack5.h"

namespace vesk::firebird {

// The name the Firebird driver is registered under (TVeskSQLConnection::DriverName).
inline constexpr const char* kDriverName = "Firebird";

// Creates a new, empty database (page size 8192, default character set UTF8, dialect 3).
// database_key is a path (embedded engine), host:path or host/port:path. client_library empty:
// the driver's default client library. Throws TVeskDriverError with the server's text.
VESKPACK_API void CreateDatabase(const std::string& database_key, const std::string& user,
                                 const std::string& password,
                                 const std::string& client_library = "");

// The CREATE DATABASE statement CreateDatabase sends (quotes in the values doubled).
VESKPACK_API std::string CreateDatabaseSql(const std::string& database_key, const std::string& user,
                                           const std::string& password);

}  // namespace vesk::firebird
