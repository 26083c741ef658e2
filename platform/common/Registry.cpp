#include "common/Registry.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>
#include <vector>

namespace tolvan::platform {
namespace {

struct Override {
  RegistryRoot root;
  std::string key;
  std::string value_name;
  std::optional<std::string> value;
};

std::mutex& OverrideMutex() {
  static std::mutex mutex;
  return mutex;
}

// Innermost last.
std::vector<Override>& Overrides() {
  static std::vector<Override> overrides;
  return overrides;
}

}  // namespace

namespace internal {

bool SameRegistryName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace internal

std::optional<std::string> ReadRegistryString(RegistryRoot root, const std::string& key,
                                              const std::string& value_name) {
  {
    std::lock_guard lock(OverrideMutex());
    const auto& overrides = Overrides();
    for (auto it = overrides.rbegin(); it != overrides.rend(); ++it) {
      if (it->root == root && internal::SameRegistryName(it->key, key) &&
          internal::SameRegistryName(it->value_name, value_name)) {
        return it->value;
      }
    }
  }
  return internal::ReadSystemRegistryString(root, key, value_name);
}

ScopedRegistryValueOverride::ScopedRegistryValueOverride(RegistryRoot root, std::string key,
                                                         std::string value_name,
                                                         std::optional<std::string> value) {
  std::lock_guard lock(OverrideMutex());
  Overrides().push_back({root, std::move(key), std::move(value_name), std::move(value)});
}

ScopedRegistryValueOverride::~ScopedRegistryValueOverride() {
  std::lock_guard lock(OverrideMutex());
  Overrides().pop_back();
}

}  // namespace tolvan::platform
