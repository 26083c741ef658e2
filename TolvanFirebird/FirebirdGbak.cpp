// Backup and restore through gbak: the command lines, the runs with and without the host's frame,
// and the exports that run against the host's own connection.
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "TolvanFirebirdUtil.h"
#include "platform/Files.h"
#include "tolvan/common/ConnectionClosed.h"
#include "tolvan/common/FrameRun.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {
namespace {

// gbak's own name for a backup written to its standard output; no file stands behind it (nor
// behind an empty name, which gbak refuses).
constexpr const char* kStandardOutput = "stdout";
// gbak takes the password from here when the command line carries none.
constexpr const char* kPasswordVariable = "ISC_PASSWORD";
// gbak's exit code for a restore that finished with one or more indexes left inactive.
constexpr int32_t kRestoreNotOnline = 2;

enum class Kind { Backup, Restore };

const char* Heading(Kind kind) {
  return kind == Kind::Backup ? "Backup:\r\n" : "Restore:\r\n";
}

// How a run ended: its exit code and the failure text of its kind (empty for a success).
struct RunOutcome {
  int32_t code = 0;
  std::string failure;
};

// Runs the command line with or without the frame; the frame is reset before this returns. A wait
// that failed (EToolWaitFailed) goes through to the caller.
RunOutcome RunGbak(Kind kind, const std::string& command_line, TVeskFraProgresso* frame,
                   bool circular) {
  const std::string heading = Heading(kind);
  RunOutcome outcome;
  if (frame != nullptr) {
    const tolvan::common::FrameRunOutcome run =
        tolvan::common::RunInFrame(command_line, *frame, circular);
    outcome.code = run.code;
    if (outcome.code != 0) {
      const std::string& captured = run.captured;
      outcome.failure = kind == Kind::Backup
                            ? heading + "Error cod: " + std::to_string(outcome.code) + "\r\n" +
                                  (captured.empty() ? "gbak.exe não Encontrado." : captured)
                            : heading + captured;
    }
    return outcome;
  }
  std::string output;
  outcome.code = WinExec32AndRedirectOutput(command_line, output, false, false);
  if (outcome.code != 0) {
    // A tool that died or could not start says nothing: that is a failure too, never a success.
    outcome.failure =
        heading + (IsBlankText(output) ? "Error cod: " + std::to_string(outcome.code) : output);
  }
  return outcome;
}

// A path argument that holds a double quote would end its quotes early and let the rest of it be
// read as further arguments; no file name of Windows holds one.
void RefuseDoubleQuote(Kind kind, const char* what, const std::string& path) {
  if (path.find('"') != std::string::npos) {
    throw std::runtime_error(std::string(Heading(kind)) + "O caminho " + what +
                             " contém aspas duplas (\"), que não podem fazer parte de um nome de "
                             "arquivo: " +
                             path);
  }
}

std::string WaitFailedText(Kind kind, const EToolWaitFailed& error) {
  return std::string(Heading(kind)) +
         "O gbak foi executado, mas não foi possível saber como ele terminou (" +
         error.code().message() + ").\r\n";
}

// A restore's target of this machine that nothing stood in place of before the run (a link, a
// device or a pipe counts as something): removed on every way out unless kept, and only when the
// run left a plain file there.
class NewTarget {
 public:
  explicit NewTarget(std::string path)
      : path_(std::move(path)),
        armed_(!path_.empty() && !tolvan::platform::PathEntryExists(path_)) {}
  ~NewTarget() {
    if (armed_ && tolvan::platform::IsPlainFile(path_)) {
      tolvan::platform::RemoveFile(path_);
    }
  }
  NewTarget(const NewTarget&) = delete;
  NewTarget& operator=(const NewTarget&) = delete;

  void Keep() { armed_ = false; }

 private:
  std::string path_;
  bool armed_;
};

// A database key that names no host: a path of this machine, or an alias.
bool HasNoHost(const std::string& key) {
  return key.find(':') == std::string::npos || PegarProximoTokenSomente(key, ":").size() <= 1;
}

}  // namespace

ServiceSplit SplitServiceHost(const std::string& database, bool service) {
  if (!service) {
    return {database, ""};
  }
  std::string rest = database;
  const std::string host = PegarProximoToken(rest, ":");
  if (rest.empty()) {
    return {host, ""};
  }
  if (host.size() >= 2) {
    return {rest, host};
  }
  return {host + ":" + rest, ""};
}

void WithConnectionClosed(TVeskSQLConnection& connection, const std::function<void()>& body) {
  const tolvan::common::ConnectionClosed closed(connection);
  body();
}

std::string QuotedPath(const std::string& path) {
  std::size_t backslashes = 0;
  while (backslashes < path.size() && path[path.size() - 1 - backslashes] == '\\') {
    ++backslashes;
  }
  return "\"" + path + std::string(backslashes, '\\') + "\"";
}

