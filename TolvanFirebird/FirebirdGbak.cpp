// Backup and restore through gbak: the command lines, the runs with and without the host's frame,
// and the exports that run against the host's own connection.
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "TolvanFirebirdUtil.h"
#include "platform/Files.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {
namespace {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Sets the frame up for a run and puts its display mode back on every way out.
class FrameRun {
 public:
  FrameRun(TVeskFraProgresso& frame, bool circular) : frame_(frame), circular_(circular) {
    if (circular_) {
      frame_.SetEhCircular(true);
    } else {
      frame_.SetEhCircularParcial(true);
    }
    frame_.SetCaptureGuardar(true);
    frame_.EhCircular = circular_;
  }
  ~FrameRun() {
    try {
      frame_.TextoPendente.clear();
      if (circular_) {
        frame_.SetEhCircular(false);
      } else {
        frame_.SetEhCircularParcial(false);
      }
    } catch (...) {
      // The run's own outcome (or failure) is what the caller must hear about.
    }
  }
  FrameRun(const FrameRun&) = delete;
  FrameRun& operator=(const FrameRun&) = delete;

 private:
  TVeskFraProgresso& frame_;
  bool circular_;
};

// Removes a file that a failed run created, so that nothing is left that looks like a good
// result. A file that was there before the run is never touched.
class RemoveIfFailed {
 public:
  explicit RemoveIfFailed(std::string path)
      : path_(std::move(path)), existed_(path_.empty() || tolvan::platform::FileExists(path_)) {}
  ~RemoveIfFailed() {
    if (!succeeded_ && !existed_) {
      tolvan::platform::RemoveFile(path_);
    }
  }
  RemoveIfFailed(const RemoveIfFailed&) = delete;
  RemoveIfFailed& operator=(const RemoveIfFailed&) = delete;

  void Succeeded() { succeeded_ = true; }

 private:
  std::string path_;
  bool existed_;
  bool succeeded_ = false;
};

enum class Kind { Backup, Restore };

// Runs the command line with or without the frame and raises the failure texts of its kind.
void RunGbak(Kind kind, const std::string& command_line, TVeskFraProgresso* frame, bool circular) {
  const std::string heading = kind == Kind::Backup ? "Backup:\r\n" : "Restore:\r\n";
  if (frame != nullptr) {
    FrameRun run(*frame, circular);
    const int32_t code = CaptureExecute(
        command_line, "", ".",
        [frame](const std::string& line, bool& stop) { frame->DoCaptureLine(line, stop); });
    if (code != 0) {
      const std::string captured = frame->GetCaptureText();
      if (kind == Kind::Backup) {
        throw std::runtime_error(heading + "Error cod: " + std::to_string(code) + "\r\n" +
                                 (captured.empty() ? "gbak.exe não Encontrado." : captured));
      }
      throw std::runtime_error(heading + captured);
    }
    return;
  }
  std::string output;
  const int32_t result = WinExec32AndRedirectOutput(command_line, output, false, false);
  if (result == 0) {
    return;
  }
  // A tool that died or could not start says nothing: that is a failure too, never a success.
  throw std::runtime_error(heading +
                           (IsBlankText(output) ? "Error cod: " + std::to_string(result) : output));
}

// A database key that names no host: a path of this machine, or an alias.
bool HasNoHost(const std::string& key) {
  return key.find(':') == std::string::npos || PegarProximoTokenSomente(key, ":").size() <= 1;
}

TVeskSQLConnection& ConnectionOf(TVeskDMConexao* DM, const char* export_name) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error(std::string(export_name) + ": DM não poder ser nil");
  }
  return *DM->SQLConnection;
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
  connection.Close();
  try {
    body();
  } catch (...) {
    try {
      connection.Open();
    } catch (...) {
      // The body's failure is the one the host must hear about.
    }
    throw;
  }
  connection.Open();
}

std::string GbakBackupArguments(const std::string& database, const std::string& user,
                                const std::string& password, const std::string& file,
                                const std::string& service_host, bool quiet, bool metadata_only) {
  std::string arguments;
  if (!quiet) {
    arguments += " -V";
  }
  arguments += " " + Quoted(database) + " " + Quoted(file);
  arguments += " -user " + user;
  arguments += " -pas " + password;
  if (metadata_only) {
    arguments += " -m ";
  }
  if (!service_host.empty()) {
    arguments += " -SE " + service_host + ":" + Quoted("Backup Database") + " ";
  }
  return arguments;
}

std::string GbakRestoreArguments(const std::string& target, const std::string& user,
                                 const std::string& password, const std::string& file,
                                 const std::string& service_host, bool quiet,
                                 bool inactive_indexes) {
  std::string arguments = " -c -z";
  if (!quiet) {
    arguments += " -V";
  }
  if (inactive_indexes) {
    arguments += " -I";
  }
  arguments += " " + Quoted(file) + " " + Quoted(target);
  arguments += " -user " + user;
  arguments += " -pas " + password;
  if (!service_host.empty()) {
    arguments += " -SE " + service_host + ":" + Quoted("Restore Database") + " ";
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
  const ServiceSplit split = SplitServiceHost(Database, Service);
  const std::string arguments =
      GbakBackupArguments(split.database, User, Password, File, split.host, Quiet, MetadataOnly);
  const std::string tool = VerificarVersaoGbak(ClientVersion, ClientLibrary, true);
  RemoveIfFailed partial(File);
  RunGbak(Kind::Backup, tool + " -b -z" + arguments, Frame, Circular);
  partial.Succeeded();
}

void Restore(const std::string& Target, const std::string& User, const std::string& Password,
             const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
             bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
             bool InactiveIndexes) {
  const ServiceSplit split = SplitServiceHost(Target, Service);
  const std::string tool = VerificarVersaoGbak(ClientVersion, ClientLibrary, false);
  const std::string arguments = GbakRestoreArguments(split.database, User, Password, File,
                                                     split.host, Quiet, InactiveIndexes);
  // Only a database file of this machine can be checked and cleared here.
  RemoveIfFailed partial(split.host.empty() && HasNoHost(split.database) ? split.database : "");
  RunGbak(Kind::Restore, tool + arguments, Frame, Circular);
  partial.Succeeded();
}

void BackupConn(TVeskDMConexao* DM, const std::string& File, bool Service, TVeskFraProgresso* Frame,
                bool Circular, bool MetadataOnly) {
  TVeskSQLConnection& connection = ConnectionOf(DM, "BackupConn");
  WithConnectionClosed(connection, [&] {
    Backup(connection.GetDATABASENAME_KEY(), connection.GetParam("USER_NAME"),
           connection.GetParam("PASSWORD"), File, Service, Frame, Circular, false,
           DM->ExpectedClientVersion, connection.ClientLibrary, MetadataOnly);
  });
}

void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool Service, TVeskFraProgresso* Frame, bool Circular,
                 bool InactiveIndexes) {
  TVeskSQLConnection& connection = ConnectionOf(DM, "RestoreConn");
  const std::string target = RestoreConnTarget(Target, connection.GetDATABASENAME_KEY());
  WithConnectionClosed(connection, [&] {
    Restore(target, connection.GetParam("USER_NAME"), Password, File, Service, Frame, Circular,
            false, DM->ExpectedClientVersion, connection.ClientLibrary, InactiveIndexes);
  });
}

}  // namespace tolvan::firebird
