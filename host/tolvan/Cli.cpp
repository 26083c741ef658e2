#include "Cli.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Console.h"
#include "ConsoleFrame.h"
#include "ConsoleSinks.h"
#include "DefaultDatabase.h"
#include "Plugin.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {
namespace {

struct Options {
  std::string plugin;
  std::string export_name;
  bool help = false;

  // The connection.
  std::optional<std::string> database;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::string client_library;
  std::string expected_client_version;
  std::string driver;
  std::string odbc;

  // The exports' own arguments.
  std::string sql;
  std::string user_name;
  std::string user_password;
  std::string group_name;
  std::string first_name;
  std::string middle_name;
  std::string last_name;
  std::string target;
  std::string new_user;
  std::string new_password;
  bool inactive_indexes = false;
  std::string server;
  int32_t port = 0;
  std::string file;
  bool service = false;
  bool circular = false;
  bool quiet = false;
  bool metadata_only = false;
  std::optional<std::string> restore_password;
  bool no_frame = false;
  bool progress = false;
  bool yes = false;
};

void AddOptions(CLI::App& app, Options& o) {
  app.add_option("plugin", o.plugin,
                 "firebird, postgresql, oracle, mssql, a path to a plug-in library, or tour");
  app.add_option("export", o.export_name, "the export to call (Versao, PegarUsuarios, ...)");
  app.add_flag("-h,--help", o.help, "this help; with a plug-in: the exports it offers");

  app.add_option("--database", o.database, "database key: path, host:path or host/port:path")
      ->group("Connection");
  app.add_option("--user", o.user, "user name")->group("Connection");
  app.add_option("--password", o.password,
                 "password (better: TOLVAN_PASSWORD, or the prompt on a terminal)")
      ->group("Connection");
  app.add_option("--client-library", o.client_library, "client library file name")
      ->group("Connection");
  app.add_option("--expected-client-version", o.expected_client_version,
                 "client library version the host expects")
      ->group("Connection");
  app.add_option("--driver", o.driver, "driver of the connection (default: the plug-in's)")
      ->group("Connection");
  app.add_option("--odbc", o.odbc,
                 "ODBC connection string, \"Driver={...};Server=...;...\" (the ODBC driver)")
      ->group("Connection");

  const char* args = "Export arguments";
  app.add_option("--sql", o.sql, "PegarPlan: the query")->group(args);
  app.add_option("--user-name", o.user_name, "AddUser, ModifyUser, DeleteUser: the user")
      ->group(args);
  app.add_option("--user-password", o.user_password, "AddUser, ModifyUser: the user's password")
      ->group(args);
  app.add_option("--group-name", o.group_name, "AddUser, ModifyUser: group or role")->group(args);
  app.add_option("--first-name", o.first_name, "AddUser, ModifyUser")->group(args);
  app.add_option("--middle-name", o.middle_name, "AddUser, ModifyUser")->group(args);
  app.add_option("--last-name", o.last_name, "AddUser, ModifyUser")->group(args);
  app.add_option("--target", o.target, "CriarDataBase*, RestoreConn: the new database")
      ->group(args);
  app.add_option("--new-user", o.new_user, "CriarDataBase*: its owner")->group(args);
  app.add_option("--new-password", o.new_password, "CriarDataBase*: the owner's password")
      ->group(args);
  app.add_flag("--inactive-indexes", o.inactive_indexes,
               "CriarDataBaseVazia, Restore, RestoreConn: restore with indexes inactive")
      ->group(args);
  app.add_option("--server", o.server, "CriarDataBaseFD: the server")->group(args);
  app.add_option("--port", o.port, "CriarDataBaseFD: the server's port")->group(args);
  app.add_option("--file", o.file, "Backup*, Restore*: the backup file")->group(args);
  app.add_flag("--service", o.service, "Backup*, Restore*: through the service manager")
      ->group(args);
  app.add_flag("--circular", o.circular, "Backup*, Restore*: circular progress")->group(args);
  app.add_flag("--quiet", o.quiet, "Backup, Restore: without the tool's verbose output")
      ->group(args);
  app.add_flag("--metadata-only", o.metadata_only, "Backup, BackupConn: structure only")
      ->group(args);
  app.add_option("--restore-password", o.restore_password, "RestoreConn: the password")
      ->group(args);
  app.add_flag("--no-frame", o.no_frame, "call without a progress frame")->group(args);
  app.add_flag("--progress", o.progress, "one live status line on a terminal")->group(args);
  app.add_flag("--yes", o.yes, "show dialogs and go on without waiting")->group(args);
}

// A failure whose message was copied out of the plug-in's exception, so that the exception object
// is gone before the library is unloaded (its type may live in the library).
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <typename F>
void CallKeepingMessage(F&& f) {
  try {
    f();
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    throw Failure(e.what());
  } catch (...) {
    throw Failure("unknown failure");
  }
}

// The exports that take no connection module.
bool TakesModule(const std::string& name) {
  return name != "CriarDataBaseFD" && name != "Backup" && name != "Restore";
}

// The exports that run gbak behind the tool-version guard.
bool RunsGbak(const std::string& name) {
  return name == "Backup" || name == "BackupConn" || name == "Restore" || name == "RestoreConn";
}

// The client library an operator keeps beside the program, as the driver loads it.
constexpr const char* kFirebirdClientLibrary = "libfbclient.so.2";

bool NeedsDatabase(const std::string& name) {
  return TakesModule(name) || name == "Backup" || name == "Restore";
}

class Host {
 public:
  Host(const Options& o, const PluginRef& plugin, std::ostream& out, std::ostream& err)
      : o_(o), plugin_(plugin), out_(out), err_(err) {}

