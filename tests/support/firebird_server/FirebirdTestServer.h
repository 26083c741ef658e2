// The private Firebird test server of scripts/firebird-server, as the integration tests find it
// through the TOLVAN_FB_* variables that the script's env file exports.
#pragma once

#include <optional>
#include <string>

#include "ci/SkipOrFail.h"
#include "platform/Environment.h"

namespace tolvan::test {

inline constexpr const char* kFirebirdServerVariables[] = {
    "TOLVAN_FB_HOST", "TOLVAN_FB_PORT", "TOLVAN_FB_USER", "TOLVAN_FB_PASSWORD", "TOLVAN_FB_DATA"};

struct FirebirdServer {
  std::string host, port, user, password, data;
  // The connection string of a path on the server.
  std::string Key(const std::string& path) const { return host + "/" + port + ":" + path; }
  // The connection string of a file of the server's data folder.
  std::string DataKey(const std::string& file) const { return Key(data + "/" + file); }
};

// The TOLVAN_FB_* variables that are not set, comma separated; empty when all are.
inline std::string MissingFirebirdServerVariables() {
  std::string missing;
  for (const char* name : kFirebirdServerVariables) {
    if (!tolvan::platform::GetEnv(name)) {
      missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
  }
  return missing;
}

inline std::optional<FirebirdServer> FindFirebirdServer() {
  using tolvan::platform::GetEnv;
  auto host = GetEnv("TOLVAN_FB_HOST");
  auto port = GetEnv("TOLVAN_FB_PORT");
  auto user = GetEnv("TOLVAN_FB_USER");
  auto password = GetEnv("TOLVAN_FB_PASSWORD");
  auto data = GetEnv("TOLVAN_FB_DATA");
  if (!host || !port || !user || !password || !data) {
    return std::nullopt;
  }
  return FirebirdServer{*host, *port, *user, *password, *data};
}

inline std::string NoFirebirdServerMessage() {
  return "no Firebird test server (" + MissingFirebirdServerVariables() +
         " not set); start it with: source \"$(scripts/firebird-server start)\"";
}

}  // namespace tolvan::test

// In a test: without a server (an empty std::optional<FirebirdServer>) the test fails under CI=true
// and is skipped otherwise.
#define REQUIRE_SERVER(server)                                    \
  if (!(server)) {                                                \
    TOLVAN_SKIP_OR_FAIL(tolvan::test::NoFirebirdServerMessage()); \
  }
