// Export and import through the classic tools: the command lines, the runs with and without the
// host's frame, and the exports that run against the host's own connection.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "TolvanOracleUtil.h"
#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/ProductFile.h"
#include "tolvan/support/Quoting.h"
#include "tolvan/support/Text.h"
#include "tolvan/support/ToolRunner.h"

namespace tolvan::oracle {
namespace {

using support::QuoteArgument;

enum class Kind { Backup, Restore };

// Runs command_line; the messages show shown_line instead, the same line with the password masked.
void RunTool(Kind kind, const std::string& command_line, const std::string& shown_line,
             TVeskFraProgresso* frame, bool circular) {
  const std::string heading = kind == Kind::Backup ? "Backup:\r\n" : "Restore:\r\n";
  const support::ToolOutcome run = support::RunTool({command_line}, frame, circular);
  if (run.code == 0) {
    return;
  }
  const std::string code = std::to_string(run.code);
  if (frame != nullptr) {
    if (kind == Kind::Backup) {
      throw std::runtime_error(heading + "Error cod: " + code + "\r\n" + support::Trim(shown_line));
    }
    // A tool that could not start or died silently still failed: say so with its code.
    throw std::runtime_error(heading +
                             (support::IsBlank(run.output) ? "Error cod: " + code : run.output));
  }
  if (support::IsBlank(run.output)) {
    // A failure that printed nothing is a failure too, never a success.
    throw std::runtime_error(heading + "Error cod: " + code);
  }
  throw std::runtime_error(kind == Kind::Backup ? heading + run.output + "\r\n" + shown_line
                                                : heading + run.output);
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
  return QuoteArgument(user + "/" + password + "@" + service);
}

}  // namespace

std::string_view ExportTool() {
  return TOLVAN_ORACLE_EXP;
}

std::string_view ImportTool() {
  return TOLVAN_ORACLE_IMP;
}

std::string ConnectService(const std::string& connect, bool strip_prefix) {
  return strip_prefix ? support::SplitOffServer(connect).text : connect;
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
         QuoteArgument("OWNER=" + user) + " " + QuoteArgument("FILE=" + dump_file) + " " +
         QuoteArgument("LOG=" + log_file) + "   ";
}

std::string ExportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base) {
  return ExportCommandLine(user, password, service, base + ".DMP", base + ".LOG");
}

std::string ImportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base) {
  return std::string(ImportTool()) + " " + Connect(user, password, service) +
         " FULL=YES IGNORE=YES " + QuoteArgument("FILE=" + base + ".DMP") + " " +
         QuoteArgument("LOG=" + base + ".LOG") + "   ";
}

void RefuseUnusableFileName(const char* heading, const std::string& file) {
  const auto refuse = [&](const std::string& why) {
    throw std::runtime_error(std::string(heading) + "O arquivo \"" + file +
                             "\" não pode ser usado: " + why);
  };
  support::RefuseDoubleQuote(
      file, std::string(heading) + "O arquivo \"" + file +
                "\" não pode ser usado: o nome tem aspas duplas (\"), que não podem fazer parte "
                "de um nome de arquivo ou pasta.");
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
  return support::OnServerOfKey(target, connection_database, support::KeyWithoutColon::NamesServer);
}

void Backup(const std::string& Database, const std::string& User, const std::string& Password,
            const std::string& File, bool StripPrefix, TVeskFraProgresso* Frame, bool Circular) {
  RefuseUnusableFileName("Backup:\r\n", File);
  const std::string base = DumpBase(File);
  const std::string service = ConnectService(Database, StripPrefix);
  const std::string dump = base + ".DMP";
  // EXP writes to a name of its own; a good dump of the final name stays whole until an export
  // that succeeded replaces it. The log is written in place.
  support::ProductSteps steps;
  steps.final_path = dump;
  steps.kind = support::ProductKind::ExportDump;
  steps.heading = "Backup:\r\n";
  steps.not_created = [&](const std::string& reason) {
    return "Backup:\r\nNão foi possível criar o arquivo \"" + dump + "\": " + reason + ".";
  };
  steps.outcome_unknown = [&](const support::ToolWaitFailed&, const std::string& kept_at) {
    return "Backup:\r\nNão foi possível saber se o EXP terminou bem. O que ele gravou ficou em \"" +
           kept_at + "\"; o arquivo \"" + dump +
           "\" não foi alterado. Confira esse arquivo antes de usá-lo.";
  };
  support::MakeProduct(steps, [&](const std::string& written) {
    RunTool(Kind::Backup, ExportCommandLine(User, Password, service, written, base + ".LOG"),
            ExportCommandLine(User, kMaskedPassword, service, written, base + ".LOG"), Frame,
            Circular);
  });
}

void Restore(const std::string& Database, const std::string& User, const std::string& Password,
             const std::string& File, TVeskFraProgresso* Frame, bool Circular) {
  RefuseUnusableFileName("Restore:\r\n", File);
  const std::string base = DumpBase(File);
  const std::string service = ConnectService(Database, true);
  RunTool(Kind::Restore, ImportCommandLine(User, Password, service, base),
          ImportCommandLine(User, kMaskedPassword, service, base), Frame, Circular);
}

void BackupConn(TVeskDMConexao* DM, const std::string& File, bool StripPrefix,
                TVeskFraProgresso* Frame, bool Circular) {
  TVeskSQLConnection& connection = support::ConnectionOf(DM, "BackupConn");
  support::WithConnectionClosed(connection, [&] {
    Backup(connection.GetParam("Database"), connection.GetParam("USER_NAME"),
           connection.GetParam("PASSWORD"), File, StripPrefix, Frame, Circular);
  });
}

void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool, TVeskFraProgresso* Frame, bool Circular) {
  TVeskSQLConnection& connection = support::ConnectionOf(DM, "RestoreConn");
  const std::string target = RestoreConnTarget(Target, connection.GetParam("Database"));
  support::WithConnectionClosed(connection, [&] {
    Restore(target, connection.GetParam("USER_NAME"), Password, File, Frame, Circular);
  });
}

}  // namespace tolvan::oracle
