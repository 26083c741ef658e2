// A plug-in compiled into the test program (its export file and its work library), its exports
// found by name as a host finds them in a loaded plug-in. A loaded plug-in keeps a private copy of
// the platform code, which the test's overrides (the executable's folder, the environment, the
// registry, the message box, the interrupt record) cannot reach; linked in, it shares the test's.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace tolvan::testing {

// The exports of the plug-in linked into this program, by name (one table per plug-in, defined
// beside its export file by tolvan_link_plugin).
const std::map<std::string, void*>& LinkedExports();

class LinkedPlugin {
 public:
  // The plug-in of that name; only the one linked into the program is there.
  static std::unique_ptr<LinkedPlugin> Load(const std::string& name) {
    if (name.find(LinkedName()) == std::string::npos) {
      throw std::runtime_error("o plug-in " + name + " não está neste programa");
    }
    return std::make_unique<LinkedPlugin>();
  }

  // The export's address, or nullptr when the plug-in offers none of that name.
  void* Symbol(const std::string& name) const {
    const auto found = LinkedExports().find(name);
    return found == LinkedExports().end() ? nullptr : found->second;
  }

  template <typename F>
  F Function(const std::string& name) const {
    return reinterpret_cast<F>(Symbol(name));
  }

 private:
  static const char* LinkedName();
};

}  // namespace tolvan::testing
