// Versao, the server's version() text and the pg_dump / pg_restore version guard.
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "Guards.h"
#include "TolvanPostgreSQLUtil.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {

using detail::Trim;

std::string FormatarVersao(int64_t Number) {
  std::string text = std::to_string(Number);
  for (const std::size_t position : {3u, 8u, 11u}) {
    text.insert(position - 1 <= text.size() ? position - 1 : text.size(), 1, '.');
  }
  return text;
}

std::string Versao(TVeskDMConexao* DM) {
  return FormatarVersao(DM->SQLConnection->GetServerVersion());
}

std::string PegarVersaoServidor(TVeskSQLConnection* Conn) {
  detail::QueryGuard guard;
  guard.query = ExecutarSQL(std::string(kVersionSql), nullptr, false, false, 10, "", Conn, true);
  return guard.query->FieldAsString(0);
}

std::string ServerMajorVersion(const std::string& VersionText) {
  std::string s = VersionText;
  std::string before_on = PegarProximoToken(s, "on");
  const std::string word = "PostgreSQL";
  for (auto at = before_on.find(word); at != std::string::npos; at = before_on.find(word)) {
    before_on.erase(at, word.size());
  }
  std::string trimmed = Trim(before_on);
  return PegarProximoToken(trimmed, ".");
}

std::string ToolVersion(const std::string& Output, const std::string& Tool) {
  std::string text = Output;
  const std::string mark = Tool + " (PostgreSQL)";
  for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
    text.erase(at, mark.size());
  }
  return Trim(text);
}

std::string MajorOf(const std::string& Version) {
  std::string s = Version;
  return Trim(PegarProximoToken(s, "."));
}

std::string VersionFolder(const std::string& ToolFolder, const std::string& ServerMajor) {
  std::string base = ToolFolder;
  if (!base.empty() && (base.back() == '/' || base.back() == platform::kPathDelimiter)) {
    base.pop_back();
  }
  return base + (ServerMajor == "17" ? "17" : "14") + platform::kPathDelimiter;
}

void CopyFolderTree(const std::string& Source, const std::string& Target) {
  namespace fs = std::filesystem;
  const fs::path source = detail::Utf8Path(Source);
  const fs::path target = detail::Utf8Path(Target);
  std::error_code error;
  if (!fs::is_directory(source, error)) {
    throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory),
                            "a pasta \"" + Source + "\" não existe");
  }
  fs::create_directories(target);
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    const fs::path to = target / fs::relative(entry.path(), source);
    if (entry.is_directory()) {
      fs::create_directories(to);
      continue;
    }
    // Copying onto a link would write into the file it points to (a system folder, say).
    if (fs::is_symlink(fs::symlink_status(to))) {
      fs::remove(to);
    }
    platform::CopyFileOverwriting(detail::PathText(entry.path()), detail::PathText(to));
  }
}