  void Load() { library_ = tolvan::platform::DynamicLibrary::Load(plugin_.path); }

  const tolvan::platform::DynamicLibrary& library() const { return *library_; }

  // Fills the connection's settings from the options: the default database for Firebird when
  // none is given, the password from the option, the environment or the terminal.
  void Settle(const std::string& export_name) {
    driver_ = !o_.driver.empty() ? o_.driver : DriverNameFor(plugin_.kind);
    client_library_ = o_.client_library;
    if (client_library_.empty() && plugin_.kind == PluginKind::Firebird && RunsGbak(export_name)) {
      // The gbak guard compares the client library beside the program with gbak: name it.
      client_library_ = kFirebirdClientLibrary;
    }
    if (plugin_.kind == PluginKind::Firebird || driver_ == DriverNameFor(PluginKind::Firebird)) {
      EnsureFirebirdLockFolder();
    }
    if (!NeedsDatabase(export_name)) {
      return;
    }
    if (o_.database || !o_.odbc.empty()) {
      database_ = o_.database.value_or("");
      user_ = o_.user.value_or("");
      password_ = ResolvePassword();
    } else if (plugin_.kind == PluginKind::Firebird) {
      database_ = EnsureDefaultDatabase(o_.client_library);
      user_ = o_.user.value_or("SYSDBA");
      password_ = o_.password.value_or("");
    } else {
      throw UsageError(export_name + " needs --database for this plug-in");
    }
    if (TakesModule(export_name) && driver_.empty()) {
      throw UsageError("give --driver: the plug-in's kind is not known from its file name");
    }
  }

  // The module on an open connection, so that a wrong key or password shows here, not as an
  // empty answer of an export that swallows its failures.
  TVeskDMConexao& Module() {
    if (!connection_) {
      connection_ = std::make_unique<TVeskSQLConnection>();
      connection_->DriverName = driver_;
      connection_->Params = {"Database=" + database_, "USER_NAME=" + user_,
                             "PASSWORD=" + password_};
      if (!o_.odbc.empty()) {
        connection_->Params.push_back("ConnectionString=" + o_.odbc);
      }
      connection_->ClientLibrary = client_library_;
      dm_.SQLConnection = connection_.get();
      dm_.ExpectedClientVersion = o_.expected_client_version;
      vesk::SetDefaultConnection(connection_.get());
      connection_->Open();
    }
    return dm_;
  }

