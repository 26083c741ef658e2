#include "Verify.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "Cli.h"
#include "Console.h"
#include "Report.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/PrivateFolder.h"
#include "platform/Utf8Path.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::cli {
namespace {

namespace fs = std::filesystem;

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// gbak's verbose lines that name an object of a kind, "gbak:writing <what> <name>". Some are
// indented, and then the section headings that begin alike ("writing table constraints",
// "writing trigger messages") are not.
struct ObjectLine {
  const char* what;
  const char* kind;
  bool indented;
};
constexpr ObjectLine kGbakObjects[] = {
    {"writing table ", "tabela", true},
    {"writing view ", "visão", true},
    {"writing stored procedure ", "procedimento", false},
    {"writing function ", "função", false},
    {"writing trigger ", "gatilho", true},
    {"writing generator ", "gerador", true},
    {"writing index ", "índice", true},
    {"writing constraint ", "restrição", false},
};

}  // namespace

bool WantsProvenBackup(const Options& o) {
  return o.verify || (o.export_name == "CriarBackup" && !o.file.empty());
}

int RunProvenBackup(Host& host, const Options& o, PluginKind kind, std::ostream& out,
                    std::ostream& err, const std::function<int()>& interrupted) {
  if (kind == PluginKind::PostgreSQL && o.export_name == "CriarBackup") {
    return RunProvenPostgresBackup(host, o, out, err, interrupted);
  }
  if (kind == PluginKind::Firebird &&
      (o.export_name == "Backup" || o.export_name == "BackupConn")) {
    return RunProvenFirebirdBackup(host, o, out, err, interrupted);
  }
  throw UsageError("a opção --verify não se aplica a " + o.export_name +
                   " (só a Backup e BackupConn do Firebird e a CriarBackup do PostgreSQL)");
}

BackupContents ReadGbakBackupLines(const std::vector<std::string>& lines) {
  BackupContents contents;
  std::string data_table;
  for (const std::string& raw : lines) {
    std::string line = Trimmed(raw);
    bool indented = false;
    if (line.rfind("gbak:", 0) == 0) {
      indented = line.size() > 5 && line[5] == ' ';
      line = Trimmed(line.substr(5));
    }
    if (line.rfind("writing data for table ", 0) == 0) {
      data_table = Trimmed(line.substr(23));
      contents.rows[data_table] = 0;
      continue;
    }
    static const std::regex records("([0-9]+) records written");
    std::smatch match;
    if (!data_table.empty() && std::regex_match(line, match, records)) {
      contents.rows[data_table] = std::stoull(match[1].str());
      continue;
    }
    for (const ObjectLine& object : kGbakObjects) {
      const std::string what = object.what;
      if (line.rfind(what, 0) != 0 || (object.indented && !indented)) {
        continue;
      }
      std::string name = Trimmed(line.substr(what.size()));
      if (std::string(object.kind) == "gerador") {
        // "writing generator G value 12"
        const auto value = name.rfind(" value ");
        if (value != std::string::npos) {
          name = name.substr(0, value);
        }
      }
      contents.objects[object.kind].insert(name);
      break;
    }
  }
  // Every table the backup wrote has a row count: one without a data line (a metadata-only
  // backup, a table gbak skipped) holds none.
  for (const std::string& table : contents.objects["tabela"]) {
    contents.rows.emplace(table, 0);
  }
  return contents;
}

std::optional<std::string> FirstDifference(const BackupContents& recorded,
                                           const BackupContents& restored) {
  for (const auto& [kind, names] : recorded.objects) {
    const auto found = restored.objects.find(kind);
    for (const std::string& name : names) {
      if (found == restored.objects.end() || found->second.count(name) == 0) {
        return kind + " " + name + " está no backup e falta na cópia restaurada";
      }
    }
  }
  const auto tables = restored.objects.find("tabela");
  if (tables != restored.objects.end()) {
    const auto recorded_tables = recorded.objects.find("tabela");
    for (const std::string& name : tables->second) {
      if (recorded_tables == recorded.objects.end() || recorded_tables->second.count(name) == 0) {
        return "tabela " + name + " está na cópia restaurada e o backup não a registrou";
      }
    }
  }
  for (const auto& [table, count] : recorded.rows) {
    const auto found = restored.rows.find(table);
    const std::uint64_t restored_count = found == restored.rows.end() ? 0 : found->second;
    if (restored_count != count) {
      return "tabela " + table + ": " + FormatCount(count) + " linhas no backup, " +
             FormatCount(restored_count) + " na cópia restaurada";
    }
  }
  return std::nullopt;
}

