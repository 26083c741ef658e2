#include "platform/Environment.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "common/EnvironmentOverlay.h"

namespace tolvan::platform {

namespace internal {
std::string EnvironmentKey(const std::string& name) {
  return name;
}
}  // namespace internal

std::optional<std::string> GetEnv(const std::string& name) {
  if (auto entry = internal::OverlayLookup(name)) {
    return entry->value;
  }
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) {
    return std::nullopt;
  }
  return std::string(value);
}

void SetEnv(const std::string& name, const std::string& value) {
  internal::CheckVariable(name, &value);
  if (internal::OverlaySet(name, value)) {
    return;
  }
  if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "não foi possível definir a variável de ambiente " + name);
  }
}

void UnsetEnv(const std::string& name) {
  internal::CheckVariable(name, nullptr);
  if (internal::OverlaySet(name, std::nullopt)) {
    return;
  }
  if (::unsetenv(name.c_str()) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "não foi possível remover a variável de ambiente " + name);
  }
}

std::optional<std::pair<std::string, std::string>> Utf8LocaleForChildren() {
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    if (auto value = GetEnv(name); value && !value->empty()) {
      locale = *value;
      break;
    }
  }
  std::transform(locale.begin(), locale.end(), locale.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (locale.find("utf-8") != std::string::npos || locale.find("utf8") != std::string::npos) {
    return std::nullopt;
  }
  return std::pair<std::string, std::string>("LC_ALL", "C.UTF-8");
}

}  // namespace tolvan::platform
