// Export and import through the classic tools: the command lines, the runs with and without the
// host's frame, and the exports that run against the host's own connection.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "TolvanOracleUtil.h"
#include "tolvan/common/ConnectionClosed.h"
#include "tolvan/common/FrameRun.h"
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

enum class Kind { Backup, Restore };

// Runs command_line; the messages show shown_line instead, the same line with the password masked.
void RunTool(Kind kind, const std::string& command_line, const std::string& shown_line,
             TVeskFraProgresso* frame, bool circular) {
  const std::string heading = kind == Kind::Backup ? "Backup:\r\n" : "Restore:\r\n";
  if (frame != nullptr) {
    const tolvan::common::FrameRunOutcome run =
        tolvan::common::RunInFrame(command_line, *frame, circular);
    if (run.code == 0) {
      return;
    }
    const std::string code = std::to_string(run.code);
    if (kind == Kind::Backup) {
      throw std::runtime_error(heading + "Error cod: " + code + "\r\n" + Trimmed(shown_line));
    }
    // A tool that could not start or died silently still failed: say so with its code.
    throw std::runtime_error(heading +
                             (IsBlank(run.captured) ? "Error cod: " + code : run.captured));
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
  throw std::runtime_error(kind == Kind::Backup ? heading + output + "\r\n" + shown_line
                                                : heading + output);
}

bool IsPathDelimiter(char c) {
  return c == '\\' || c == '/';
}

// Where the file-name part of a path begins.
size_t NameStart(const std::string& path) {
  size_t start = path.size();
  while (start > 0 && !IsPathDelimiter(path[start - 1])) {
    --start;
  }
  return start;
}

std::string Connect(const std::string& user, const std::string& password,
                    const std::string& service) {
  return vesk::QuoteArgument(user + "/" + password + "@" + service);
}
}  // namespace

std::string_view ExportTool() {
  return TOLVAN_ORACLE_EXP;
}

std::string_view ImportTool() {
  return TOLVAN_ORACLE_IMP;
}

std::string ConnectService(const std::string& connect, bool strip_prefix) {
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

std::string DumpBase(const std::string& file) {
  const size_t name_start = NameStart(file);
  const size_t dot = file.rfind('.');
  return dot == std::string::npos || dot < name_start ? file : file.substr(0, dot);
}

std::string ExportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& dump_file,
                              const std::string& log_file) {
  return std::string(ExportTool()) + " " + Connect(user, password, service) + " " +
         vesk::QuoteArgument("OWNER=" + user) + " " + vesk::QuoteArgument("FILE=" + dump_file) +
         " " + vesk::QuoteArgument("LOG=" + log_file) + "   ";
}

std::string ExportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base) {
  return ExportCommandLine(user, password, service, base + ".DMP", base + ".LOG");
}

std::string ImportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base) {
  return std::string(ImportTool()) + " " + Connect(user, password, service) +
         " FULL=YES IGNORE=YES " + vesk::QuoteArgument("FILE=" + base + ".DMP") + " " +
         vesk::QuoteArgument("LOG=" + base + ".LOG") + "   ";
}

void ConferirArquivo(const char* heading, const std::string& file) {
  const auto refuse = [&](const std::string& why) {
    throw std::runtime_error(std::string(heading) + "O arquivo \"" + file +
                             "\" não pode ser usado: " + why);
  };
  if (file.find('"') != std::string::npos) {
    refuse(
        "o nome tem aspas duplas (\"), que não podem fazer parte de um nome de arquivo ou "
        "pasta.");
  }
  const size_t name_start = NameStart(file);
  if (file.empty()) {
    refuse("o nome está vazio.");
  }
  if (name_start == file.size()) {
    refuse("falta o nome do arquivo depois da pasta.");
  }
  if (DumpBase(file).size() == name_start) {
    refuse("falta o nome do arquivo antes da extensão.");
  }
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
  ConferirArquivo("Backup:\r\n", File);
  const std::string base = DumpBase(File);
  const std::string service = ConnectService(Database, StripPrefix);
  const std::string dump = base + ".DMP";
  // EXP writes to a name of its own; a good dump of the final name stays whole until an export
  // that succeeded replaces it. The log is written in place.
  std::optional<vesk::ProductFile> product;
  try {
    product.emplace(dump, vesk::ProductKind::ExportDump);
  } catch (const std::system_error& error) {
    throw std::runtime_error("Backup:\r\nNão foi possível criar o arquivo \"" + dump +
                             "\": " + vesk::FileErrorReason(error) + ".");
  }
  try {
    RunTool(Kind::Backup,
            ExportCommandLine(User, Password, service, product->Path(), base + ".LOG"),
            ExportCommandLine(User, kMaskedPassword, service, product->Path(), base + ".LOG"),
            Frame, Circular);
  } catch (const EToolWaitFailed&) {
    // EXP ran, but how it ended is unknown: what it wrote may be whole, and is kept.
    product->Keep();
    throw std::runtime_error(
        "Backup:\r\nNão foi possível saber se o EXP terminou bem. O que ele gravou ficou em \"" +
        product->Path() + "\"; o arquivo \"" + dump +
        "\" não foi alterado. Confira esse arquivo antes de usá-lo.");
  }
  try {
    product->Commit();
  } catch (const vesk::EProductNotPlaced& error) {
    throw std::runtime_error("Backup:\r\n" + std::string(error.what()));
  }
}

void Restore(const std::string& Database, const std::string& User, const std::string& Password,
             const std::string& File, TVeskFraProgresso* Frame, bool Circular) {
  ConferirArquivo("Restore:\r\n", File);
  const std::string base = DumpBase(File);
  const std::string service = ConnectService(Database, true);
  RunTool(Kind::Restore, ImportCommandLine(User, Password, service, base),
          ImportCommandLine(User, kMaskedPassword, service, base), Frame, Circular);
}

void BackupConn(TVeskDMConexao* DM, const std::string& File, bool StripPrefix,
                TVeskFraProgresso* Frame, bool Circular) {
  TVeskSQLConnection& connection = tolvan::common::ConnectionOf(DM, "BackupConn");
  const tolvan::common::ConnectionClosed closed(connection);
  Backup(connection.GetParam("Database"), connection.GetParam("USER_NAME"),
         connection.GetParam("PASSWORD"), File, StripPrefix, Frame, Circular);
}

void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool, TVeskFraProgresso* Frame, bool Circular) {
  TVeskSQLConnection& connection = tolvan::common::ConnectionOf(DM, "RestoreConn");
  const std::string target = RestoreConnTarget(Target, connection.GetParam("Database"));
  const tolvan::common::ConnectionClosed closed(connection);
  Restore(target, connection.GetParam("USER_NAME"), Password, File, Frame, Circular);
}

}  // namespace tolvan::oracle
