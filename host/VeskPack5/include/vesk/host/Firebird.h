// Host-side helpers of the Firebird driver. Plug-ins never see this header.
#pragma once

#include <string>

#include "vesk/VeskPack5.h"

namespace vesk::firebird {

// The driver answers TVeskSQLConnection::GetServerVersion with the server's build tag
// ("LI-V3.0.11.33637") encoded as major * 10^12 + minor * 10^9 + release * 10^6 + build
// (3000011033637), and its information report with "Database = ", "Server version = " (every
// string the server gives, joined by CR LF) and, for the whole report, "ODS version = " and
// "Page size = " lines.

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
