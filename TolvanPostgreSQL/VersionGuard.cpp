// Versao, the server's version() text and the pg_dump / pg_restore version guard.
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "TolvanPostgreSQLUtil.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/Quoting.h"
#include "tolvan/support/Text.h"
#include "tolvan/support/ToolRunner.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {

using support::Trim;

std::string Versao(TVeskDMConexao* DM) {
  return support::DottedVersion(DM->SQLConnection->GetServerVersion());
}

std::string PegarVersaoServidor(TVeskSQLConnection* Conn) {
  const support::QueryGuard query(
      ExecutarSQL(std::string(kVersionSql), nullptr, false, false, 10, "", Conn, true));
  return query->FieldAsString(0);
}

std::string ServerMajorVersion(const std::string& version_text) {
  std::string s = version_text;
  std::string before_on = PegarProximoToken(s, "on");
  const std::string word = "PostgreSQL";
  for (auto at = before_on.find(word); at != std::string::npos; at = before_on.find(word)) {
    before_on.erase(at, word.size());
  }
  std::string trimmed = Trim(before_on);
  return PegarProximoToken(trimmed, ".");
}

std::string ToolVersion(const std::string& output, const std::string& tool) {
  std::string text = output;
  const std::string mark = tool + " (PostgreSQL)";
  for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
    text.erase(at, mark.size());
  }
  return Trim(text);
}

std::string MajorOf(const std::string& version) {
  std::string s = version;
  return Trim(PegarProximoToken(s, "."));
}

std::string VersionFolder(const std::string& tool_folder, const std::string& server_major) {
  std::string base = tool_folder;
  if (!base.empty() && (base.back() == '/' || base.back() == platform::kPathDelimiter)) {
    base.pop_back();
  }
  return base + (server_major == "17" ? "17" : "14") + platform::kPathDelimiter;
}

void CopyFolderTree(const std::string& source_folder, const std::string& target_folder) {
  namespace fs = std::filesystem;
  const fs::path source = support::Utf8Path(source_folder);
  const fs::path target = support::Utf8Path(target_folder);
  if (!support::IsFolder(source_folder)) {
    throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory),
                            "a pasta \"" + source_folder + "\" não existe");
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
    platform::CopyFileOverwriting(support::PathText(entry.path()), support::PathText(to));
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

// The tool's answer, or what the operator must hear when an interrupt stopped its run: that is
// no version to act on, and copying a folder over the operator's tools because of it would
// change them for good.
ToolAnswer RunVersion(const std::string& tool_folder, const std::string& tool) {
  const support::ToolOutcome run = support::RunTool(
      {support::QuoteArgument(tool_folder + tool + platform::kExecutableSuffix) + " --version"},
      nullptr, false);
  if (run.interrupt != 0) {
    throw std::runtime_error("A verificação da versão do " + tool +
                             " foi interrompida; nada foi copiado para a pasta \"" + tool_folder +
                             "\".");
  }
  ToolAnswer answer;
  answer.output = run.output;
  answer.answered = answer.output.find(tool + " (PostgreSQL)") != std::string::npos;
  answer.version = ToolVersion(answer.output, tool);
  return answer;
}

// "pg_dump.exe e pg_restore.exe": the files the operator is asked to copy.
std::string FileList(const std::vector<std::string>& tools) {
  std::string list;
  for (std::size_t i = 0; i < tools.size(); ++i) {
    list += (i == 0                  ? ""
             : i + 1 == tools.size() ? " e o "
                                     : ", o ") +
            tools[i] + platform::kExecutableSuffix;
  }
  return list;
}

// Copies the version folder over the tool folder; says in Portuguese which folder is missing or
// could not be copied, and what the operator should put where.
void RefreshToolFolder(const std::string& tool_folder, const std::string& server,
                       const std::string& tool, const std::string& found,
                       const std::vector<std::string>& tools) {
  const std::string source = VersionFolder(tool_folder, server);
  const std::string what_to_copy = "copie para a pasta \"" + source + "\" o " + FileList(tools) +
                                   " da versão " + server +
                                   " do PostgreSQL, com as bibliotecas que os acompanham.";
  if (!support::IsFolder(source)) {
    throw std::runtime_error(
        "O aplicativo " + tool + " da pasta \"" + tool_folder + "\" está na versão " + found +
        " enquanto o PostgreSQL está na versão " + server + ", e não existe a pasta \"" + source +
        "\" de onde copiar a versão certa.\r\n\r\nCrie essa pasta e " + what_to_copy);
  }
  try {
    CopyFolderTree(source, tool_folder);
  } catch (const std::exception& error) {
    throw std::runtime_error(
        "Não foi possível copiar a pasta \"" + source + "\" para \"" + tool_folder +
        "\": " + error.what() + "\r\n\r\nA pasta \"" + tool_folder +
        "\" pode ter ficado copiada em parte. Verifique as permissões e " + what_to_copy);
  }
}

// A tool that is not there, or that does not answer as that tool: which file, and what to put
// there, instead of a comparison with a version it never gave.
std::runtime_error ToolNotRunnable(const std::string& tool_folder, const std::string& tool,
                                   const std::string& server, const std::vector<std::string>& tools,
                                   const std::string& output) {
  const std::string package = "da versão " + server +
                              " do PostgreSQL (no Debian, o pacote postgresql-client-" + server +
                              "), com as bibliotecas que os acompanham.";
  const std::string path = tool_folder + tool + platform::kExecutableSuffix;
  if (!platform::PathEntryExists(path)) {
    return std::runtime_error("O aplicativo " + tool + " não está na pasta \"" + tool_folder +
                              "\".\r\n\r\nCopie para essa pasta o " + FileList(tools) + " " +
                              package);
  }
  std::string message = "O aplicativo \"" + path + "\" não respondeu como o " + tool +
                        " do PostgreSQL a --version: ele não pôde ser executado, ou não é o " +
                        tool + ".";
  // The first line of what the system or the file said, bounded (a stray binary may print
  // anything) and never cut inside a character.
  std::size_t end = std::min<std::size_t>(output.find('\n'), 300);
  while (end < output.size() && (static_cast<unsigned char>(output[end]) & 0xC0) == 0x80) {
    --end;
  }
  const std::string said = Trim(output.substr(0, end));
  if (!said.empty()) {
    message += "\r\n\r\nSaída: " + said;
  }
  return std::runtime_error(message + "\r\n\r\nPonha no lugar dele o " + FileList(tools) + " " +
                            package);
}

}  // namespace

void VerificarVersaoFerramentas(TVeskSQLConnection* Conn, const std::string& ToolFolder,
                                const std::vector<std::string>& Tools) {
  RefuseDoubleQuoteIn(kToolFolderWhat, ToolFolder);
  for (const std::string& tool : Tools) {
    const std::string server = Trim(ServerMajorVersion(PegarVersaoServidor(Conn)));
    const ToolAnswer found = RunVersion(ToolFolder, tool);
    if (server != MajorOf(found.version)) {
      // Without a version folder to bring the tool, a tool that gave no version stays without one.
      if (!found.answered && !support::IsFolder(VersionFolder(ToolFolder, server))) {
        throw ToolNotRunnable(ToolFolder, tool, server, Tools, found.output);
      }
      RefreshToolFolder(ToolFolder, server, tool, found.version, Tools);
    }
    const ToolAnswer second = RunVersion(ToolFolder, tool);
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