namespace {

std::string UserPiece(const std::string& user) {
  return user.empty() ? std::string() : " -user " + vesk::QuoteArgument(user);
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
  const std::string prefix =
      target.find(':') == std::string::npos ? std::string() : PegarProximoTokenSomente(target, ":");
  if (prefix.size() > 1) {
    return target;
  }
  // A key without ":" is an alias whose text names the server; a path of this machine is not.
  if (database_key.find(':') == std::string::npos &&
      database_key.find_first_of("/\\") != std::string::npos) {
    return target;
  }
  const std::string host = PegarProximoTokenSomente(database_key, ":");
  return host.size() >= 2 ? host + ":" + target : target;
}

void Backup(const std::string& Database, const std::string& User, const std::string& Password,
            const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
            bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
            bool MetadataOnly) {
  RefuseDoubleQuote(Kind::Backup, "do banco de dados", Database);
  RefuseDoubleQuote(Kind::Backup, "do arquivo de backup", File);
  const ServiceSplit split = SplitServiceHost(Database, Service);

  // A file of this machine is written under a temporary name and put in place only by a run
  // that succeeded, so that a failed or killed run never touches the backup already there. The
  // service manager of another host writes the file on that host, where it cannot be reached.
  std::optional<vesk::ProductFile> product;
  if (split.host.empty() && !File.empty() && File != kStandardOutput) {
    try {
      product.emplace(File, vesk::ProductKind::GbakBackup);
    } catch (const std::system_error& e) {
      throw std::runtime_error(
          "Backup:\r\nNão foi possível criar um arquivo na pasta do backup \"" + File + "\" (" +
          vesk::FileErrorReason(e) +
          ").\r\nConfira se a pasta existe e se é possível gravar nela.");
    }
  }
  const std::string written = product ? product->Path() : File;
  const std::string arguments =
      GbakBackupArguments(split.database, User, written, split.host, Quiet, MetadataOnly);
  const std::string tool = VerificarVersaoGbak(ClientVersion, ClientLibrary, true);
  const vesk::ScopedChildEnvironment password(kPasswordVariable, Password);
  RunOutcome outcome;
  try {
    outcome =
        RunGbak(Kind::Backup, vesk::QuoteArgument(tool) + " -b -z" + arguments, Frame, Circular);
  } catch (const EToolWaitFailed& e) {
    // gbak may have written a whole backup: it stays for the operator to check, beside the
    // previous one, which stays as it was.
    if (product) {
      product->Keep();
    }
    throw std::runtime_error(
        WaitFailedText(Kind::Backup, e) + "O que ele gravou foi mantido em \"" + written + "\"" +
        (written == File ? std::string() : ", sem substituir \"" + File + "\"") +
        "; confira-o antes de usá-lo.");
  }
  if (outcome.code != 0) {
    throw std::runtime_error(outcome.failure);
  }
  if (product) {
    try {
      product->Commit();
    } catch (const vesk::EProductNotPlaced& e) {
      throw std::runtime_error("Backup:\r\n" + std::string(e.what()));
    }
  }
}

void Restore(const std::string& Target, const std::string& User, const std::string& Password,
             const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
             bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
             bool InactiveIndexes) {
  RefuseDoubleQuote(Kind::Restore, "do banco de destino", Target);
  RefuseDoubleQuote(Kind::Restore, "do arquivo de backup", File);
  const ServiceSplit split = SplitServiceHost(Target, Service);
  const std::string tool = VerificarVersaoGbak(ClientVersion, ClientLibrary, false);
  const std::string arguments =
      GbakRestoreArguments(split.database, User, File, split.host, Quiet, InactiveIndexes);
  // Only a database file of this machine can be checked and cleared here.
  NewTarget target(split.host.empty() && HasNoHost(split.database) ? split.database
                                                                   : std::string());
  const vesk::ScopedChildEnvironment password(kPasswordVariable, Password);
  RunOutcome outcome;
  try {
    outcome = RunGbak(Kind::Restore, vesk::QuoteArgument(tool) + arguments, Frame, Circular);
  } catch (const EToolWaitFailed& e) {
    target.Keep();
    throw std::runtime_error(WaitFailedText(Kind::Restore, e) + "O banco \"" + Target +
                             "\" não foi apagado; confira-o antes de usá-lo.");
  }
  if (outcome.code == 0) {
    target.Keep();
    return;
  }
  if (outcome.code == kRestoreNotOnline) {
    // The restore is whole; only indexes are missing, which the operator can mend in place.
    target.Keep();
    std::string text = outcome.failure;
    if (!text.empty() && text.back() != '\n') {
      text += "\r\n";
    }
    throw std::runtime_error(
        text + "O banco \"" + Target +
        "\" foi restaurado e mantido, mas ficou fora de linha porque um ou mais índices não "
        "puderam ser ativados.\r\nComo o gbak orienta, execute gfix -online nesse banco para "
        "colocá-lo em linha sem esses índices ativos; depois corrija os dados e ative os índices.");
  }
  throw std::runtime_error(outcome.failure);
}

void BackupConn(TVeskDMConexao* DM, const std::string& File, bool Service, TVeskFraProgresso* Frame,
                bool Circular, bool MetadataOnly) {
  TVeskSQLConnection& connection = tolvan::common::ConnectionOf(DM, "BackupConn");
  WithConnectionClosed(connection, [&] {
    Backup(connection.GetDATABASENAME_KEY(), connection.GetParam("USER_NAME"),
           connection.GetParam("PASSWORD"), File, Service, Frame, Circular, false,
           DM->ExpectedClientVersion, connection.ClientLibrary, MetadataOnly);
  });
}

void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool Service, TVeskFraProgresso* Frame, bool Circular,
                 bool InactiveIndexes) {
  TVeskSQLConnection& connection = tolvan::common::ConnectionOf(DM, "RestoreConn");
  const std::string target = RestoreConnTarget(Target, connection.GetDATABASENAME_KEY());
  WithConnectionClosed(connection, [&] {
    Restore(target, connection.GetParam("USER_NAME"), Password, File, Service, Frame, Circular,
            false, DM->ExpectedClientVersion, connection.ClientLibrary, InactiveIndexes);
  });
}

}  // namespace tolvan::firebird
