// A database opened through the host's Firebird driver, for the integration tests to query.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace tolvan::test {

struct FirebirdDatabase {
  FirebirdDatabase(const std::string& key, const std::string& user, const std::string& password) {
    connection.DriverName = vesk::firebird::kDriverName;
    connection.Params = {"Database=" + key, "USER_NAME=" + user, "PASSWORD=" + password};
    connection.ClientLibrary = "libfbclient.so.2";
    dm.SQLConnection = &connection;
  }
  // The first column of each row of a select.
  std::vector<std::string> Select(const std::string& sql) {
    std::unique_ptr<TVeskQuery> query(
        ExecutarSQL(sql, nullptr, false, false, 10, "", &connection, true));
    std::vector<std::string> rows;
    for (; !query->Eof(); query->Next()) {
      rows.push_back(query->FieldAsString(0));
    }
    return rows;
  }
  TVeskSQLConnection connection;
  TVeskDMConexao dm;
};

}  // namespace tolvan::test
