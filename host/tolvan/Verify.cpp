#include "Verify.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "Cli.h"
#include "Console.h"
#include "Report.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/PrivateFolder.h"
#include "platform/Utf8Path.h"
#include "tolvan/support/ProductFile.h"
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

// The names of scratch folders: in TMPDIR the prefix and the digits; beside a backup its name,
// the tag and the digits. The mark is the file the run holds in each.
constexpr const char* kScratchPrefix = "tolvan-verificar-";
constexpr const char* kBesideTag = ".~verificar-";
constexpr const char* kMark = "trava";
constexpr std::size_t kRandomDigits = 6;

fs::path U8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Six lowercase hexadecimal digits.
std::string RandomDigits() {
  static std::mt19937 generator{std::random_device{}()};
  char digits[kRandomDigits + 1];
  std::snprintf(digits, sizeof digits, "%06x", static_cast<unsigned>(generator() & 0xffffffu));
  return digits;
}

// Removes the plain files of a scratch folder that no process holds and that are not kept
// read-only, then the folder. True when the folder is gone.
bool RemoveScratchFolder(const std::string& folder) {
  std::error_code error;
  std::vector<std::string> files;
  for (fs::directory_iterator it(U8(folder), error), end; !error && it != end;
       it.increment(error)) {
    files.push_back(Utf8(it->path()));
  }
  for (const std::string& file : files) {
    tolvan::platform::RemoveUnheldFile(file);
  }
  return fs::remove(U8(folder), error);
}

}  // namespace

bool NamesServer(const std::string& key) {
  const auto colon = key.find(':');
  return colon != std::string::npos && colon >= 2;
}

bool WantsProvenBackup(const Options& o) {
  return o.verify || (o.export_name == "CriarBackup" && !o.file.empty());
}

