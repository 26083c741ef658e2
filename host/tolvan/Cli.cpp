#include "Cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Console.h"
#include "ConsoleFrame.h"
#include "ConsoleSinks.h"
#include "DefaultDatabase.h"
#include "ExportTable.h"
#include "Help.h"
#include "Plugin.h"
#include "Report.h"
#include "StatusText.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
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
  bool quiet_result = false;
};

void AddOptions(CLI::App& app, Options& o) {
  app.add_option("plugin", o.plugin);
  app.add_option("export", o.export_name);
  app.add_flag("-h,--help", o.help);

  app.add_option("--database", o.database);
  app.add_option("--user", o.user);
  app.add_option("--password", o.password);
  app.add_option("--client-library", o.client_library);
  app.add_option("--expected-client-version", o.expected_client_version);
  app.add_option("--driver", o.driver);
  app.add_option("--odbc", o.odbc);

  app.add_option("--sql", o.sql);
  app.add_option("--user-name", o.user_name);
  app.add_option("--user-password", o.user_password);
  app.add_option("--group-name", o.group_name);
  app.add_option("--first-name", o.first_name);
  app.add_option("--middle-name", o.middle_name);
  app.add_option("--last-name", o.last_name);
  app.add_option("--target", o.target);
  app.add_option("--new-user", o.new_user);
  app.add_option("--new-password", o.new_password);
  app.add_flag("--inactive-indexes", o.inactive_indexes);
  app.add_option("--server", o.server);
  app.add_option("--port", o.port);
  app.add_option("--file", o.file);
  app.add_flag("--service", o.service);
  app.add_flag("--circular", o.circular);
  app.add_flag("--quiet", o.quiet);
  app.add_flag("--metadata-only", o.metadata_only);
  app.add_option("--restore-password", o.restore_password);
  app.add_flag("--no-frame", o.no_frame);
  app.add_flag("--progress", o.progress);
  app.add_flag("--yes", o.yes);
  app.add_flag("--quiet-result", o.quiet_result);
}

// The long names of the options given on the command line, --help left out.
std::vector<std::string> GivenOptions(const CLI::App& app) {
  std::vector<std::string> given;
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0 || option->get_lnames().empty()) {
      continue;
    }
    const std::string name = "--" + option->get_lnames().front();
    if (name != "--help") {
      given.push_back(name);
    }
  }
  return given;
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
    throw Failure("falha desconhecida");
  }
}

// The exports that take no connection module.
bool TakesModule(const std::string& name) {
  return name != "CriarDataBaseFD" && name != "Backup" && name != "Restore";
}

bool IsBackup(const std::string& name) {
  return name == "Backup" || name == "BackupConn";
}

bool IsRestore(const std::string& name) {
  return name == "Restore" || name == "RestoreConn";
}

// The exports that take a progress frame.
bool TakesFrame(const std::string& name) {
  return IsBackup(name) || IsRestore(name);
}

// The Firebird exports that run gbak behind the tool-version guard; CriarDataBaseVazia runs
// Backup and Restore with the connection's client library name.
bool RunsGbak(const std::string& name) {
  return TakesFrame(name) || name == "CriarDataBaseVazia";
}

// The client library an operator keeps beside the program, as the driver loads it.
constexpr const char* kFirebirdClientLibrary = "libfbclient.so.2";

bool NeedsDatabase(const std::string& name) {
  return TakesModule(name) || name == "Backup" || name == "Restore";
}

// The Firebird exports that report a failure through the message box and the log, not by
// raising.
bool ReportsFailureBySinks(PluginKind kind, const std::string& name) {
  return kind == PluginKind::Firebird && (name == "CriarDataBase" || name == "CriarDataBaseFD");
}

std::string SignalName(int signal_number) {
  switch (signal_number) {
    case 2:
      return "SIGINT";
    case 15:
      return "SIGTERM";
    default:
      return "sinal " + std::to_string(signal_number);
  }
}

