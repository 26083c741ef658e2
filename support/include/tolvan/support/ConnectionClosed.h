// The host's connection, closed for a tool run and opened again on every way out.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "vesk/VeskPack5.h"

namespace tolvan::common {

// Closes the connection (a failure to close goes to the caller at once) and opens it again when
// the scope ends. When the scope ends by a failure, that failure is the one that goes on, whether
// or not the connection opens; otherwise a failure to open goes to the caller.
class ConnectionClosed {
 public:
  explicit ConnectionClosed(TVeskSQLConnection& connection) : connection_(connection) {
    connection_.Close();
  }
  ~ConnectionClosed() noexcept(false) {
    if (std::uncaught_exceptions() > exceptions_) {
      try {
        connection_.Open();
      } catch (...) {
      }
    } else {
      connection_.Open();
    }
  }
  ConnectionClosed(const ConnectionClosed&) = delete;
  ConnectionClosed& operator=(const ConnectionClosed&) = delete;

 private:
  TVeskSQLConnection& connection_;
  int exceptions_ = std::uncaught_exceptions();
};

// The module's SQL connection; a module without one is refused in the export's name.
inline TVeskSQLConnection& ConnectionOf(TVeskDMConexao* DM, const char* export_name) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error(std::string(export_name) + ": DM não poder ser nil");
  }
  return *DM->SQLConnection;
}

}  // namespace tolvan::common
