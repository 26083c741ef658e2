// The test overlay of the environment, shared by the environment functions and the process
// launcher of each operating system.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvan::platform::internal {

struct OverlayEntry {
  std::string name;                  // as it was set, for the child's environment block
  std::optional<std::string> value;  // nullopt: the overlay removed the variable
};

// Keyed by EnvironmentKey(name).
using EnvironmentOverlay = std::map<std::string, OverlayEntry>;

// The key under which a variable name is compared: the name itself on POSIX, its upper-case form
// on Windows, where names are case-insensitive.
std::string EnvironmentKey(const std::string& name);

// Rejects a name the operating system cannot hold (empty, or with '=' or a NUL), and a value with
// a NUL, with std::system_error (EINVAL).
void CheckVariable(const std::string& name, const std::string* value);

// The overlay's entry for the name: nullopt when no overlay is active or it has not touched the
// name.
std::optional<OverlayEntry> OverlayLookup(const std::string& name);

// Records the value (nullopt: removed) in the active overlay. False when no overlay is active.
bool OverlaySet(const std::string& name, std::optional<std::string> value);

// A copy of the active overlay; nullopt when none is active.
std::optional<EnvironmentOverlay> OverlaySnapshot();

// What a child's environment differs by from the real one: the active overlay with the launch's
// own variables set over it; nullopt when there is neither.
std::optional<EnvironmentOverlay> ChildOverlay(
    const std::vector<std::pair<std::string, std::string>>& extra);

}  // namespace tolvan::platform::internal
