#include "DefaultDatabase.h"

#include <filesystem>
#include <stdexcept>

#include "platform/Environment.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Firebird.h"
#include "vesk/host/Toolkit.h"

namespace tolvan::cli {
namespace {

std::string NonEmptyEnv(const char* name) {
  return tolvan::platform::GetEnv(name).value_or("");
}

}  // namespace

std::string DataDirectory() {
  namespace fs = std::filesystem;
  const std::string xdg = NonEmptyEnv("XDG_DATA_HOME");
  // Relative values are invalid by the XDG rules and are ignored.
  if (!xdg.empty() && fs::path(xdg).is_absolute()) {
    return (fs::path(xdg) / "tolvan").string();
  }
  const std::string home = NonEmptyEnv("HOME");
  if (!home.empty()) {
    return (fs::path(home) / ".local" / "share" / "tolvan").string();
  }
  const std::string local_app_data = NonEmptyEnv("LOCALAPPDATA");
  if (!local_app_data.empty()) {
    return (fs::path(local_app_data) / "tolvan").string();
  }
  throw std::runtime_error(
      "sem pasta de dados para o banco padrão: defina XDG_DATA_HOME ou HOME, ou dê --database");
}

std::string DefaultDatabasePath() {
  return (std::filesystem::path(DataDirectory()) / "default.fdb").string();
}

void EnsureFirebirdLockFolder() {
  if (tolvan::platform::GetEnv("FIREBIRD_LOCK")) {
    return;
  }
  const auto folder = std::filesystem::path(DataDirectory()) / "lock";
  std::filesystem::create_directories(folder);
  tolvan::platform::SetEnv("FIREBIRD_LOCK", folder.string());
}

std::string KeepLogInDataDirectory() {
  try {
    const auto folder = std::filesystem::path(DataDirectory());
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "tolvan.log").string();
    vesk::SetLogFile(file);
    return file;
  } catch (const std::exception&) {
    // Without a data folder the log entries are only shown.
    return "";
  }
}

std::string EnsureDefaultDatabase(const std::string& client_library) {
  const std::string path = DefaultDatabasePath();
  if (!std::filesystem::exists(path)) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    // Embedded: the engine ignores the password.
    vesk::firebird::CreateDatabase(path, "SYSDBA", "", client_library);
  }
  return path;
}

}  // namespace tolvan::cli
