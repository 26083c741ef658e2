#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "platform/Environment.h"

namespace tolvan::platform {
namespace {

// The registry values the system reads, and the environment variable that stands for each.
struct MappedValue {
  RegistryRoot root;
  const char* key;
  const char* value_name;
  const char* variable;
};

constexpr MappedValue kMappedValues[] = {
    {RegistryRoot::LocalMachine, "SOFTWARE\\Firebird Project\\Firebird Server\\Instances",
     "DefaultInstance", "FIREBIRD"},
};

// Registry names compare without regard to case, as on Windows.
bool SameName(const std::string& a, const char* b) {
  return std::equal(a.begin(), a.end(), b, b + std::char_traits<char>::length(b),
                    [](char x, char y) {
                      return std::tolower(static_cast<unsigned char>(x)) ==
                             std::tolower(static_cast<unsigned char>(y));
                    });
}

}  // namespace

std::optional<std::string> ReadRegistryString(RegistryRoot root, const std::string& key,
                                              const std::string& value_name) {
  for (const auto& mapped : kMappedValues) {
    if (mapped.root == root && SameName(key, mapped.key) &&
        SameName(value_name, mapped.value_name)) {
      auto value = GetEnv(mapped.variable);
      if (!value || value->empty()) {
        return std::nullopt;
      }
      return value;
    }
  }
  return std::nullopt;
}

}  // namespace tolvan::platform