  ~Host() {
    vesk::SetDefaultConnection(nullptr);
    connection_.reset();
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  template <typename F>
  F Export(const std::string& name) const {
    return library_->Function<F>(name);
  }

  void Call(const std::string& name);

 private:
  std::string ResolvePassword() const {
    if (o_.password) {
      return *o_.password;
    }
    if (auto env = tolvan::platform::GetEnv("TOLVAN_PASSWORD")) {
      return *env;
    }
    // A connection string carries its own password when it needs one.
    if (StdinIsTerminal() && o_.odbc.empty()) {
      return ReadSecret("Password for " + (user_.empty() ? std::string("the user") : user_) +
                        " on " + database_ + ": ");
    }
    return "";
  }

  void PrintList(const std::vector<std::string>& list) {
    for (const std::string& line : list) {
      out_ << line << "\n";
    }
  }

  // The frame, or none with --no-frame.
  TVeskFraProgresso* Frame() {
    if (o_.no_frame) {
      return nullptr;
    }
    if (!frame_) {
      frame_ = std::make_unique<ConsoleFrame>(err_, o_.progress && StderrIsTerminal());
    }
    return frame_.get();
  }

  const Options& o_;
  PluginRef plugin_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> library_;
  std::string driver_;
  std::string client_library_;
  std::string database_;
  std::string user_;
  std::string password_;
  std::unique_ptr<ConsoleFrame> frame_;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
};

void Host::Call(const std::string& name) {
  if (name == "Versao") {
    out_ << Export<tolvan::VersaoFn>(name)(&Module()) << "\n";
  } else if (name == "PegarUsuarios" || name == "PegarUser") {
    std::vector<std::string> list;
    Export<tolvan::PegarUsuariosFn>(name)(&Module(), &list);
    PrintList(list);
  } else if (name == "AddUser" || name == "ModifyUser") {
    Export<tolvan::AddUserFn>(name)(&Module(), o_.user_name, o_.user_password, o_.group_name,
                                    o_.first_name, o_.middle_name, o_.last_name);
  } else if (name == "DeleteUser") {
    Export<tolvan::DeleteUserFn>(name)(&Module(), o_.user_name);
  } else if (name == "PegarDataBases") {
    std::vector<std::string> list;
    int32_t attachments = 0;
    int32_t databases = 0;
    Export<tolvan::PegarDataBasesFn>(name)(&Module(), &list, attachments, databases);
    PrintList(list);
    out_ << "attachments: " << attachments << ", databases: " << databases << "\n";
  } else if (name == "PegarPlan") {
    out_ << Export<tolvan::PegarPlanFn>(name)(&Module(), o_.sql) << "\n";
  } else if (name == "CriarDataBase") {
    Export<tolvan::CriarDataBaseFn>(name)(&Module(), o_.target, o_.new_user, o_.new_password);
  } else if (name == "CriarDataBaseVazia") {
    Export<tolvan::CriarDataBaseVaziaFn>(name)(&Module(), o_.target, o_.new_user, o_.new_password,
                                               o_.inactive_indexes);
  } else if (name == "CriarDataBaseFD") {
    Export<tolvan::CriarDataBaseFDFn>(name)(o_.server, o_.port, o_.target, o_.new_user,
                                            o_.new_password);
  } else if (name == "CriarBackup") {
    Export<tolvan::CriarBackupFn>(name)(Module().SQLConnection);
  } else if (name == "Backup") {
    Export<tolvan::BackupFn>(name)(database_, user_, password_, o_.file, o_.service, Frame(),
                                   o_.circular, o_.quiet, o_.expected_client_version,
                                   client_library_, o_.metadata_only);
  } else if (name == "BackupConn") {
    Export<tolvan::BackupConnFn>(name)(&Module(), o_.file, o_.service, Frame(), o_.circular,
                                       o_.metadata_only);
  } else if (name == "Restore") {
    Export<tolvan::RestoreFn>(name)(database_, user_, password_, o_.file, o_.service, Frame(),
                                    o_.circular, o_.quiet, o_.expected_client_version,
                                    client_library_, o_.inactive_indexes);
  } else if (name == "RestoreConn") {
    // Without --restore-password the restore runs with the connection's own password.
    Export<tolvan::RestoreConnFn>(name)(
        &Module(), o_.restore_password ? *o_.restore_password : password_, o_.file, o_.target,
        o_.service, Frame(), o_.circular, o_.inactive_indexes);
  }
  if (frame_) {
    frame_->Finish();
  }
}

// Server errors come as several lines (the status vector's texts); the operator gets them as one.
std::string OneLine(const std::string& message) {
  std::string line;
  std::size_t start = 0;
  while (start <= message.size()) {
    std::size_t end = message.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      end = message.size();
    }
    std::string piece = message.substr(start, end - start);
    const auto first = piece.find_first_not_of(" \t");
    if (first != std::string::npos) {
      piece = piece.substr(first, piece.find_last_not_of(" \t") - first + 1);
      if (!line.empty()) {
        line += (line.back() == ':' || line.back() == '.') ? " " : ": ";
      }
      line += piece;
    }
    start = end + 1;
  }
  return line;
}

std::string Usage() {
  return "usage: tolvan <plugin> <Export> [options]\n"
         "       tolvan <plugin> --help   (the exports the plug-in offers)\n"
         "       tolvan tour              (Versao and PegarUsuarios on the embedded default "
         "database, created first with CriarDataBase when missing)\n";
}

void PrintHelp(CLI::App& app, const Options& o, std::ostream& out) {
  out << Usage() << "\n" << app.help("", CLI::AppFormatMode::Sub);
  if (!o.plugin.empty() && o.plugin != "tour") {
    const PluginRef ref = ResolvePlugin(o.plugin, tolvan::platform::ExecutableDirectory());
    auto library = tolvan::platform::DynamicLibrary::Load(ref.path);
    out << "\nExports offered by " << ref.path << ":\n";
    for (const std::string& name : OfferedExports(*library)) {
      out << "  " << name << "\n";
    }
  }
  out << "\nWithout --database the Firebird plug-in works on the embedded database ";
  try {
    out << DefaultDatabasePath() << " (created on first use).\n";
  } catch (const std::exception& e) {
    out << "of the user's data folder, which is not known here: " << e.what() << "\n";
  }
}

int RunTour(const Options& o, std::ostream& out, std::ostream& err) {
  const PluginRef ref = ResolvePlugin("firebird", tolvan::platform::ExecutableDirectory());
  Options tour = o;
  tour.database.reset();
  tour.plugin = "firebird";
  Host host(tour, ref, out, err);
  host.Load();
  // The embedded default database is created by the plug-in itself when it does not exist yet;
  // only a failure of it is shown (through the message sink).
  EnsureFirebirdLockFolder();
  const std::string path = DefaultDatabasePath();
  if (!std::filesystem::exists(path)) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    CallKeepingMessage([&] {
      TVeskSQLConnection credentials;
      credentials.Params = {"USER_NAME=" + o.user.value_or("SYSDBA"),
                            "PASSWORD=" + o.password.value_or("")};
      TVeskDMConexao dm;
      dm.SQLConnection = &credentials;
      host.Export<tolvan::CriarDataBaseFn>("CriarDataBase")(&dm, path, "", "");
    });
  }
  for (const char* name : {"Versao", "PegarUsuarios"}) {
    out << "== " << name << " ==\n";
    CallKeepingMessage([&] {
      host.Settle(name);
      host.Call(name);
    });
  }
  return kExitOk;
}

