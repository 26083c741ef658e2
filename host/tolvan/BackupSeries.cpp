#include "BackupSeries.h"

#include <chrono>
#include <ctime>
#include <exception>
#include <filesystem>
#include <thread>

#include "Cli.h"
#include "Console.h"
#include "Report.h"
#include "Rotation.h"
#include "RunLock.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"

namespace tolvan::cli {
namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(200);

// A database key names a server when it has one of two or more characters before its ":".
bool NamesServer(const std::string& key) {
  const auto colon = key.find(':');
  return colon != std::string::npos && colon >= 2;
}

}  // namespace

std::optional<std::string> LocalBackupName(PluginKind kind, const Options& o) {
  const std::string& name = o.export_name;
  if (name == "Backup" || name == "BackupConn") {
    if (o.file.empty() || (o.service && NamesServer(o.database.value_or("")))) {
      return std::nullopt;
    }
    return o.file;
  }
  if (name == "CriarBackup" && kind == PluginKind::PostgreSQL) {
    if (!o.file.empty()) {
      return o.file;
    }
    // The export's own dump: temp/<database>.dump beside the program.
    const std::string key = o.database.value_or("");
    const auto colon = key.find(':');
    return tolvan::platform::ExecutableDirectory() + "temp" + tolvan::platform::kPathDelimiter +
           (colon == std::string::npos ? key : key.substr(colon + 1)) + ".dump";
  }
  return std::nullopt;
}

int RunBackupSeries(const std::string& final_name, Options& run, std::ostream& err,
                    const std::function<int()>& body, const std::function<int()>& interrupted) {
  std::unique_ptr<RunLock> lock;
  // Only beside a backup file: at a name that is a folder, a device or a pipe, or in a folder that
  // is not there, nothing is made, and the run says what is wrong with its target itself.
  const bool lockable =
      !tolvan::platform::PathEntryExists(final_name) || tolvan::platform::IsPlainFile(final_name);
  try {
    for (bool said = false; lockable && !(lock = RunLock::TryTake(final_name));) {
      if (run.no_wait) {
        err << "tolvan: outra execução está gravando " << final_name
            << " agora; nada foi feito (--no-wait). Tente de novo quando ela terminar.\n";
        return kExitBusy;
      }
      if (!said) {
        err << "Outra execução está gravando " << final_name
            << "; esperando ela terminar (com --no-wait o tolvan sai sem esperar)...\n"
            << std::flush;
        said = true;
      }
      if (tolvan::platform::InterruptSignal() != 0) {
        return interrupted();
      }
      std::this_thread::sleep_for(kLockPoll);
    }
  } catch (const std::system_error&) {
    // No lock file can be made beside the name (a folder that is not there, or not writable):
    // the run itself fails on that with its own message.
  }
  if (run.keep > 0) {
    const std::time_t now = std::time(nullptr);
    run.file = NextDatedPath(final_name, *std::localtime(&now));
    // What the newest backup of the name counted weighs each table in this run's percentage.
    for (const DatedBackup& backup : ListDatedBackups(final_name)) {
      if (backup.record && !backup.record->rows.empty()) {
        run.table_rows = {backup.record->rows.begin(), backup.record->rows.end()};
        break;
      }
    }
  }
  const int status = body();
  if (status != kExitOk || run.keep <= 0 || tolvan::platform::InterruptSignal() != 0) {
    return status;
  }
  try {
    const Rotation rotation = KeepNewest(final_name, run.file, static_cast<std::size_t>(run.keep),
                                         run.verify, *run.rows_written);
    if (!run.quiet_result || !rotation.failed.empty()) {
      err << RotationLine(static_cast<std::size_t>(run.keep), rotation);
    }
    return rotation.failed.empty() ? kExitOk : kExitFailure;
  } catch (const std::exception& e) {
    err << ErrorBlock(e.what());
    return kExitFailure;
  }
}

int ListBackups(const Options& o, std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<DatedBackup> backups = ListDatedBackups(o.file);
  out << ListingText(backups, OutputColumns()) << std::flush;
  if (!o.quiet_result) {
    const std::string name = std::filesystem::path(o.file).filename().string();
    err << (backups.size() == 1
                ? "1 backup datado de " + name + " listado"
                : std::to_string(backups.size()) + " backups datados de " + name + " listados")
        << " em " << FormatDuration(std::chrono::steady_clock::now() - start) << "\n";
  }
  return kExitOk;
}

}  // namespace tolvan::cli
