// The stand-alone data-access connection. Built on every platform: without the PostgreSQL driver
// (MinGW builds) opening one fails with the registry's "no driver" message.
#include <string>

#include "postgresql/PostgresError.h"
#include "vesk/VeskPack5.h"

namespace vesk::postgresql {

PostgresError::~PostgresError() = default;

bool IsMissingObject(const std::string& sqlstate) {
  for (const char* code : {"42P01", "42704", "42883", "42703", "3F000", "3D000"}) {
    if (sqlstate == code) {
      return true;
    }
  }
  return false;
}

}  // namespace vesk::postgresql

void TVeskFDConnection::ExecSQL(const std::string& SQL, bool IgnoreObjNotExists) {
  if (!IgnoreObjNotExists) {
    ExecuteDirect(SQL);
    return;
  }
  try {
    ExecuteDirect(SQL);
  } catch (const vesk::postgresql::PostgresError& e) {
    if (!vesk::postgresql::IsMissingObject(e.sqlstate())) {
      throw;
    }
  }
}
