// Backup and restore through gbak: the command lines, the runs with and without the host's frame,
// and the exports that run against the host's own connection.
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "TolvanFirebirdUtil.h"
#include "platform/ConnectLimit.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/FirebirdUser.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/ProductFile.h"
#include "tolvan/support/Quoting.h"
#include "tolvan/support/Text.h"
#include "tolvan/support/ToolRunner.h"

namespace tolvan::firebird {
namespace {

// gbak's own name for a backup written to its standard output; no file stands behind it (nor
// behind an empty name, which gbak refuses).
constexpr const char* kStandardOutput = "stdout";
// gbak takes the password from here when the command line carries none.
constexpr const char* kPasswordVariable = "ISC_PASSWORD";
// gbak's exit code for a restore that finished with one or more indexes left inactive.
constexpr int32_t kRestoreNotOnline = 2;

// gbak's environment: the password, and a UTF-8 locale, since gbak reads the paths and the user
// name of its command line in the character set of its locale, and they are UTF-8 (without one it
// refuses any accented letter: "Cannot transliterate character between character sets").
std::vector<std::pair<std::string, std::string>> GbakEnvironment(const std::string& password) {
  std::vector<std::pair<std::string, std::string>> environment{{kPasswordVariable, password}};
  if (auto variable = tolvan::platform::Utf8LocaleForChildren()) {
    environment.push_back(*variable);
  }
  return environment;
}

enum class Kind { Backup, Restore };

const char* Heading(Kind kind) {
  return kind == Kind::Backup ? "Backup:\r\n" : "Restore:\r\n";
}

// How a run ended: its exit code and the failure text of its kind (empty for a success).
struct RunOutcome {
  int32_t code = 0;
  std::string failure;
  std::string output;  // run without a frame: what gbak wrote
};

// Runs gbak with or without the frame; the frame is reset before this returns. A wait that failed
// (ToolWaitFailed) goes through to the caller.
RunOutcome RunGbak(Kind kind, const std::string& command_line, const std::string& password,
                   TVeskFraProgresso* frame, bool circular) {
  const std::string heading = Heading(kind);
  const support::ToolOutcome run =
      support::RunTool({command_line, GbakEnvironment(password)}, frame, circular);
  RunOutcome outcome;
  outcome.code = run.code;
  if (frame != nullptr) {
    if (outcome.code != 0) {
      outcome.failure = kind == Kind::Backup
                            ? heading + "Error cod: " + std::to_string(outcome.code) + "\r\n" +
                                  (run.output.empty() ? "gbak.exe não Encontrado." : run.output)
                            : heading + run.output;
    }
    return outcome;
  }
  outcome.output = run.output;
  if (outcome.code != 0) {
    // A tool that died or could not start says nothing: that is a failure too, never a success.
    outcome.failure =
        heading +
        (support::IsBlank(run.output) ? "Error cod: " + std::to_string(outcome.code) : run.output);
  }
  return outcome;
}

// A path argument that holds a double quote would end its quotes early and let the rest of it be
// read as further arguments; no file name of Windows holds one.
void RefuseDoubleQuote(Kind kind, const char* what, const std::string& path) {
  support::RefuseDoubleQuote(path, std::string(Heading(kind)) + "O caminho " + what +
                                       " contém aspas duplas (\"), que não podem fazer parte de "
                                       "um nome de arquivo: " +
                                       path);
}

std::string WaitFailedText(Kind kind, const support::ToolWaitFailed& error) {
  return std::string(Heading(kind)) +
         "O gbak foi executado, mas não foi possível saber como ele terminou (" +
         error.code().message() + ").\r\n";
}

using support::Utf8Path;

// The path of a database key as its server sees it: the text after the host, when it has one.
std::string PathOnServer(const std::string& key) {
  return support::SplitDatabaseKey(key).PathOnServer();
}

// A path's text as two spellings of it compare: "\" read as "/", "." and ".." taken out, and, for
// a path of Windows (a drive letter or a "\"), the letters A to Z in one case.
std::string ComparablePath(std::string path) {
  const bool windows = path.find('\\') != std::string::npos || (path.size() >= 2 && path[1] == ':');
  for (char& c : path) {
    if (c == '\\') {
      c = '/';
    } else if (windows && c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return std::filesystem::path(path).lexically_normal().generic_string();
}

// The few client calls the restore's clean-up makes, through the client library the run names.
class FirebirdClient {
 public:
  // How an attach went: failure is empty for a success; missing says the server has no file of
  // that name.
  struct Outcome {
    bool missing = false;
    std::set<IscStatus> codes;
    std::string failure;
  };

  explicit FirebirdClient(const std::string& library_name)
      : library_(LoadClientLibrary(library_name.empty()
                                       ? tolvan::platform::SharedLibraryFileName("fbclient", "2")
                                       : library_name)),
        attach_(library_.Function<IscAttachDatabaseFn>("isc_attach_database")),
        detach_(library_.Function<IscHandleFn>("isc_detach_database")),
        drop_(library_.Function<IscHandleFn>("isc_drop_database")),
        start_(library_.Function<IscStartTransactionFn>("isc_start_transaction")),
        execute_(library_.Function<IscExecuteImmediateFn>("isc_dsql_execute_immediate")),
        rollback_(library_.Function<IscHandleFn>("isc_rollback_transaction")),
        sqlcode_(library_.Function<IscSqlCodeFn>("isc_sqlcode")),
        interprete_(library_.Function<IscInterpreteFn>("isc_interprete")) {
    if (attach_ == nullptr || detach_ == nullptr || drop_ == nullptr || start_ == nullptr ||
        execute_ == nullptr || rollback_ == nullptr || sqlcode_ == nullptr ||
        interprete_ == nullptr) {
      throw std::runtime_error(std::string(kFbClientMissing));
    }
  }

  // Attaches to the database and detaches again, or drops it when drop is set.
  Outcome Attach(const std::string& name, const std::string& user, const std::string& password,
                 bool drop = false) const {
    Outcome outcome;
    IscHandle handle = 0;
    if (AttachHandle(name, user, password, handle, outcome) && drop) {
      IscStatus status[kStatusVectorLength] = {};
      if (drop_(status, &handle) != 0) {
        outcome.failure = FirebirdErrorText(status, sqlcode_, interprete_);
      }
    }
    Detach(handle);
    return outcome;
  }

  enum class Online { Yes, No, Unknown };
  // Whether the database is open to all: a restore that gbak did not finish leaves it shut down.
  Online IsOnline(const std::string& name, const std::string& user,
                  const std::string& password) const {
    // Fails with a division by zero only when the database is shut down.
    static constexpr std::string_view kCheck =
        "execute block as declare n integer; begin select mon$shutdown_mode from mon$database "
        "into :n; if (n <> 0) then n = n / 0; end";
    Outcome outcome;
    IscHandle handle = 0;
    if (!AttachHandle(name, user, password, handle, outcome)) {
      return outcome.codes.count(isc::kShutdown) != 0 ? Online::No : Online::Unknown;
    }
    Online online = Online::Unknown;
    IscStatus status[kStatusVectorLength] = {};
    IscHandle transaction = 0;
    if (start_(status, &transaction, 1, &handle, 0, nullptr) == 0) {
      if (execute_(status, &handle, &transaction, static_cast<uint16_t>(kCheck.size()),
                   kCheck.data(), isc::kSqlDialect3, nullptr) == 0) {
        online = Online::Yes;
      } else if (Codes(status).count(isc::kDivideByZero) != 0) {
        online = Online::No;
      }
      IscStatus ignored[kStatusVectorLength] = {};
      rollback_(ignored, &transaction);
    }
    Detach(handle);
    return online;
  }

 private:
  bool AttachHandle(const std::string& name, const std::string& user, const std::string& password,
                    IscHandle& handle, Outcome& outcome) const {
    std::string dpb{isc::kDpbVersion1, isc::kDpbUtf8Filename, 0};
    // The client's own limit as well, for where the watch cannot end the wait itself.
    AppendNumber(dpb, isc::kDpbConnectTimeout,
                 static_cast<uint32_t>(tolvan::platform::LibraryConnectTimeout(kLimit).count()));
    for (const auto& [tag, value] : {std::pair{isc::kDpbUserName, support::FirebirdLoginName(user)},
                                     std::pair{isc::kDpbPassword, password}}) {
      if (value.empty()) {
        continue;
      }
      if (value.size() > 255 || name.size() > INT16_MAX) {
        outcome.failure = "nome, usuário ou senha longo demais para o servidor";
        return false;
      }
      dpb += tag;
      dpb += static_cast<char>(value.size());
      dpb += value;
    }
    IscStatus status[kStatusVectorLength] = {};
    IscStatus result = 0;
    try {
      AttachWithinLimit(support::SplitDatabaseKey(name).Server(), kLimit, [&] {
        const tolvan::platform::KeepInterruptHandlers keep_interrupts;
        result = attach_(status, static_cast<int16_t>(name.size()), name.c_str(), &handle,
                         static_cast<int16_t>(dpb.size()), dpb.data());
      });
    } catch (const tolvan::platform::EConnectCut&) {
      Detach(handle);
      throw;
    }
    if (result != 0) {
      outcome.missing = StatusSaysNoSuchFile(status);
      outcome.codes = Codes(status);
      outcome.failure = FirebirdErrorText(status, sqlcode_, interprete_);
      return false;
    }
    return true;
  }

  void Detach(IscHandle& handle) const {
    if (handle != 0) {
      IscStatus ignored[kStatusVectorLength] = {};
      detach_(ignored, &handle);
    }
  }

  // The error codes of a status vector.
  static std::set<IscStatus> Codes(const IscStatus* status) {
    std::set<IscStatus> codes;
    for (int i = 0; i + 1 < kStatusVectorLength && status[i] != isc::kArgEnd;
         i += status[i] == isc::kArgCstring ? 3 : 2) {
      if (status[i] == isc::kArgGds) {
        codes.insert(status[i + 1]);
      }
    }
    return codes;
  }

  // How long an attach may wait for the server: the restore's exports take no connection
  // parameters of the host's to say otherwise.
  static constexpr std::chrono::seconds kLimit = tolvan::platform::kDefaultConnectTimeout;

  const tolvan::platform::DynamicLibrary& library_;
  IscAttachDatabaseFn attach_;
  IscHandleFn detach_;
  IscHandleFn drop_;
  IscStartTransactionFn start_;
  IscExecuteImmediateFn execute_;
  IscHandleFn rollback_;
  IscSqlCodeFn sqlcode_;
  IscInterpreteFn interprete_;
};

// How the restore's target stood before the run, and what is done with it after a failure.
// A target of this machine counts as new when nothing stood at its path (a link, a device or a
// pipe counts as something); a target on a server when an attach before the run failed because
// the server has no such file. Only a new target is removed, and only when the run did not end
// well: a plain file here, a database dropped through its server there.
class RestoreTarget {
 public:
  RestoreTarget(std::string target, bool on_server, std::string user, std::string password,
                std::string library)
      : target_(std::move(target)),
        on_server_(on_server),
        user_(std::move(user)),
        password_(std::move(password)),
        library_(std::move(library)) {
    if (target_.empty()) {
      return;
    }
    armed_ = on_server_ ? ServerSaysMissing() : !tolvan::platform::PathEntryExists(target_);
    // A server of this machine writes the target at its path here.
    const std::string here = PathOnServer(target_);
    absent_here_ = armed_ && on_server_ && support::IsThisMachine(HostOf(target_)) &&
                   Utf8Path(here).is_absolute() && !tolvan::platform::PathEntryExists(here);
  }
  ~RestoreTarget() {
    try {
      Clear();
    } catch (...) {
      // A destructor says nothing; the ways out that can tell, call Clear themselves.
    }
  }
  RestoreTarget(const RestoreTarget&) = delete;
  RestoreTarget& operator=(const RestoreTarget&) = delete;

  void Keep() { armed_ = false; }
  bool IsNew() const { return armed_; }

  // True when the server says the target is shut down after a run that gbak ended well: through
  // the service manager, gbak reports no error when the backup ends too early, and leaves the
  // database as the restore holds it until the end.
  bool LeftShutDown() const {
    if (target_.empty() || !on_server_) {
      return false;
    }
    try {
      const FirebirdClient client(library_);
      return client.IsOnline(target_, user_, password_) == FirebirdClient::Online::No;
    } catch (const std::exception&) {
      return false;
    }
  }

  // Removes a new target after a run that did not end well. Returns what the operator must know
  // when it could not be removed (empty: nothing was left).
  std::string Clear() {
    if (!armed_) {
      return {};
    }
    armed_ = false;
    if (!on_server_) {
      if (tolvan::platform::IsPlainFile(target_) && !tolvan::platform::RemoveFile(target_)) {
        return "O banco incompleto \"" + target_ +
               "\" ficou nesta máquina e não pôde ser apagado.\r\nApague esse arquivo antes de "
               "tentar de novo.";
      }
      return {};
    }
    const std::string failure = DropOnServer();
    if (failure.empty()) {
      return {};
    }
    // A disk that filled while the server was still making the database leaves a file that the
    // server cannot open any more, and so cannot drop; when it is a file of this machine that
    // was not there before the run, it goes as a file.
    const std::string here = PathOnServer(target_);
    if (absent_here_ && tolvan::platform::IsPlainFile(here) && tolvan::platform::RemoveFile(here)) {
      return {};
    }
    return "O banco incompleto \"" + target_ + "\" ficou no servidor " + HostOf(target_) +
           " e não pôde ser apagado (" + failure +
           ").\r\nApague-o antes de tentar de novo: conecte-se a ele como SYSDBA ou como o dono "
           "(por exemplo com isql) e execute DROP DATABASE, ou apague no servidor o arquivo \"" +
           PathOnServer(target_) + "\".";
  }

 private:
  static std::string HostOf(const std::string& key) {
    return support::SplitDatabaseKey(key).server_part;
  }

  bool ServerSaysMissing() {
    try {
      const FirebirdClient client(library_);
      return client.Attach(target_, user_, password_).missing;
    } catch (const std::exception&) {
      // No client to ask: the target is not touched.
      return false;
    }
  }

  // Empty when the database was dropped or is not there; otherwise the server's reason. gbak
  // through the service manager may still hold the database for a moment after it was ended, so
  // a refused attach or drop is tried again for a few seconds.
  std::string DropOnServer() {
    constexpr auto kPatience = std::chrono::seconds(10);
    constexpr auto kPause = std::chrono::milliseconds(250);
    const auto until = std::chrono::steady_clock::now() + kPatience;
    std::string failure;
    try {
      const FirebirdClient client(library_);
      for (;;) {
        const FirebirdClient::Outcome attached = client.Attach(target_, user_, password_, true);
        if (attached.missing || attached.failure.empty()) {
          return {};
        }
        failure = attached.failure;
        if (std::chrono::steady_clock::now() >= until) {
          return failure;
        }
        std::this_thread::sleep_for(kPause);
      }
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  std::string target_;
  bool on_server_;
  std::string user_;
  std::string password_;
  std::string library_;
  bool armed_ = false;
  bool absent_here_ = false;
};

}  // namespace

support::ServerSplit SplitServiceHost(const std::string& database, bool service) {
  return service ? support::SplitOffServer(database) : support::ServerSplit{database, ""};
}

bool NamesStandardOutput(const std::string& file) {
  if (support::EqualsIgnoringCase(file, kStandardOutput) || file == "-") {
    return true;
  }
  for (const char* stream : {"/dev/stdout", "/dev/stderr", "/dev/fd/1", "/dev/fd/2",
                             "/proc/self/fd/1", "/proc/self/fd/2"}) {
    if (ComparablePath(file) == stream) {
      return true;
    }
  }
  return false;
}

bool IsTheDatabaseItself(const std::string& database_key, const std::string& file) {
  const std::string path = PathOnServer(database_key);
  if (path.empty() || file.empty()) {
    return false;
  }
  if (file == path || ComparablePath(file) == ComparablePath(path)) {
    return true;
  }
  std::error_code error;
  return std::filesystem::equivalent(Utf8Path(file), Utf8Path(path), error) && !error;
}

bool StatusSaysNoSuchFile(const IscStatus* status) {
  constexpr IscStatus kNoSuchFile = 2;       // ENOENT; ERROR_FILE_NOT_FOUND on Windows
  constexpr IscStatus kWin32NoSuchPath = 3;  // ERROR_PATH_NOT_FOUND
  // A server over the network sends its system's error as text, in its own language: the
  // wordings of POSIX and of Windows in English and in Portuguese (the part without accents).
  constexpr std::string_view kNoSuchFileTexts[] = {
      "No such file or directory", "cannot find the file specified",
      "cannot find the path specified", "pode encontrar o arquivo especificado",
      "pode encontrar o caminho especificado"};
  bool io_error = false;
  bool open_error = false;
  bool no_such_file = false;
  for (int i = 0; i + 1 < kStatusVectorLength && status[i] != isc::kArgEnd;) {
    const IscStatus tag = status[i];
    const IscStatus value = status[i + 1];
    if (tag == isc::kArgGds) {
      io_error = io_error || value == isc::kIoError;
      open_error = open_error || value == isc::kIoOpenError;
    } else if (tag == isc::kArgUnix) {
      no_such_file = no_such_file || value == kNoSuchFile;
    } else if (tag == isc::kArgWin32) {
      no_such_file = no_such_file || value == kNoSuchFile || value == kWin32NoSuchPath;
    } else if (tag == isc::kArgInterpreted && value != 0) {
      const std::string_view text = reinterpret_cast<const char*>(value);
      for (const std::string_view known : kNoSuchFileTexts) {
        no_such_file = no_such_file || text.find(known) != std::string_view::npos;
      }
    }
    i += tag == isc::kArgCstring ? 3 : 2;
  }
  return io_error && open_error && no_such_file;
}

namespace {

std::string UserPiece(const std::string& user) {
  return user.empty() ? std::string()
                      : " -user " + support::QuoteArgument(support::FirebirdLoginName(user));
}

// A path between double quotes as gbak reads it back: backslashes before the closing quote are
// doubled, so that a folder's trailing "\\" does not swallow the quote.
std::string QuotedPath(const std::string& path) {
  return support::QuoteArgument(path, support::Quote::Always);
}

}  // namespace

std::string GbakBackupArguments(const std::string& database, const std::string& user,
                                const std::string& file, const std::string& service_host,
                                bool quiet, bool metadata_only) {
  std::string arguments;
  if (!quiet) {
    arguments += " -V";
  }
  arguments += ' ';
  arguments += QuotedPath(database);
  arguments += ' ';
  arguments += QuotedPath(file);
  arguments += UserPiece(user);
  if (metadata_only) {
    arguments += " -m ";
  }
  if (!service_host.empty()) {
    arguments += " -SE " + service_host + ":\"Backup Database\" ";
  }
  return arguments;
}

std::string GbakRestoreArguments(const std::string& target, const std::string& user,
                                 const std::string& file, const std::string& service_host,
                                 bool quiet, bool inactive_indexes) {
  std::string arguments = " -c -z";
  if (!quiet) {
    arguments += " -V";
  }
  if (inactive_indexes) {
    arguments += " -I";
  }
  arguments += ' ';
  arguments += QuotedPath(file);
  arguments += ' ';
  arguments += QuotedPath(target);
  arguments += UserPiece(user);
  if (!service_host.empty()) {
    arguments += " -SE " + service_host + ":\"Restore Database\" ";
  }
  arguments += " -PAGE_SIZE 8192";
  return arguments;
}

std::string RestoreConnTarget(const std::string& target, const std::string& database_key) {
  return support::OnServerOfKey(target, database_key,
                                support::KeyWithoutColon::NamesServerUnlessPath);
}

void Backup(const std::string& Database, const std::string& User, const std::string& Password,
            const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
            bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
            bool MetadataOnly) {
  RefuseDoubleQuote(Kind::Backup, "do banco de dados", Database);
  RefuseDoubleQuote(Kind::Backup, "do arquivo de backup", File);
  if (NamesStandardOutput(File)) {
    throw std::runtime_error(
        "Backup:\r\nO arquivo de backup \"" + File +
        "\" é o nome que o gbak dá à saída padrão: o backup não seria gravado em arquivo "
        "nenhum.\r\nInforme o caminho de um arquivo; nada foi executado.");
  }
  if (IsTheDatabaseItself(Database, File)) {
    throw std::runtime_error("Backup:\r\nO arquivo de backup \"" + File +
                             "\" é o próprio banco de dados \"" + Database +
                             "\": o backup o destruiria.\r\nInforme outro caminho para o arquivo "
                             "de backup; nada foi executado.");
  }
  const support::ServerSplit split = SplitServiceHost(Database, Service);

  // A file of this machine is written under a temporary name and put in place only by a run
  // that succeeded, so that a failed or killed run never touches the backup already there. The
  // service manager of another host writes the file on that host, where it cannot be reached.
  support::ProductSteps steps;
  steps.final_path = File;
  steps.kind = support::ProductKind::GbakBackup;
  steps.at_final_name = !split.server.empty() || File.empty();
  steps.heading = Heading(Kind::Backup);
  steps.not_created = [&](const std::string& reason) {
    return "Backup:\r\nNão foi possível criar um arquivo na pasta do backup \"" + File + "\" (" +
           reason + ").\r\nConfira se a pasta existe e se é possível gravar nela.";
  };
  steps.refused = [&](const std::string& reason) {
    return "Backup:\r\nO arquivo de backup \"" + File + "\" não pode ser gravado: " + reason +
           ".\r\nNada foi executado.";
  };
  steps.outcome_unknown = [&](const support::ToolWaitFailed& error, const std::string& kept_at) {
    return WaitFailedText(Kind::Backup, error) + "O que ele gravou foi mantido em \"" + kept_at +
           "\"" + (kept_at == File ? std::string() : ", sem substituir \"" + File + "\"") +
           "; confira-o antes de usá-lo.";
  };
  support::MakeProduct(steps, [&](const std::string& written) {
    const std::string arguments =
        GbakBackupArguments(split.text, User, written, split.server, Quiet, MetadataOnly);
    const std::string tool = VerificarVersaoGbak(ClientVersion, ClientLibrary, true);
    const RunOutcome outcome =
        RunGbak(Kind::Backup, support::QuoteArgument(tool) + " -b -z" + arguments, Password, Frame,
                Circular);
    if (outcome.code != 0) {
      throw std::runtime_error(outcome.failure);
    }
  });
}

void Restore(const std::string& Target, const std::string& User, const std::string& Password,
             const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
             bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
             bool InactiveIndexes) {
  RefuseDoubleQuote(Kind::Restore, "do banco de destino", Target);
  RefuseDoubleQuote(Kind::Restore, "do arquivo de backup", File);
  const support::ServerSplit split = SplitServiceHost(Target, Service);
  const std::string tool = VerificarVersaoGbak(ClientVersion, ClientLibrary, false);
  const std::string arguments =
      GbakRestoreArguments(split.text, User, File, split.server, Quiet, InactiveIndexes);
  // A target without a host is a file of this machine; any other is looked at on its server.
  const bool on_server = support::SplitDatabaseKey(Target).NamesServer();
  RestoreTarget target(Target, on_server, User, Password, ClientLibrary);
  RunOutcome outcome;
  try {
    outcome =
        RunGbak(Kind::Restore, support::QuoteArgument(tool) + arguments, Password, Frame, Circular);
  } catch (const support::ToolWaitFailed& e) {
    target.Keep();
    throw std::runtime_error(WaitFailedText(Kind::Restore, e) + "O banco \"" + Target +
                             "\" não foi apagado; confira-o antes de usá-lo.");
  }
  const auto ended = support::EndedWithLineBreak;
  std::string text = ended(outcome.failure);
  if (outcome.code == 0) {
    if (!target.LeftShutDown()) {
      target.Keep();
      return;
    }
    const std::string said = Frame != nullptr ? Frame->GetCaptureText() : outcome.output;
    if (said.find("failure to activate") != std::string::npos) {
      outcome.code = kRestoreNotOnline;
      text = ended(std::string(Heading(Kind::Restore)) + said);
    } else {
      const bool created = target.IsNew();
      const std::string left = target.Clear();
      throw std::runtime_error(
          std::string(Heading(Kind::Restore)) + "O gbak terminou sem apontar erro, mas o banco \"" +
          Target +
          "\" ficou fora de linha: a restauração não chegou ao fim (o arquivo de backup \"" + File +
          "\" pode estar incompleto ou danificado).\r\n" +
          (!created       ? "O banco foi mantido; confira-o antes de usá-lo."
           : left.empty() ? "O banco incompleto foi apagado."
                          : left));
    }
  }
  if (outcome.code == kRestoreNotOnline) {
    // The restore is whole; only indexes are missing, which the operator can mend in place.
    target.Keep();
    throw ERestoreNotOnline(
        text + "O banco \"" + Target +
        "\" foi restaurado e mantido, mas ficou fora de linha porque um ou mais índices não "
        "puderam ser ativados.\r\nComo o gbak orienta, execute gfix -online nesse banco para "
        "colocá-lo em linha sem esses índices ativos; depois corrija os dados e ative os índices.");
  }
  const std::string left = target.Clear();
  throw std::runtime_error(left.empty() ? outcome.failure : text + left);
}

void BackupConn(TVeskDMConexao* DM, const std::string& File, bool Service, TVeskFraProgresso* Frame,
                bool Circular, bool MetadataOnly) {
  TVeskSQLConnection& connection = support::ConnectionOf(DM, "BackupConn");
  support::WithConnectionClosed(connection, [&] {
    Backup(connection.GetDATABASENAME_KEY(), connection.GetParam("USER_NAME"),
           connection.GetParam("PASSWORD"), File, Service, Frame, Circular, false,
           DM->ExpectedClientVersion, connection.ClientLibrary, MetadataOnly);
  });
}

void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool Service, TVeskFraProgresso* Frame, bool Circular,
                 bool InactiveIndexes) {
  TVeskSQLConnection& connection = support::ConnectionOf(DM, "RestoreConn");
  const std::string target = RestoreConnTarget(Target, connection.GetDATABASENAME_KEY());
  support::WithConnectionClosed(connection, [&] {
    Restore(target, connection.GetParam("USER_NAME"), Password, File, Service, Frame, Circular,
            false, DM->ExpectedClientVersion, connection.ClientLibrary, InactiveIndexes);
  });
}

}  // namespace tolvan::firebird
