#include <map>
#include <mutex>
#include <string>

#include "Names.h"
#include "vesk/host/Driver.h"

namespace vesk::driver {

Cursor::~Cursor() = default;
Session::~Session() = default;
Driver::~Driver() = default;

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Driver>> drivers;  // by lower-case name
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::string Key(const std::string& name) {
  std::string key = name;
  for (auto& c : key) {
    c = detail::AsciiLower(c);
  }
  return key;
}

}  // namespace

void RegisterDriver(const std::string& name, std::shared_ptr<Driver> driver) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.drivers[Key(name)] = std::move(driver);
}

void UnregisterDriver(const std::string& name) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.drivers.erase(Key(name));
}

std::shared_ptr<Driver> FindDriver(const std::string& name) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.drivers.find(Key(name));
  return it == registry.drivers.end() ? nullptr : it->second;
}

}  // namespace vesk::driver