// The size of a local regular file, nothing for anything else (a file on a server, a device).
std::optional<std::uint64_t> LocalFileSize(const std::string& path) {
  if (path.empty() || !tolvan::platform::IsPlainFile(path)) {
    return std::nullopt;
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(std::filesystem::path(path), error);
  if (error) {
    return std::nullopt;
  }
  return size;
}

// The size of the file a run is writing: the largest temporary file beside the final name (the
// runs write under "<name>.~<random>.tmp" and rename it when done), else the final file when the
// run made it (a tool that writes in place).
std::optional<std::uint64_t> GrowingFileSize(const std::string& final_path, bool existed_before) {
  namespace fs = std::filesystem;
  const fs::path final_name = fs::path(final_path);
  const std::string prefix = final_name.filename().string() + ".~";
  std::error_code error;
  std::optional<std::uint64_t> largest;
  for (fs::directory_iterator
           it(final_name.parent_path().empty() ? fs::path(".") : final_name.parent_path(), error),
       end;
       !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0) {
      continue;
    }
    std::error_code size_error;
    const auto size = it->file_size(size_error);
    if (!size_error && (!largest || size > *largest)) {
      largest = size;
    }
  }
  if (!largest && !existed_before) {
    return LocalFileSize(final_path);
  }
  return largest;
}

// A database key's path as this machine sees it: the key itself, or its part after a server name
// of two or more characters.
std::string LocalPathOf(const std::string& key) {
  const auto colon = key.find(':');
  if (colon != std::string::npos && colon >= 2) {
    return key.substr(colon + 1);
  }
  return key;
}

std::string WithSize(const std::string& what, const std::string& path) {
  if (const auto size = LocalFileSize(path)) {
    return what + ", " + FormatSize(*size);
  }
  return what;
}

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
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
      throw UsageError(export_name + " precisa da opção --database neste plug-in");
    }
    if (TakesModule(export_name) && driver_.empty()) {
      throw UsageError("dê --driver: o tipo do plug-in não se sabe pelo nome do arquivo");
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

  // Calls the export and prints its output; returns what was done, for the result line.
  std::string Call(const std::string& name);

  bool ListedAnEmptyLine() const { return listed_empty_line_; }

  // Ends the status line of the run.
  void FinishFrame(bool succeeded) {
    if (frame_) {
      frame_->Finish(succeeded);
    }
  }

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
      return ReadSecret("Senha de " + (user_.empty() ? std::string("o usuário") : user_) + " em " +
                        database_ + ": ");
    }
    return "";
  }

  std::size_t PrintList(const std::vector<std::string>& list) {
    for (const std::string& line : list) {
      out_ << line << "\n";
      listed_empty_line_ = listed_empty_line_ || line.empty();
    }
    return list.size();
  }

  ConsoleFrame::Settings FrameSettings(const std::string& name) const {
    ConsoleFrame::Settings settings;
    settings.live = o_.progress && StderrIsTerminal();
    settings.columns = TerminalColumns;
    if (plugin_.kind == PluginKind::Firebird && TakesFrame(name)) {
      settings.gbak = IsBackup(name) ? GbakProgress::Kind::Backup : GbakProgress::Kind::Restore;
    }
    if (IsBackup(name)) {
      settings.file_size = [file = o_.file, existed = tolvan::platform::PathEntryExists(o_.file)] {
        return GrowingFileSize(file, existed);
      };
    }
    return settings;
  }

  // The frame, or none with --no-frame.
  TVeskFraProgresso* Frame(const std::string& name) {
    if (o_.no_frame) {
      return nullptr;
    }
    if (!frame_) {
      if (FrameSettings(name).live) {
        WatchTerminalResize();
      }
      frame_ = std::make_unique<ConsoleFrame>(err_, FrameSettings(name));
    }
    return frame_.get();
  }

  // A status line of its own for a run that takes no frame, shown with --progress on a terminal.
  void BeginStatus(std::function<std::optional<std::uint64_t>()> file_size) {
    if (!o_.progress || !StderrIsTerminal()) {
      return;
    }
    WatchTerminalResize();
    frame_ = std::make_unique<ConsoleFrame>(
        err_, ConsoleFrame::Settings{true, std::nullopt, std::move(file_size), TerminalColumns});
    frame_->Begin();
  }

  // Where the PostgreSQL plug-in writes a database's dump: temp/<database>.dump beside the
  // program.
  std::string DumpPath() const {
    const auto colon = database_.find(':');
    const std::string name = colon == std::string::npos ? database_ : database_.substr(colon + 1);
    return tolvan::platform::ExecutableDirectory() + "temp" + tolvan::platform::kPathDelimiter +
           name + ".dump";
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
  bool listed_empty_line_ = false;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
};

