#include "DefaultDatabase.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
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

namespace {

std::string RandomHex() {
  std::random_device random;
  char text[17];
  std::snprintf(text, sizeof text, "%08x%08x", random(), random());
  return text;
}

// While alive, what the plug-in shows (its failures) is kept instead of shown, and its log
// entries go to the log file alone.
class HeldMessages {
 public:
  HeldMessages() {
    previous_dialog_ = vesk::SetDialogSink([this](const vesk::Dialog& dialog) {
      // A note of a creation that succeeded is no failure.
      if (dialog.Type != TMsgDlgType::mtInformation) {
        Keep(dialog.Text);
      }
      return 0;
    });
    previous_log_ = vesk::SetLogSink([](const std::string&, int, const std::string&) {});
    previous_box_ =
        tolvan::platform::SetMessageBoxSink([this](const std::string& text) { Keep(text); });
  }
  ~HeldMessages() {
    vesk::SetDialogSink(previous_dialog_);
    vesk::SetLogSink(previous_log_);
    tolvan::platform::SetMessageBoxSink(previous_box_);
  }
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;

  const std::string& Text() const { return text_; }

 private:
  void Keep(const std::string& text) { text_ += (text_.empty() ? "" : "\n") + text; }

  std::string text_;
  vesk::DialogSink previous_dialog_;
  vesk::LogSink previous_log_;
  tolvan::platform::MessageBoxSink previous_box_;
};

}  // namespace

std::string CreateDefaultDatabaseWhenMissing(const tolvan::platform::DynamicLibrary& firebird,
                                             const std::string& user, const std::string& password) {
  namespace fs = std::filesystem;
  const std::string path = DefaultDatabasePath();
  if (tolvan::platform::PathEntryExists(path)) {
    return path;
  }
  const auto create = firebird.Function<tolvan::CriarDataBaseFn>("CriarDataBase");
  if (create == nullptr) {
    throw std::runtime_error(
        "o plug-in firebird não oferece CriarDataBase para criar o banco padrão " + path);
  }
  fs::create_directories(fs::path(path).parent_path());
  const std::string creating = path + ".~" + RandomHex() + ".tmp";
  // The creation's notes are dropped (the note below says where the database came from).
  HeldMessages held;
  std::string failure;
  TVeskSQLConnection credentials;
  credentials.Params = {"USER_NAME=" + user, "PASSWORD=" + password};
  TVeskDMConexao dm;
  dm.SQLConnection = &credentials;
  try {
    create(&dm, creating, "", "");
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // CriarDataBase says a failure by showing it, not by raising.
  if (failure.empty()) {
    failure = held.Text();
  }
  if (failure.empty() && !tolvan::platform::IsPlainFile(creating)) {
    failure = "CriarDataBase não deixou o arquivo " + creating;
  }
  if (!failure.empty()) {
    tolvan::platform::RemoveFile(creating);
    throw std::runtime_error("não foi possível criar o banco padrão " + path + ":\n" + failure);
  }
  // A link under the default name takes it only while nothing stands there; a run that made the
  // default meanwhile keeps its own.
  std::error_code error;
  fs::create_hard_link(fs::path(creating), fs::path(path), error);
  tolvan::platform::RemoveFile(creating);
  if (error && !tolvan::platform::PathEntryExists(path)) {
    throw std::system_error(error, "não foi possível dar ao banco padrão o nome " + path);
  }
  if (!error) {
    // The creation's notes name the database by the name it was made under.
    WriteLog("O banco padrão " + path + " foi criado (como " + creating + ").", -1, "tolvan");
  }
  return path;
}

}  // namespace tolvan::cli