int RunExport(const Options& o, std::ostream& out, std::ostream& err) {
  const PluginRef ref = ResolvePlugin(o.plugin, tolvan::platform::ExecutableDirectory());
  if (o.export_name.empty()) {
    throw UsageError("name the export to call (tolvan " + o.plugin + " --help lists them)");
  }
  if (!IsFamilyName(o.export_name)) {
    throw UsageError("unknown export \"" + o.export_name + "\" (tolvan " + o.plugin +
                     " --help lists the exports)");
  }
  Host host(o, ref, out, err);
  host.Load();
  if (host.library().Symbol(o.export_name) == nullptr) {
    throw UsageError(ref.path + " does not offer " + o.export_name);
  }
  CallKeepingMessage([&] {
    host.Settle(o.export_name);
    host.Call(o.export_name);
  });
  return kExitOk;
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Options o;
  CLI::App app{"Calls an export of a Tolvan plug-in.", "tolvan"};
  app.set_help_flag();
  AddOptions(app, o);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    err << "tolvan: " << e.what() << "\n" << Usage();
    return kExitUsage;
  }

  try {
    if (o.help) {
      PrintHelp(app, o, out);
      return kExitOk;
    }
    if (o.plugin.empty()) {
      throw UsageError("name a plug-in");
    }
    ScopedConsoleSinks sinks(o.yes);
    if (o.plugin == "tour" && o.export_name.empty()) {
      return RunTour(o, out, err);
    }
    return RunExport(o, out, err);
  } catch (const UsageError& e) {
    out.flush();
    err << "tolvan: " << e.what() << "\n" << Usage();
    return kExitUsage;
  } catch (const std::exception& e) {
    out.flush();
    err << OneLine(e.what()) << "\n";
    return kExitFailure;
  } catch (...) {
    out.flush();
    err << "tolvan: unknown failure\n";
    return kExitFailure;
  }
}

}  // namespace tolvan::cli