std::string Host::Call(const std::string& name) {
  if (name == "Versao") {
    out_ << Export<tolvan::VersaoFn>(name)(&Module()) << "\n";
    return "Versão do servidor lida";
  }
  if (name == "PegarUsuarios" || name == "PegarUser") {
    std::vector<std::string> list;
    Export<tolvan::PegarUsuariosFn>(name)(&Module(), &list);
    const std::size_t count = PrintList(list);
    return name == "PegarUsuarios" ? Plural(count, "sessão listada", "sessões listadas")
                                   : Plural(count, "usuário listado", "usuários listados");
  }
  if (name == "AddUser" || name == "ModifyUser") {
    Export<tolvan::AddUserFn>(name)(&Module(), o_.user_name, o_.user_password, o_.group_name,
                                    o_.first_name, o_.middle_name, o_.last_name);
    return (name == "AddUser" ? "Usuário incluído: " : "Usuário alterado: ") + o_.user_name;
  }
  if (name == "DeleteUser") {
    Export<tolvan::DeleteUserFn>(name)(&Module(), o_.user_name);
    return "Usuário excluído: " + o_.user_name;
  }
  if (name == "PegarDataBases") {
    std::vector<std::string> list;
    int32_t attachments = 0;
    int32_t databases = 0;
    Export<tolvan::PegarDataBasesFn>(name)(&Module(), &list, attachments, databases);
    PrintList(list);
    out_ << "conexões: " << attachments << ", bancos de dados: " << databases << "\n";
    return Plural(static_cast<std::size_t>(std::max(databases, 0)), "banco de dados listado",
                  "bancos de dados listados");
  }
  if (name == "PegarPlan") {
    out_ << Export<tolvan::PegarPlanFn>(name)(&Module(), o_.sql) << "\n";
    return "Plano da consulta lido";
  }
  if (name == "CriarDataBase") {
    Export<tolvan::CriarDataBaseFn>(name)(&Module(), o_.target, o_.new_user, o_.new_password);
    return "Banco de dados criado: " + o_.target;
  }
  if (name == "CriarDataBaseVazia") {
    if (plugin_.kind == PluginKind::PostgreSQL) {
      BeginStatus([] {
        return LocalFileSize(tolvan::platform::ExecutableDirectory() + "temp" +
                             tolvan::platform::kPathDelimiter + "BkpTemp.tar");
      });
    } else {
      BeginStatus({});
    }
    Export<tolvan::CriarDataBaseVaziaFn>(name)(&Module(), o_.target, o_.new_user, o_.new_password,
                                               o_.inactive_indexes);
    return "Banco de dados criado com a estrutura de " + database_ + ", sem os dados: " + o_.target;
  }
  if (name == "CriarDataBaseFD") {
    Export<tolvan::CriarDataBaseFDFn>(name)(o_.server, o_.port, o_.target, o_.new_user,
                                            o_.new_password);
    return "Banco de dados criado: " + o_.server + "/" + std::to_string(o_.port) + ":" + o_.target;
  }
  if (name == "CriarBackup") {
    TVeskSQLConnection* connection = Module().SQLConnection;
    const std::string dump = DumpPath();
    BeginStatus([dump, existed = tolvan::platform::PathEntryExists(dump)] {
      return GrowingFileSize(dump, existed);
    });
    Export<tolvan::CriarBackupFn>(name)(connection);
    // The status goes first: on a terminal stdout shares its line.
    FinishFrame(true);
    // The dump's path is the export's result: a script finds the file there.
    out_ << dump << "\n";
    return WithSize("Backup concluído: " + dump, dump);
  }
  if (name == "Backup") {
    Export<tolvan::BackupFn>(name)(database_, user_, password_, o_.file, o_.service, Frame(name),
                                   o_.circular, o_.quiet, o_.expected_client_version,
                                   client_library_, o_.metadata_only);
  } else if (name == "BackupConn") {
    Export<tolvan::BackupConnFn>(name)(&Module(), o_.file, o_.service, Frame(name), o_.circular,
                                       o_.metadata_only);
  } else if (name == "Restore") {
    Export<tolvan::RestoreFn>(name)(database_, user_, password_, o_.file, o_.service, Frame(name),
                                    o_.circular, o_.quiet, o_.expected_client_version,
                                    client_library_, o_.inactive_indexes);
  } else if (name == "RestoreConn") {
    // Without --restore-password the restore runs with the connection's own password.
    Export<tolvan::RestoreConnFn>(name)(
        &Module(), o_.restore_password ? *o_.restore_password : password_, o_.file, o_.target,
        o_.service, Frame(name), o_.circular, o_.inactive_indexes);
  }
  FinishFrame(true);
  if (IsBackup(name)) {
    const std::string what = "Backup concluído: " + o_.file;
    return LocalFileSize(o_.file) ? WithSize(what, o_.file) : what + " (no servidor)";
  }
  const std::string target = name == "Restore" ? database_ : o_.target;
  const std::string local = LocalPathOf(target);
  return LocalFileSize(local) ? WithSize("Restauração concluída: " + target, local)
                              : "Restauração concluída: " + target;
}

