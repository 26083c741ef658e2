// A PostgreSQL test cluster as the environment names it: scripts/postgres-server exports
// TOLVAN_PG_HOST, _PORT, _USER and _PASSWORD, scripts/debian13-servers the same under TOLVAN_PG17_.
#pragma once

#include <optional>
#include <string>

#include "platform/Environment.h"

namespace tolvan::test {

struct PostgresCluster {
  std::string host, port, user, password;
};

// The cluster named by the variables under prefix; none when one of them is not set.
inline std::optional<PostgresCluster> FindPostgresCluster(
    const std::string& prefix = "TOLVAN_PG_") {
  using tolvan::platform::GetEnv;
  auto host = GetEnv(prefix + "HOST");
  auto port = GetEnv(prefix + "PORT");
  auto user = GetEnv(prefix + "USER");
  auto password = GetEnv(prefix + "PASSWORD");
  if (!host || !port || !user || !password) {
    return std::nullopt;
  }
  return PostgresCluster{*host, *port, *user, *password};
}

}  // namespace tolvan::test
