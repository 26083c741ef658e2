// The drivers behind TVeskSQLConnection. Host side only: plug-ins never see this header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vesk/VeskPack5.h"

namespace vesk::driver {

// What a driver needs to open a session.
struct ConnectionSettings {
  std::vector<std::string> params;  // name=value lines, as the connection holds them
  std::string client_library;       // empty: the driver's default
};

// Rows of an open query, read forward.
class VESKPACK_API Cursor {
 public:
  virtual ~Cursor();
  virtual std::vector<std::string> Columns() const = 0;
  // The next row, or nullopt at the end. A null field is nullopt.
  virtual std::optional<std::vector<std::optional<std::string>>> Fetch() = 0;
};

// One open connection to a server.
class VESKPACK_API Session {
 public:
  virtual ~Session();
  // Runs a statement that gives rows, in the current transaction (or in one of its own).
  virtual std::unique_ptr<Cursor> Query(const std::string& sql) = 0;
  virtual void ExecuteDirect(const std::string& sql) = 0;
  virtual void StartTransaction(bool read_committed, bool read_only) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;
  // Whether the transactions the session starts on its own for single statements are read-only
  // (the connection's transaction object's option). Drivers without the notion ignore it.
  virtual void SetStatementReadOnly(bool read_only) { (void)read_only; }
  virtual std::vector<std::string> InfoReport(TVeskInfoReportPart part) = 0;
  virtual int64_t ServerVersion() = 0;
};

class VESKPACK_API Driver {
 public:
  virtual ~Driver();
  // The database key of a connection with these parameters.
  virtual std::string DatabaseKey(const std::vector<std::string>& params) const = 0;
  // Opens a session; throws TVeskDriverError with the server's text when it cannot.
  virtual std::unique_ptr<Session> Connect(const ConnectionSettings& settings) = 0;
  // The names of the drivers this one reaches servers through (the ODBC driver manager's
  // installed drivers); empty for a driver that talks to its servers itself.
  virtual std::vector<std::string> InstalledDrivers() const { return {}; }
};

// Drivers are found by the connection's DriverName (ignoring case). The host registers the real
// ones at load; tests register their own.
VESKPACK_API void RegisterDriver(const std::string& name, std::shared_ptr<Driver> driver);
VESKPACK_API void UnregisterDriver(const std::string& name);
VESKPACK_API std::shared_ptr<Driver> FindDriver(const std::string& name);

}  // namespace vesk::driver