// What the tour says under an empty line of PegarUsuarios: the embedded engine gives its own
// session no address, and the server's query then makes the whole line empty.
constexpr const char* kTourEmptySessionNote =
    "(Cada linha é \"usuário em endereço no programa\". Uma linha vazia é uma sessão deste "
    "processo no banco embutido: ela roda aqui dentro e não tem endereço de rede, e sem "
    "endereço o servidor devolve a linha inteira vazia.)\n";

int Interrupted(const std::string& what, std::chrono::steady_clock::time_point start,
                std::ostream& err) {
  const int signal_number = tolvan::platform::InterruptSignal();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  err << what << " interrompido (" << SignalName(signal_number) << ") depois de "
      << FormatDuration(elapsed) << ".\n";
  return 128 + signal_number;
}

int RunTour(const Options& o, std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  if (tolvan::platform::InterruptSignal() != 0) {
    return Interrupted("tour", start, err);
  }
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
    if (tolvan::platform::InterruptSignal() != 0) {
      return Interrupted("tour", start, err);
    }
    out << "== " << name << " ==\n";
    try {
      CallKeepingMessage([&] {
        host.Settle(name);
        host.Call(name);
      });
    } catch (const Failure& e) {
      out.flush();
      if (tolvan::platform::InterruptSignal() != 0) {
        return Interrupted("tour", start, err);
      }
      err << ErrorBlock(e.what());
      if (!o.quiet_result) {
        err << "tour falhou em " << FormatDuration(std::chrono::steady_clock::now() - start)
            << "\n";
      }
      return kExitFailure;
    }
    if (std::string(name) == "PegarUsuarios" && host.ListedAnEmptyLine()) {
      out << kTourEmptySessionNote;
    }
  }
  if (tolvan::platform::InterruptSignal() != 0) {
    return Interrupted("tour", start, err);
  }
  if (!o.quiet_result) {
    err << "tour concluído em " << FormatDuration(std::chrono::steady_clock::now() - start) << "\n";
  }
  return kExitOk;
}

