// Host-side helpers of the ODBC driver. Plug-ins never see this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tolvan/Visibility.h"

namespace vesk::odbc {

// The driver is registered under this name (TVeskSQLConnection::DriverName). It reads the
// parameters ConnectionString (the ODBC connection string, "Driver={...};Server=...;..."),
// USER_NAME and PASSWORD (added as UID and PWD when the connection string names neither) and
// Database (the database key; when empty, the connection string's DATABASE or DBQ attribute).
inline constexpr const char* kDriverName = "ODBC";

// The connection string the driver hands to the driver manager for these parameter lines.
// Throws TVeskDriverError when ConnectionString is missing or empty.
VESKPACK_API std::string ConnectionStringFor(const std::vector<std::string>& params);

// The value of attribute name (ignoring case) in a connection string, braces removed and "}}"
// read as "}"; empty when the string has no such attribute.
VESKPACK_API std::string ConnectionStringAttribute(const std::string& connection_string,
                                                   const std::string& name);

// A value as a connection string writes it: in braces, with "}" doubled, when it holds ";", "{",
// "}", "=" or blanks at its ends; otherwise as it is.
VESKPACK_API std::string BracedValue(const std::string& value);

// TVeskSQLConnection::GetServerVersion of an ODBC connection: the SQL_DBMS_VER text
// major.minor.release (further parts and any text after the numbers are ignored) encoded as
//   major * 10^10 + minor * 10^6 + release,
// so that its decimal digits group as major (2) . minor (4, zero-padded) . release (6,
// zero-padded, printed as 2 + 4): "15.00.4153" gives 150000004153, which the SQL Server plug-in
// prints as "15.0000.00.4153"; PostgreSQL's "15.0.20" gives 150000000020. Throws
// TVeskDriverError when the text does not start with a number or a part does not fit (minor at
// most 9999, release at most 999999).
VESKPACK_API int64_t EncodeServerVersion(const std::string& dbms_ver);

}  // namespace vesk::odbc
