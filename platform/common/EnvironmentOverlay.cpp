#include "common/EnvironmentOverlay.h"

#include <cerrno>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/Environment.h"

namespace tolvan::platform::internal {
namespace {

// Nested overrides stack up; each starts from what the one around it had set.
struct OverlayState {
  std::mutex mutex;
  std::vector<EnvironmentOverlay> stack;
};

OverlayState& State() {
  static OverlayState state;
  return state;
}

}  // namespace

void CheckVariable(const std::string& name, const std::string* value) {
  if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos ||
      (value != nullptr && value->find('\0') != std::string::npos)) {
    throw std::system_error(EINVAL, std::generic_category(),
                            "variável de ambiente inválida \"" + name + "\"");
  }
}

std::optional<OverlayEntry> OverlayLookup(const std::string& name) {
  auto& state = State();
  std::lock_guard lock(state.mutex);
  if (state.stack.empty()) {
    return std::nullopt;
  }
  const auto& overlay = state.stack.back();
  auto it = overlay.find(EnvironmentKey(name));
  if (it == overlay.end()) {
    return std::nullopt;
  }
  return it->second;
}

bool OverlaySet(const std::string& name, std::optional<std::string> value) {
  auto& state = State();
  std::lock_guard lock(state.mutex);
  if (state.stack.empty()) {
    return false;
  }
  state.stack.back()[EnvironmentKey(name)] = OverlayEntry{name, std::move(value)};
  return true;
}

std::optional<EnvironmentOverlay> OverlaySnapshot() {
  auto& state = State();
  std::lock_guard lock(state.mutex);
  if (state.stack.empty()) {
    return std::nullopt;
  }
  return state.stack.back();
}

std::optional<EnvironmentOverlay> ChildOverlay(
    const std::vector<std::pair<std::string, std::string>>& extra) {
  std::optional<EnvironmentOverlay> overlay = OverlaySnapshot();
  if (extra.empty()) {
    return overlay;
  }
  if (!overlay) {
    overlay.emplace();
  }
  for (const auto& [name, value] : extra) {
    CheckVariable(name, &value);
    (*overlay)[EnvironmentKey(name)] = OverlayEntry{name, value};
  }
  return overlay;
}

}  // namespace tolvan::platform::internal

namespace tolvan::platform {

ScopedEnvironmentOverride::ScopedEnvironmentOverride() {
  auto& state = internal::State();
  std::lock_guard lock(state.mutex);
  if (state.stack.empty()) {
    state.stack.emplace_back();
  } else {
    state.stack.push_back(state.stack.back());
  }
}

ScopedEnvironmentOverride::~ScopedEnvironmentOverride() {
  auto& state = internal::State();
  std::lock_guard lock(state.mutex);
  state.stack.pop_back();
}

}  // namespace tolvan::platform