int RunExport(const Options& o, const std::vector<std::string>& given, std::ostream& out,
              std::ostream& err, const ScopedConsoleSinks& sinks) {
  const PluginRef ref = ResolvePlugin(o.plugin, tolvan::platform::ExecutableDirectory());
  if (o.export_name.empty()) {
    throw UsageError("diga a exportação a chamar (tolvan " + o.plugin + " --help lista as que há)");
  }
  if (!IsFamilyName(o.export_name)) {
    const auto nearest = NearestExport(o.export_name);
    throw UsageError("exportação desconhecida \"" + o.export_name + "\"" +
                     (nearest ? "; você quis dizer \"" + *nearest + "\"?" : std::string()) +
                     " (tolvan " + o.plugin + " --help lista as exportações)");
  }
  CheckOptions(ref.kind, o.export_name, given);
  Host host(o, ref, out, err);
  host.Load();
  if (host.library().Symbol(o.export_name) == nullptr) {
    throw UsageError(ref.path + " não oferece " + o.export_name);
  }
  const auto start = std::chrono::steady_clock::now();
  if (tolvan::platform::InterruptSignal() != 0) {
    return Interrupted(o.export_name, start, err);
  }
  const auto elapsed = [&start] {
    return FormatDuration(std::chrono::steady_clock::now() - start);
  };
  const std::size_t boxes = sinks.MessageBoxes();
  std::string done;
  try {
    CallKeepingMessage([&] {
      host.Settle(o.export_name);
      done = host.Call(o.export_name);
    });
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    host.FinishFrame(false);
    out.flush();
    if (tolvan::platform::InterruptSignal() != 0) {
      return Interrupted(o.export_name, start, err);
    }
    err << ErrorBlock(e.what());
    if (!o.quiet_result) {
      err << o.export_name << " falhou em " << elapsed() << "\n";
    }
    return kExitFailure;
  }
  host.FinishFrame(true);
  out.flush();
  if (tolvan::platform::InterruptSignal() != 0) {
    // The export ended before it saw the request: its work is whole, but the operator asked to
    // stop, and a script must learn of it.
    if (!o.quiet_result) {
      err << done << " em " << elapsed() << "\n";
    }
    return Interrupted(o.export_name, start, err);
  }
  // A failure is shown in a message box and logged; the log alone may carry a note of a creation
  // that succeeded (a declarations script that declares nothing).
  if (ReportsFailureBySinks(ref.kind, o.export_name) && sinks.MessageBoxes() != boxes) {
    err << "erro:\n  " << o.export_name
        << " informou a falha acima na caixa de mensagem e no log\n";
    if (!o.quiet_result) {
      err << o.export_name << " falhou em " << elapsed() << "\n";
    }
    return kExitFailure;
  }
  if (!o.quiet_result) {
    err << done << " em " << elapsed() << "\n";
  }
  return kExitOk;
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Options o;
  CLI::App app{"tolvan", "tolvan"};
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
      PrintHelp(o.plugin, out);
      return kExitOk;
    }
    if (o.plugin.empty()) {
      throw UsageError("diga o plug-in");
    }
    ScopedConsoleSinks sinks(o.yes);
    if (o.plugin == "tour" && o.export_name.empty()) {
      return RunTour(o, out, err);
    }
    return RunExport(o, GivenOptions(app), out, err, sinks);
  } catch (const UsageError& e) {
    out.flush();
    err << "tolvan: " << e.what() << "\n" << Usage();
    return kExitUsage;
  } catch (const std::exception& e) {
    out.flush();
    if (tolvan::platform::InterruptSignal() != 0) {
      return Interrupted("tolvan", std::chrono::steady_clock::now(), err);
    }
    err << ErrorBlock(e.what());
    return kExitFailure;
  } catch (...) {
    out.flush();
    err << "tolvan: falha desconhecida\n";
    return kExitFailure;
  }
}

}  // namespace tolvan::cli