std::vector<std::string> ProblemLines(const std::vector<std::string>& lines) {
  static const std::regex marked("(^|[^A-Za-z])(ERROR|WARNING|error|warning):");
  std::vector<std::string> problems;
  for (const std::string& line : lines) {
    if (std::regex_search(line, marked)) {
      problems.push_back(Trimmed(line));
    }
  }
  return problems;
}

std::string Enclosed(const std::string& text, char quote) {
  std::string enclosed(1, quote);
  for (const char c : text) {
    enclosed += c;
    if (c == quote) {
      enclosed += quote;
    }
  }
  return enclosed + quote;
}

std::string VerdictLine(const std::string& path, const BackupContents& contents,
                        std::chrono::duration<double> restore_time) {
  std::uint64_t rows = 0;
  for (const auto& [table, count] : contents.rows) {
    rows += count;
  }
  const std::size_t tables = contents.rows.size();
  return "Backup verificado: " + path + ", " + FormatCount(tables) +
         (tables == 1 ? " tabela, " : " tabelas, ") + FormatCount(rows) +
         (rows == 1 ? " linha" : " linhas") + ", restaurado em " + FormatDuration(restore_time);
}

ScratchFolder::ScratchFolder() {
  std::string parent = tolvan::platform::TemporaryDirectory();
  parent.pop_back();
  try {
    path_ = tolvan::platform::CreatePrivateFolder(parent, "tolvan-verificar-");
  } catch (const std::system_error& e) {
    throw std::system_error(
        e.code(), "não foi possível criar a pasta temporária da verificação em " + parent);
  }
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(tolvan::platform::Utf8Path(path_), ignored);
}

ConsoleFrame::Settings VerificationStatusSettings(const Options& o) {
  ConsoleFrame::Settings settings;
  settings.live = o.progress && StderrIsTerminal();
  settings.columns = TerminalColumns;
  settings.hold = o.quiet;
  settings.since = o.started;
  return settings;
}

std::string FreeNameBeside(const std::string& path, const std::string& what) {
  std::random_device random;
  for (;;) {
    std::ostringstream name;
    name << path << ".~" << what << "-" << std::hex << (random() & 0xffffffu);
    if (!tolvan::platform::PathEntryExists(name.str())) {
      return name.str();
    }
  }
}

void PutInPlace(const std::string& source, const std::string& target) {
  try {
    try {
      tolvan::platform::ReplaceDurably(source, target);
      return;
    } catch (const tolvan::platform::FolderNotFlushed&) {
      throw;
    } catch (const std::system_error& error) {
      if (error.code() != std::errc::cross_device_link) {
        throw;
      }
    }
    const std::string copy = FreeNameBeside(target, "copiar");
    try {
      tolvan::platform::CopyFileOverwriting(source, copy);
      tolvan::platform::ReplaceDurably(copy, target);
    } catch (...) {
      tolvan::platform::RemoveFile(copy);
      throw;
    }
    tolvan::platform::RemoveFile(source);
  } catch (const tolvan::platform::FolderNotFlushed& error) {
    throw std::runtime_error(
        "o backup foi posto em " + target + ", mas a pasta dele não pôde ser gravada no disco (" +
        vesk::FileErrorReason(error) + "): depois de uma queda de energia ele pode não estar lá");
  } catch (const std::system_error& error) {
    throw std::runtime_error("não foi possível pôr o backup em " + target + " (" +
                             vesk::FileErrorReason(error) + "); ele continua em " + source);
  }
}

std::string UnverifiedName(const std::string& path) {
  return path + ".nao-verificado";
}

int ReportFailure(const Options& o, const std::string& message,
                  std::chrono::steady_clock::time_point start, std::ostream& err) {
  err << ErrorBlock(message);
  if (!o.quiet_result) {
    err << o.export_name << " falhou em "
        << FormatDuration(std::chrono::steady_clock::now() - start) << "\n";
  }
  return kExitFailure;
}

std::string VerificationFailure(const std::string& what, const std::string& final_path,
                                bool earlier_stands, const std::string& unverified_path) {
  return "a verificação do backup falhou:\n" + what + "\n" +
         (earlier_stands ? "o backup anterior, bom, continua em " + final_path
                         : "não havia backup anterior em " + final_path) +
         "\no backup não verificado ficou em " + unverified_path;
}

}  // namespace tolvan::cli