namespace {

// What a tool said to --version: its version, and whether it answered as that tool at all
// (a missing tool, or one that cannot run, prints nothing or the system's complaint).
struct ToolAnswer {
  bool answered = false;
  std::string version;
  std::string output;
};

ToolAnswer RunVersion(const std::string& ToolFolder, const std::string& Tool) {
  ToolAnswer answer;
  WinExec32AndRedirectOutput(
      ProgramArgument(ToolFolder + Tool + platform::kExecutableSuffix) + " --version",
      answer.output, false, false);
  answer.answered = answer.output.find(Tool + " (PostgreSQL)") != std::string::npos;
  answer.version = ToolVersion(answer.output, Tool);
  return answer;
}

bool IsFolderPath(const std::string& Path) {
  std::error_code error;
  return std::filesystem::is_directory(detail::Utf8Path(Path), error);
}

// An interrupted run answers with what it had read, often nothing: that is no version to act on,
// and copying a folder over the operator's tools because of it would change them for good.
void StopIfInterrupted(const std::string& Tool, const std::string& ToolFolder) {
  if (platform::InterruptSignal() != 0) {
    throw std::runtime_error("A verificação da versão do " + Tool +
                             " foi interrompida; nada foi copiado para a pasta \"" + ToolFolder +
                             "\".");
  }
}

// "pg_dump.exe e pg_restore.exe": the files the operator is asked to copy.
std::string FileList(const std::vector<std::string>& Tools) {
  std::string list;
  for (std::size_t i = 0; i < Tools.size(); ++i) {
    list += (i == 0                  ? ""
             : i + 1 == Tools.size() ? " e o "
                                     : ", o ") +
            Tools[i] + platform::kExecutableSuffix;
  }
  return list;
}

// Copies the version folder over the tool folder; says in Portuguese which folder is missing or
// could not be copied, and what the operator should put where.
void RefreshToolFolder(const std::string& ToolFolder, const std::string& Server,
                       const std::string& Tool, const std::string& Found,
                       const std::vector<std::string>& Tools) {
  const std::string source = VersionFolder(ToolFolder, Server);
  const std::string what_to_copy = "copie para a pasta \"" + source + "\" o " + FileList(Tools) +
                                   " da versão " + Server +
                                   " do PostgreSQL, com as bibliotecas que os acompanham.";
  if (!IsFolderPath(source)) {
    throw std::runtime_error(
        "O aplicativo " + Tool + " da pasta \"" + ToolFolder + "\" está na versão " + Found +
        " enquanto o PostgreSQL está na versão " + Server + ", e não existe a pasta \"" + source +
        "\" de onde copiar a versão certa.\r\n\r\nCrie essa pasta e " + what_to_copy);
  }
  try {
    CopyFolderTree(source, ToolFolder);
  } catch (const std::exception& error) {
    throw std::runtime_error(
        "Não foi possível copiar a pasta \"" + source + "\" para \"" + ToolFolder +
        "\": " + error.what() + "\r\n\r\nA pasta \"" + ToolFolder +
        "\" pode ter ficado copiada em parte. Verifique as permissões e " + what_to_copy);
  }
}

// A tool that is not there, or that does not answer as that tool: which file, and what to put
// there, instead of a comparison with a version it never gave.
std::runtime_error ToolNotRunnable(const std::string& ToolFolder, const std::string& Tool,
                                   const std::string& Server, const std::vector<std::string>& Tools,
                                   const std::string& Output) {
  const std::string package = "da versão " + Server +
                              " do PostgreSQL (no Debian, o pacote postgresql-client-" + Server +
                              "), com as bibliotecas que os acompanham.";
  const std::string path = ToolFolder + Tool + platform::kExecutableSuffix;
  if (!platform::PathEntryExists(path)) {
    return std::runtime_error("O aplicativo " + Tool + " não está na pasta \"" + ToolFolder +
                              "\".\r\n\r\nCopie para essa pasta o " + FileList(Tools) + " " +
                              package);
  }
  std::string message = "O aplicativo \"" + path + "\" não respondeu como o " + Tool +
                        " do PostgreSQL a --version: ele não pôde ser executado, ou não é o " +
                        Tool + ".";
  // The first line of what the system or the file said, bounded (a stray binary may print
  // anything) and never cut inside a character.
  std::size_t end = std::min<std::size_t>(Output.find('\n'), 300);
  while (end < Output.size() && (static_cast<unsigned char>(Output[end]) & 0xC0) == 0x80) {
    --end;
  }
  const std::string said = Trim(Output.substr(0, end));
  if (!said.empty()) {
    message += "\r\n\r\nSaída: " + said;
  }
  return std::runtime_error(message + "\r\n\r\nPonha no lugar dele o " + FileList(Tools) + " " +
                            package);
}

}  // namespace

void VerificarVersaoFerramentas(TVeskSQLConnection* Conn, const std::string& ToolFolder,
                                const std::vector<std::string>& Tools) {
  RecusarAspas(kToolFolderWhat, ToolFolder);
  for (const std::string& tool : Tools) {
    const std::string server = Trim(ServerMajorVersion(PegarVersaoServidor(Conn)));
    const ToolAnswer found = RunVersion(ToolFolder, tool);
    StopIfInterrupted(tool, ToolFolder);
    if (server != MajorOf(found.version)) {
      // Without a version folder to bring the tool, a tool that gave no version stays without one.
      if (!found.answered && !IsFolderPath(VersionFolder(ToolFolder, server))) {
        throw ToolNotRunnable(ToolFolder, tool, server, Tools, found.output);
      }
      RefreshToolFolder(ToolFolder, server, tool, found.version, Tools);
    }
    const ToolAnswer second = RunVersion(ToolFolder, tool);
    StopIfInterrupted(tool, ToolFolder);
    if (!second.answered) {
      throw ToolNotRunnable(ToolFolder, tool, server, Tools, second.output);
    }
    const std::string& version = second.version;
    if (server != MajorOf(version)) {
      throw std::runtime_error("O aplicativo " + tool + " está na versão " + version +
                               " enquanto o PostgreSQL está na versão " + server +
                               ".\r\n\r\nFavor copiar o aplicativo na versão correta para "
                               "executar esse processo.");
    }
  }
}

}  // namespace tolvan::postgresql
