// The error the PostgreSQL driver raises: the server's message, with its SQLSTATE kept so that
// callers can tell one kind of failure from another without reading the text.
#pragma once

#include <string>

#include "vesk/VeskPack5.h"

namespace vesk::postgresql {

class PostgresError : public TVeskDriverError {
 public:
  PostgresError(const std::string& message, std::string sqlstate)
      : TVeskDriverError(message), sqlstate_(std::move(sqlstate)) {}
  ~PostgresError() override;

  // Five characters, or empty when the failure did not come from the server.
  const std::string& sqlstate() const { return sqlstate_; }

 private:
  std::string sqlstate_;
};

// True for the SQLSTATEs of a missing object: undefined table, object, function, column, schema,
// database.
bool IsMissingObject(const std::string& sqlstate);

}  // namespace vesk::postgresql
