// Export and import through the classic tools: the command lines, the runs with and without the
// host's frame, and the exports that run against the host's own connection.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "TolvanOracleUtil.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::oracle {
namespace {

bool IsBlankChar(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (!IsBlankChar(c)) {
      return false;
    }
  }
  return true;
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlankChar(text[begin])) {
    ++begin;
  }
  while (end > begin && IsBlankChar(text[end - 1])) {
    --end;
  }
  return text.substr(begin, end - begin);
}

// Sets the frame up for a run and puts its display mode back on every way out. Capture keeping
// and the circular-mode member stay as the run left them.
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

enum class Kind { Backup, Restore };

void RunTool(Kind kind, const std::string& command_line, TVeskFraProgresso* frame, bool circular) {
  const std::string heading = kind == Kind::Backup ? "Backup:\r\n" : "Restore:\r\n";
  if (frame != nullptr) {
    FrameRun run(*frame, circular);
    const int32_t code = CaptureExecute(
        command_line, "", ".",
        [frame](const std::string& line, bool& stop) { frame->DoCaptureLine(line, stop); });
    if (code == 0) {
      return;
    }
    if (kind == Kind::Backup) {
      throw std::runtime_error(heading + "Error cod: " + std::to_string(code) + "\r\n" +
                               Trimmed(command_line));
    }
    const std::string captured = frame->GetCaptureText();
    // A tool that could not start or died silently still failed: say so with its code.
    throw std::runtime_error(heading +
                             (IsBlank(captured) ? "Error cod: " + std::to_string(code) : captured));
  }
  std::string output;
  const int32_t result = WinExec32AndRedirectOutput(command_line, output, false, false);
  if (result == 0) {
    return;
  }
  if (IsBlank(output)) {
    // A failure that printed nothing is a failure too, never a success.
    throw std::runtime_error(heading + "Error cod: " + std::to_string(result));
  }
  throw std::runtime_error(kind == Kind::Backup ? heading + output + "\r\n" + command_line
                                                : heading + output);
}

TVeskSQLConnection& ConnectionOf(TVeskDMConexao* DM, const char* export_name) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error(std::string(export_name) + ": DM não poder ser nil");
  }
  return *DM->SQLConnection;
}

// Runs body with the connection closed and opens it again on every way out. When body failed,
// its failure is the one that goes on, whether or not the connection opens.
void WithConnectionClosed(TVeskSQLConnection& connection, const std::function<void()>& body) {
  connection.Close();
  try {
    body();
  } catch (...) {
    try {
      connection.Open();
    } catch (...) {
    }
    throw;
  }
  connection.Open();
}

bool IsPathDelimiter(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

std::string_view ExportTool() {
  return TOLVAN_ORACLE_EXP;
}

std::string_view ImportTool() {
  return TOLVAN_ORACLE_IMP;
}

std::string BackupService(const std::string& connect, bool strip_prefix) {
  if (!strip_prefix) {
    return connect;
  }
  std::string rest = connect;
  const std::string head = PegarProximoToken(rest, ":");
  if (rest.empty()) {
    return head;
  }
  return head.size() >= 2 ? rest : head + ":" + rest;
}

std::string RestoreService(const std::string& connect) {
  std::string rest = connect;
  return PegarProximoToken(rest, ":");
}

std::string BackupBase(const std::string& file) {
  const size_t dot = file.find('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

std::string RestoreBase(const std::string& file) {
  size_t name_start = file.size();
  while (name_start > 0 && !IsPathDelimiter(file[name_start - 1])) {
    --name_start;
  }
  const size_t dot = file.rfind('.');
  return dot == std::string::npos || dot < name_start ? file : file.substr(0, dot);
}

std::string ExportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base) {
  return std::string(ExportTool()) + " " + user + "/" + password + "@" + service +
         " OWNER=" + user + " FILE=" + base + ".DMP LOG=" + base + ".LOG   ";
}

std::string ImportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base) {
  return std::string(ImportTool()) + " " + user + "/" + password + "@" + service +
         " FULL=YES IGNORE=YES FILE=" + base + ".DMP LOG=" + base + ".LOG   ";
}

std::string RestoreConnTarget(const std::string& target, const std::string& connection_database) {
  const std::string prefix =
      target.find(':') == std::string::npos ? std::string() : PegarProximoTokenSomente(target, ":");
  if (prefix.size() > 1) {
    return target;
  }
  const std::string host = PegarProximoTokenSomente(connection_database, ":");
  return host.size() >= 2 ? host + ":" + target : target;
}

void Backup(const std::string& Database, const std::string& User, const std::string& Password,
            const std::string& File, bool StripPrefix, TVeskFraProgresso* Frame, bool Circular) {
  RunTool(Kind::Backup,
          ExportCommandLine(User, Password, BackupService(Database, StripPrefix), BackupBase(File)),
          Frame, Circular);
}

void Restore(const std::string& Database, const std::string& User, const std::string& Password,
             const std::string& File, TVeskFraProgresso* Frame, bool Circular) {
  RunTool(Kind::Restore,
          ImportCommandLine(User, Password, RestoreService(Database), RestoreBase(File)), Frame,
          Circular);
}

void BackupConn(TVeskDMConexao* DM, const std::string& File, bool StripPrefix,
                TVeskFraProgresso* Frame, bool Circular) {
  TVeskSQLConnection& connection = ConnectionOf(DM, "BackupConn");
  WithConnectionClosed(connection, [&] {
    Backup(connection.GetParam("Database"), connection.GetParam("USER_NAME"),
           connection.GetParam("PASSWORD"), File, StripPrefix, Frame, Circular);
  });
}

void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool, TVeskFraProgresso* Frame, bool Circular) {
  TVeskSQLConnection& connection = ConnectionOf(DM, "RestoreConn");
  const std::string target = RestoreConnTarget(Target, connection.GetParam("Database"));
  WithConnectionClosed(connection, [&] {
    Restore(target, connection.GetParam("USER_NAME"), Password, File, Frame, Circular);
  });
}

}  // namespace tolvan::oracle
