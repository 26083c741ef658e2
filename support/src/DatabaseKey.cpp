#include "tolvan/support/DatabaseKey.h"

#include <exception>
#include <string>

#include "tolvan/support/Text.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::support {

std::string DatabaseKey::PathOnServer() const {
  return NamesServer() ? path : server_part + (has_colon ? ":" + path : std::string());
}

DatabaseKey SplitDatabaseKey(const std::string& key) {
  DatabaseKey parts;
  parts.has_colon = key.find(':') != std::string::npos;
  parts.path = key;
  parts.server_part = PegarProximoToken(parts.path, ":");
  return parts;
}

ServerSplit SplitOffServer(const std::string& key) {
  const DatabaseKey parts = SplitDatabaseKey(key);
  if (parts.path.empty()) {
    return {parts.server_part, ""};
  }
  if (parts.NamesServer()) {
    return {parts.path, parts.server_part};
  }
  return {key, ""};
}

ServerAndPort SplitPortAtLastSlash(const std::string& server_part) {
  ServerAndPort split{server_part, ""};
  split.port = PegarAnteriorToken(split.server, "/");
  return split;
}

ServerAndPort SplitPortAtFirstSlash(const std::string& server_part) {
  ServerAndPort split{"", server_part};
  split.server = PegarProximoToken(split.port, "/");
  return split;
}

int32_t PortNumber(const std::string& text, int32_t fallback) {
  std::size_t used = 0;
  try {
    const long value = std::stol(text, &used);
    return used == text.size() && value >= INT32_MIN && value <= INT32_MAX
               ? static_cast<int32_t>(value)
               : fallback;
  } catch (const std::exception&) {
    return fallback;
  }
}

bool IsThisMachine(std::string_view server) {
  // The port, if any, follows a "/".
  const std::string_view name = server.substr(0, server.find('/'));
  return name.empty() || EqualsIgnoringCase(name, "localhost") || name.rfind("127.", 0) == 0 ||
         name == "::1" || name == "[::1]";
}

std::string OnServerOfKey(const std::string& target, const std::string& key,
                          KeyWithoutColon without_colon) {
  if (SplitDatabaseKey(target).NamesServer()) {
    return target;
  }
  const DatabaseKey parts = SplitDatabaseKey(key);
  if (!parts.has_colon) {
    const bool names_server = without_colon == KeyWithoutColon::NamesServer ||
                              (without_colon == KeyWithoutColon::NamesServerUnlessPath &&
                               key.find_first_of("/\\") == std::string::npos);
    if (!names_server) {
      return target;
    }
  }
  return parts.server_part.size() >= 2 ? parts.server_part + ":" + target : target;
}

}  // namespace tolvan::support