int RunProvenBackup(Host& host, const Options& o, PluginKind kind, std::ostream& out,
                    std::ostream& err, const std::function<int()>& interrupted) {
  // What stands at the operator's path is looked at before anything runs.
  if (const auto refusal = FinalNameRefusal(o.file)) {
    return ReportFailure(o, *refusal, std::chrono::steady_clock::now(), err);
  }
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

namespace {

// A gbak line without its "gbak:" mark and blanks; `indented` says whether blanks followed the
// mark.
std::string GbakLineText(const std::string& raw, bool& indented) {
  std::string line = Trimmed(raw);
  indented = false;
  if (line.rfind("gbak:", 0) == 0) {
    indented = line.size() > 5 && line[5] == ' ';
    line = Trimmed(line.substr(5));
  }
  return line;
}

// Takes a line of a table's data, "<data_prefix>X" opening the table and "N <records_word>" its
// count so far (the last one counts); false for any other line.
bool TakeRowsLine(const std::string& line, const std::string& data_prefix,
                  const std::regex& records, std::string& data_table,
                  std::map<std::string, std::uint64_t>& rows) {
  if (line.rfind(data_prefix, 0) == 0) {
    data_table = Trimmed(line.substr(data_prefix.size()));
    rows[data_table] = 0;
    return true;
  }
  std::smatch match;
  if (!data_table.empty() && std::regex_match(line, match, records)) {
    rows[data_table] = std::stoull(match[1].str());
    return true;
  }
  return false;
}

}  // namespace

std::map<std::string, std::uint64_t> ReadGbakRestoredRows(const std::vector<std::string>& lines) {
  static const std::regex records("([0-9]+) records restored");
  std::map<std::string, std::uint64_t> rows;
  std::string data_table;
  bool indented = false;
  for (const std::string& raw : lines) {
    TakeRowsLine(GbakLineText(raw, indented), "restoring data for table ", records, data_table,
                 rows);
  }
  return rows;
}

BackupContents ReadGbakBackupLines(const std::vector<std::string>& lines) {
  static const std::regex records("([0-9]+) records written");
  BackupContents contents;
  std::string data_table;
  for (const std::string& raw : lines) {
    bool indented = false;
    const std::string line = GbakLineText(raw, indented);
    if (TakeRowsLine(line, "writing data for table ", records, data_table, contents.rows)) {
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
  Create(Utf8(fs::temp_directory_path() / kScratchPrefix));
}

ScratchFolder::ScratchFolder(const std::string& beside) {
  // The name measured with its digits; Create puts random ones in their place.
  const std::string named =
      tolvan::support::NameBeside(beside, kBesideTag + std::string(kRandomDigits, '0'));
  Create(named.substr(0, named.size() - kRandomDigits));
}

void ScratchFolder::Create(const std::string& prefix) {
  for (int attempt = 0;; ++attempt) {
    const std::string path = prefix + RandomDigits();
    if (!tolvan::platform::CreatePrivateFolder(path)) {
      continue;
    }
    try {
      hold_ = tolvan::platform::CreateHeldFile(path + "/" + kMark);
    } catch (const std::system_error&) {
      // A later run's clean-up may take a folder not yet marked for a dead run's, and remove it.
      if (tolvan::platform::PathEntryExists(path) || attempt == 16) {
        throw;
      }
    }
    if (hold_ != tolvan::platform::kNoFileHold) {
      path_ = path;
      return;
    }
    std::error_code error;
    fs::remove(U8(path), error);
  }
}

ScratchFolder::~ScratchFolder() {
  // Let go first: on Windows a held file cannot be removed.
  tolvan::platform::ReleaseFileHold(hold_);
  RemoveScratchFolder(path_);
}

std::vector<std::string> RemoveDeadScratchFolders(const std::string& final_path) {
  std::vector<std::string> left;
  const auto sweep = [&left](const fs::path& parent, const auto& is_scratch) {
    std::error_code error;
    std::vector<fs::path> folders;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
      std::error_code ignored;
      if (is_scratch(Utf8(it->path().filename())) && it->is_directory(ignored) &&
          !it->is_symlink(ignored)) {
        folders.push_back(it->path());
      }
    }
    for (const fs::path& folder : folders) {
      const std::string path = Utf8(folder);
      // A run at work holds its mark; a folder without one is removed only when empty (a run
      // killed before it marked it, or one marking it now, which then makes another).
      if (!tolvan::platform::RemoveUnheldFile(path + "/" + kMark)) {
        fs::remove(folder, error);
        continue;
      }
      if (!RemoveScratchFolder(path)) {
        left.push_back(path);
      }
    }
  };
  const fs::path final_name = U8(final_path);
  const std::string stem =
      tolvan::support::StemBeside(Utf8(final_name.filename()),
                                  std::string(kBesideTag).size() + kRandomDigits) +
      kBesideTag;
  sweep(final_name.has_parent_path() ? final_name.parent_path() : fs::path("."),
        [&stem](const std::string& name) {
          return name.size() == stem.size() + kRandomDigits && name.rfind(stem, 0) == 0 &&
                 name.find_first_not_of("0123456789abcdef", stem.size()) == std::string::npos;
        });
  std::error_code error;
  const fs::path temp = fs::temp_directory_path(error);
  if (!error) {
    sweep(temp, [](const std::string& name) { return name.rfind(kScratchPrefix, 0) == 0; });
  }
  return left;
}

void RemoveVerificationLeftovers(const Options& o, std::ostream& err) {
  if ((o.export_name != "Backup" && o.export_name != "BackupConn") || o.file.empty() ||
      (o.service && NamesServer(o.database.value_or("")))) {
    return;
  }
  for (const std::string& left : RemoveDeadScratchFolders(o.file)) {
    err << "aviso: uma verificação interrompida deixou " << left
        << ", que não pôde ser apagado por inteiro; apague-o\n";
  }
}

std::optional<std::string> FinalNameRefusal(const std::string& path) {
  const std::string problem = tolvan::support::FinalNameProblem(path);
  if (problem.empty()) {
    return std::nullopt;
  }
  return "--file " + path + ": " + problem + " (nada foi executado)";
}

ConsoleFrame::Settings VerificationStatusSettings(const Options& o, std::string label) {
  ConsoleFrame::Settings settings;
  settings.label = std::move(label);
  settings.live = o.progress && StderrIsTerminal();
  settings.columns = TerminalColumns;
  settings.hold = o.quiet;
  settings.since = o.started;
  return settings;
}

std::string FreeNameBeside(const std::string& path, const std::string& what) {
  for (;;) {
    const std::string name = tolvan::support::NameBeside(path, ".~" + what + "-" + RandomDigits());
    if (!tolvan::platform::PathEntryExists(name)) {
      return name;
    }
  }
}

void PutInPlace(const std::string& source, const std::string& target) {
  if (const std::string problem = tolvan::support::FinalNameProblem(target); !problem.empty()) {
    throw std::runtime_error("não foi possível pôr o backup em " + target + " (" + problem +
                             "); ele continua em " + source);
  }
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
    throw std::runtime_error("o backup foi posto em " + target +
                             ", mas a pasta dele não pôde ser gravada no disco (" +
                             tolvan::support::FileErrorReason(error) +
                             "): depois de uma queda de energia ele pode não estar lá");
  } catch (const std::system_error& error) {
    throw std::runtime_error("não foi possível pôr o backup em " + target + " (" +
                             tolvan::support::FileErrorReason(error) + "); ele continua em " +
                             source);
  }
}

std::string UnverifiedName(const std::string& path) {
  return tolvan::support::NameBeside(path, ".nao-verificado");
}

std::string UnverifiedKeptLine(const std::string& unverified_path) {
  return "o backup não verificado ficou em " + unverified_path;
}

int ReportFailure(const Options& o, const std::string& message,
                  std::chrono::steady_clock::time_point start, std::ostream& err,
                  const std::set<std::string>& seen) {
  err << ErrorBlock(message, seen);
  if (!o.quiet_result) {
    err << o.export_name << " falhou em "
        << FormatDuration(std::chrono::steady_clock::now() - start) << "\n";
  }
  return kExitFailure;
}

std::string WithEmptyPasswordNote(const Options& o, PluginKind kind, const Host& host,
                                  const std::string& message) {
  const bool embedded = kind == PluginKind::Firebird && !NamesServer(host.database());
  if (o.password || !o.odbc.empty() || embedded || !host.password().empty() ||
      tolvan::platform::GetEnv("TOLVAN_PASSWORD").value_or("x") != "") {
    return message;
  }
  return message +
         "\na senha veio vazia: TOLVAN_PASSWORD está definida sem valor; defina-a com a "
         "senha de " +
         (host.user().empty() ? std::string("o usuário") : host.user()) +
         ", ou tire-a para que tolvan pergunte a senha no terminal";
}

std::string VerificationFailure(const std::string& what, const std::string& final_path,
                                bool earlier_stands, const std::string& unverified_path) {
  return "a verificação do backup falhou:\n" + what + "\n" +
         (earlier_stands ? "o backup anterior, bom, continua em " + final_path
                         : "não havia backup anterior em " + final_path) +
         "\n" + UnverifiedKeptLine(unverified_path);
}

}  // namespace tolvan::cli
