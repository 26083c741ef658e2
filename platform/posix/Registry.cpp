#include "common/Registry.h"

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

}  // namespace

namespace internal {

std::optional<std::string> ReadSystemRegistryString(RegistryRoot root, const std::string& key,
                                                    const std::string& value_name) {
  for (const auto& mapped : kMappedValues) {
    if (mapped.root == root && SameRegistryName(key, mapped.key) &&
        SameRegistryName(value_name, mapped.value_name)) {
      auto value = GetEnv(mapped.variable);
      if (!value || value->empty()) {
        return std::nullopt;
      }
      return value;
    }
  }
  return std::nullopt;
}

}  // namespace internal

}  // namespace tolvan::platform
