#include "Host.h"

#include <algorithm>
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
#include "DefaultDatabase.h"
#include "PostgresProgress.h"
#include "Report.h"
#include "StatusText.h"
#include "platform/ConnectLimit.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "platform/Utf8Path.h"
#include "tolvan/Exports.h"
#include "vesk/host/DefaultConnection.h"

namespace tolvan::cli {
namespace {

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

bool NeedsDatabase(const std::string& name) {
  return TakesModule(name) || name == "Backup" || name == "Restore";
}

// The size of a local regular file, nothing for anything else (a file on a server, a device).
std::optional<std::uint64_t> LocalFileSize(const std::string& path) {
  if (path.empty() || !tolvan::platform::IsPlainFile(path)) {
    return std::nullopt;
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(tolvan::platform::Utf8Path(path), error);
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
  const fs::path final_name = tolvan::platform::Utf8Path(final_path);
  const std::string prefix = tolvan::platform::Utf8Text(final_name.filename()) + ".~";
  std::error_code error;
  std::optional<std::uint64_t> largest;
  for (fs::directory_iterator
           it(final_name.parent_path().empty() ? fs::path(".") : final_name.parent_path(), error),
       end;
       !error && it != end; it.increment(error)) {
    const std::string name = tolvan::platform::Utf8Text(it->path().filename());
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

}  // namespace

Host::~Host() {
  vesk::SetDefaultConnection(nullptr);
  connection_.reset();
}

void Host::SetUpDatabaseAndLogin(const std::string& export_name) {
  driver_ = !o_.driver.empty() ? o_.driver : DriverNameFor(plugin_.kind);
  client_library_ = o_.client_library;
  if (client_library_.empty() && plugin_.kind == PluginKind::Firebird && RunsGbak(export_name)) {
    // The gbak guard compares the client library beside the program with gbak: name it as the
    // driver loads it (fbclient.dll on Windows).
    client_library_ = tolvan::platform::SharedLibraryFileName("fbclient", "2");
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
    password_ = PasswordGivenOrAsked();
  } else if (plugin_.kind == PluginKind::Firebird) {
    user_ = o_.user.value_or("SYSDBA");
    password_ = o_.password.value_or("");
    database_ = CreateDefaultDatabaseWhenMissing(library(), user_, password_);
  } else {
    throw UsageError(export_name + " precisa da opção --database neste plug-in");
  }
  if (TakesModule(export_name) && driver_.empty()) {
    throw UsageError("dê --driver: o tipo do plug-in não se sabe pelo nome do arquivo");
  }
}

std::unique_ptr<TVeskSQLConnection> Host::NewConnection() const {
  auto connection = std::make_unique<TVeskSQLConnection>();
  connection->DriverName = driver_;
  connection->Params = {"Database=" + database_, "USER_NAME=" + user_, "PASSWORD=" + password_};
  if (!o_.odbc.empty()) {
    connection->Params.push_back("ConnectionString=" + o_.odbc);
  }
  if (o_.connect_timeout) {
    connection->Params.push_back(std::string(tolvan::platform::kConnectTimeoutParameter) + "=" +
                                 std::to_string(*o_.connect_timeout));
  }
  connection->ClientLibrary = client_library_;
  return connection;
}

TVeskDMConexao& Host::Module() {
  if (!connection_) {
    connection_ = NewConnection();
    dm_.SQLConnection = connection_.get();
    dm_.ExpectedClientVersion = o_.expected_client_version;
    vesk::SetDefaultConnection(connection_.get());
    connection_->Open();
  }
  return dm_;
}

std::unique_ptr<TableRowCounter> Host::CountTableRowsBeside(ConsoleFrame& frame, bool live) {
  if (!live || o_.quiet || plugin_.kind != PluginKind::Firebird ||
      driver_ != DriverNameFor(PluginKind::Firebird) || !o_.table_rows.empty() ||
      o_.metadata_only) {
    return nullptr;
  }
  if (LocalPathOf(database_) == database_) {
    // gbak's embedded engine will hold the file alone: the rows are estimated now, from the
    // file's own pages, and the connection closed before gbak starts.
    std::optional<TableRows> rows;
    try {
      const auto connection = NewConnection();
      connection->Open();
      rows = EstimateLocalTableRows(*connection, database_);
      connection->Close();
    } catch (const std::exception&) {
      // No estimate: the percentage counts tables, as the frame does without rows.
      if (tolvan::platform::InterruptSignal() != 0) {
        throw;
      }
    }
    frame.TakeTableRows(std::move(rows));
    return nullptr;
  }
  if (o_.export_name == "BackupConn") {
    // The run's own connection first: a server that does not answer fails the run there, once,
    // rather than after a wait for this one too.
    Module();
  }
  auto counter = TableRowCounter::Start(
      [this] { return NewConnection(); },
      [&frame](std::optional<TableRows> rows) { frame.TakeTableRows(std::move(rows)); });
  if (counter) {
    frame.AwaitTableRows();
  }
  return counter;
}

std::string Host::PasswordGivenOrAsked() const {
  if (o_.password) {
    return *o_.password;
  }
  if (auto env = tolvan::platform::GetEnv("TOLVAN_PASSWORD")) {
    return *env;
  }
  // A connection string carries its own password when it needs one; the embedded engine (a
  // Firebird path without a server) takes none.
  const bool embedded = plugin_.kind == PluginKind::Firebird && LocalPathOf(database_) == database_;
  if (StdinIsTerminal() && o_.odbc.empty() && !embedded) {
    return ReadSecret("Senha de " + (user_.empty() ? std::string("o usuário") : user_) + " em " +
                      database_ + ": ");
  }
  return "";
}

std::size_t Host::PrintList(const std::vector<std::string>& list) {
  for (const std::string& line : list) {
    out_ << line << "\n";
    empty_lines_listed_ += line.empty() ? 1 : 0;
  }
  return list.size();
}

ConsoleFrame::Settings Host::FrameSettings(const std::string& name) const {
  ConsoleFrame::Settings settings;
  settings.live = o_.progress && StderrIsTerminal();
  settings.columns = TerminalColumns;
  settings.hold = o_.quiet;
  if (plugin_.kind == PluginKind::Firebird && TakesFrame(name)) {
    settings.gbak = IsBackup(name) ? GbakProgress::Kind::Backup : GbakProgress::Kind::Restore;
    if (IsBackup(name)) {
      settings.table_rows = o_.table_rows;
    }
  }
  if (IsBackup(name)) {
    settings.file_size = [file = o_.file, existed = tolvan::platform::PathEntryExists(o_.file)] {
      return GrowingFileSize(file, existed);
    };
  }
  return settings;
}

// The frame, or none with --no-frame.
TVeskFraProgresso* Host::Frame(const std::string& name) {
  if (o_.no_frame) {
    return nullptr;
  }
  if (!frame_) {
    frame_ = std::make_unique<ConsoleFrame>(err_, FrameSettings(name));
  }
  return frame_.get();
}

// A status line of its own for a run that takes no frame, shown with --progress on a terminal.
void Host::BeginStatus(std::function<std::optional<std::uint64_t>()> file_size,
                       std::function<ProgressState()> progress) {
  if (!o_.progress || !StderrIsTerminal()) {
    return;
  }
  ConsoleFrame::Settings settings;
  settings.live = true;
  settings.file_size = std::move(file_size);
  settings.progress = std::move(progress);
  settings.columns = TerminalColumns;
  frame_ = std::make_unique<ConsoleFrame>(err_, std::move(settings));
  frame_->Begin();
}

// Where the PostgreSQL plug-in writes a database's dump: temp/<database>.dump beside the program.
std::string Host::DumpPath() const {
  const auto colon = database_.find(':');
  const std::string name = colon == std::string::npos ? database_ : database_.substr(colon + 1);
  return tolvan::platform::ExecutableDirectory() + "temp" + tolvan::platform::kPathDelimiter +
         name + ".dump";
}

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
    // The server's COPY progress, read beside pg_dump while the status line shows; it is gone
    // (its connection closed) before the result, on every way out.
    auto copying = std::make_shared<CopyProgressPoller>();
    BeginStatus([dump, existed = tolvan::platform::PathEntryExists(
                           dump)] { return GrowingFileSize(dump, existed); },
                ProgressReader(copying));
    if (frame_) {
      copying->StartForDump(*connection);
    }
    Export<tolvan::CriarBackupFn>(name)(connection);
    // The status goes first: on a terminal stdout shares its line.
    FinishFrame(true);
    copying.reset();
    // The dump's path is the export's result: a script finds the file there.
    out_ << dump << "\n";
    return WithSize("Backup concluído: " + dump, dump);
  }
  if (IsBackup(name)) {
    TVeskFraProgresso* frame = Frame(name);
    const auto counting =
        frame_ ? CountTableRowsBeside(*frame_, FrameSettings(name).live) : nullptr;
    if (name == "Backup") {
      Export<tolvan::BackupFn>(name)(database_, user_, password_, o_.file, o_.service, frame,
                                     o_.circular, o_.quiet, o_.expected_client_version,
                                     client_library_, o_.metadata_only);
    } else {
      Export<tolvan::BackupConnFn>(name)(&Module(), o_.file, o_.service, frame, o_.circular,
                                         o_.metadata_only);
    }
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

}  // namespace tolvan::cli
