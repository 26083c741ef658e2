// Proven backups: a backup run with --verify is restored into a scratch database that nothing else
// uses, and its objects and each table's row count are compared with what the backup recorded.
// Until it is proven, the earlier backup of that name stays at the final name; a proven backup
// takes it for good, one that fails is kept beside it as "<name>.nao-verificado".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ConsoleFrame.h"
#include "Host.h"
#include "Options.h"
#include "Plugin.h"

namespace tolvan::cli {

// A database key names a server when it has one of two or more characters before its ":".
bool NamesServer(const std::string& key);

// True when the command line asks for a proven backup or for CriarBackup's dump at a path of the
// operator's: those runs go through RunProvenBackup.
bool WantsProvenBackup(const Options& o);

// Runs the backup export of the command line, proves it when --verify is given and puts it in
// place. Prints the result line and the verdict; returns the exit code. `interrupted` prints the
// interrupted-run line and gives its exit code.
int RunProvenBackup(Host& host, const Options& o, PluginKind kind, std::ostream& out,
                    std::ostream& err, const std::function<int()>& interrupted);

// What a backup holds, or a restored copy has: names of its objects by kind (the Portuguese word
// the messages use: "tabela", "visão", ...), and the row count of each table.
struct BackupContents {
  std::map<std::string, std::set<std::string>> objects;
  std::map<std::string, std::uint64_t> rows;
};

// The objects and row counts a verbose gbak backup run wrote, read from its lines: "writing table
// X", "writing view X", "writing data for table X" followed by its "N records written" lines (the
// last one counts), and so on.
BackupContents ReadGbakBackupLines(const std::vector<std::string>& lines);

// The rows of each table a verbose gbak restore run stored, read from its lines: "restoring data
// for table X" followed by its "N records restored" lines (the last one counts). gbak says nothing
// of a table without rows: it is left out.
std::map<std::string, std::uint64_t> ReadGbakRestoredRows(const std::vector<std::string>& lines);

// The first way the restored copy differs from what the backup recorded, as the operator's
// message; nullopt when it has every recorded object, the same tables and every table the
// recorded count of rows.
std::optional<std::string> FirstDifference(const BackupContents& recorded,
                                           const BackupContents& restored);

// The lines a tool marks as errors or warnings ("ERROR:", "WARNING:", "error:", "warning:").
std::vector<std::string> ProblemLines(const std::vector<std::string>& lines);

// text between two quote characters, each one inside doubled: an SQL name ('"') or literal
// ('\'').
std::string Enclosed(const std::string& text, char quote);

// "Backup verificado: /bk/loja.fbk, 14 tabelas, 1.234.567 linhas, restaurado em 42,1 s".
std::string VerdictLine(const std::string& path, const BackupContents& contents,
                        std::chrono::duration<double> restore_time);

// A private folder (mode 0700) of one verification, marked by a file in it that the run holds
// while it lasts, so that a later run tells it from one a killed run left. When the object goes,
// the folder goes with what it holds; a file kept read-only for the operator stays, and the
// folder with it.
class ScratchFolder {
 public:
  // A new folder for a scratch database in TMPDIR: "tolvan-verificar-XXXXXX".
  ScratchFolder();
  // A new folder beside path for the files of path's run: NameBeside(path, ".~verificar-XXXXXX").
  explicit ScratchFolder(const std::string& beside);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  void Create(const std::string& prefix);

  std::string path_;
  std::intptr_t hold_ = -1;
};

// Removes the scratch folders that killed verifications left, those no process holds: the ones
// beside final_path (of final_path's runs) and the ones in TMPDIR. Returns those it could not
// remove whole.
std::vector<std::string> RemoveDeadScratchFolders(const std::string& final_path);

// Before a Firebird backup to a file of this machine (--file, no --service with a server): removes
// what killed verifications of that file left, and names on err what could not be removed.
void RemoveVerificationLeftovers(const Options& o, std::ostream& err);

// Why nothing may be put at path, as the failure's message ("--file /dev/null: há um dispositivo
// com esse nome; ..."), or nullopt when a backup may take that name.
std::optional<std::string> FinalNameRefusal(const std::string& path);

// A frame that keeps every line it is handed and shows them only when told to.
class RecordingFrame : public ConsoleFrame {
 public:
  RecordingFrame(std::ostream& out, Settings settings, bool show)
      : ConsoleFrame(out, std::move(settings)), show_(show) {}
  const std::vector<std::string>& Lines() const { return lines_; }

 protected:
  void ShowLine(const std::string& Line) override {
    lines_.push_back(Line);
    if (show_) {
      ConsoleFrame::ShowLine(Line);
    }
  }

 private:
  bool show_;
  std::vector<std::string> lines_;
};

// The frame settings of the verification's own status: live with --progress on a terminal.
ConsoleFrame::Settings VerificationStatusSettings(const Options& o, std::string label = {});

// A name beside path that nothing stands at: NameBeside(path, ".~" + what + "-" + six random
// hexadecimal digits).
std::string FreeNameBeside(const std::string& path, const std::string& what);

// Moves a backup to target durably (flushed, renamed, its folder flushed); on another file system
// it is copied to a name of its own in target's folder first, so that target is replaced whole
// or not at all. Only a plain file, a link or nothing at target is replaced (FinalNameProblem).
// A failure raises the operator's message, which says where the backup is.
void PutInPlace(const std::string& source, const std::string& target);

// The unverified name of a backup: "<name>.nao-verificado" (by NameBeside).
std::string UnverifiedName(const std::string& path);

// "o backup não verificado ficou em <path>".
std::string UnverifiedKeptLine(const std::string& unverified_path);

// Prints the failure's message under "erro:" and its result line ("Backup falhou em 1,2 s",
// left out with --quiet-result), without the lines the operator has seen already; returns the
// exit status of a failed run.
int ReportFailure(const Options& o, const std::string& message,
                  std::chrono::steady_clock::time_point start, std::ostream& err,
                  const std::set<std::string>& seen = {});

// The message of a failed run, with a line that says so when its password came empty from
// TOLVAN_PASSWORD for a connection that needs one (a server, not the embedded engine nor an ODBC
// string): the empty text is taken as the password, and the server's refusal may not say so.
std::string WithEmptyPasswordNote(const Options& o, PluginKind kind, const Host& host,
                                  const std::string& message);

// The message of a failed verification: what failed, where the earlier good backup is (or that
// there was none), and where the unverified one was kept.
std::string VerificationFailure(const std::string& what, const std::string& final_path,
                                bool earlier_stands, const std::string& unverified_path);

// The verifications of each plug-in.
int RunProvenFirebirdBackup(Host& host, const Options& o, std::ostream& out, std::ostream& err,
                            const std::function<int()>& interrupted);
int RunProvenPostgresBackup(Host& host, const Options& o, std::ostream& out, std::ostream& err,
                            const std::function<int()>& interrupted);

}  // namespace tolvan::cli
