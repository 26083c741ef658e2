// Backup through the Firebird plug-in against the same gbak command line run directly, on an
// embedded database of at least 50 MB, in one run; and the frame's line throughput while gbak
// runs verbose. Prints the ratio plug-in / raw gbak (goal: at most 1.03).
// Usage: bench_firebird_backup [rounds] [rows]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "LinkedPlugin.h"
#include "Median.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Firebird.h"

namespace {

namespace fs = std::filesystem;
using tolvan::bench::Clock;
using tolvan::bench::Median;

class CountingFrame : public TVeskFraProgresso {
 public:
  std::size_t lines = 0;

 protected:
  void ShowLine(const std::string&) override { ++lines; }
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The command line as a plain caller would run it: output read and dropped, exit code checked.
double RunRaw(const std::string& command_line) {
  const auto start = Clock::now();
  tolvan::platform::LaunchOptions options;
  options.command_line = command_line;
  auto child = tolvan::platform::LaunchProcess(options);
  char buffer[64 * 1024];
  while (child->Read(buffer, sizeof buffer) > 0) {
  }
  if (child->Wait() != 0) {
    std::fprintf(stderr, "raw gbak failed: %s\n", command_line.c_str());
    std::exit(1);
  }
  return Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const int rows = argc > 2 ? std::atoi(argv[2]) : 300000;
  if (!fs::exists("/usr/bin/gbak")) {
    std::fprintf(stderr, "no /usr/bin/gbak (package firebird3.0-utils)\n");
    return 1;
  }
  // Linked into this program, the plug-in sees the application folder made below.
  const auto backup =
      tolvan::testing::LinkedPlugin::Load("TolvanFirebird")->Function<tolvan::BackupFn>("Backup");

  const fs::path folder =
      fs::temp_directory_path() / ("tolvan-backup-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "bin");
  fs::create_directories(folder / "lock");
  fs::create_symlink("/usr/bin/gbak", folder / "bin" / "gbak");
  fs::create_symlink("/usr/lib/x86_64-linux-gnu/libfbclient.so.2",
                     folder / "bin" / "libfbclient.so.2");
  tolvan::platform::SetEnv("FIREBIRD_LOCK", (folder / "lock").string());
  tolvan::platform::ScopedExecutablePathOverride app((folder / "bin" / "tolvan").string());

  const std::string database = (folder / "bench.fdb").string();
  const std::string file = (folder / "bench.fbk").string();
  vesk::firebird::CreateDatabase(database, "SYSDBA", "");
  {
    TVeskSQLConnection connection;
    connection.DriverName = vesk::firebird::kDriverName;
    connection.Params = {"Database=" + database, "USER_NAME=SYSDBA", "PASSWORD="};
    connection.ExecuteDirect(
        "create table itens (id integer not null primary key, texto varchar(200), valor double "
        "precision)");
    connection.ExecuteDirect("execute block as declare i integer = 0; begin while (i < " +
                             std::to_string(rows) +
                             ") do begin insert into itens values (:i, uuid_to_char(gen_uuid()) || "
                             "uuid_to_char(gen_uuid()) || uuid_to_char(gen_uuid()) || "
                             "uuid_to_char(gen_uuid()) || uuid_to_char(gen_uuid()), :i * 1.5); "
                             "i = i + 1; end end");
    connection.Close();
  }
  const double megabytes = static_cast<double>(fs::file_size(database)) / (1024.0 * 1024.0);
  std::printf("database: %.1f MB, %d rows; %d rounds, alternating\n", megabytes, rows, rounds);

  const std::string command_line = (folder / "bin" / "gbak").string() + " -b -z -V \"" + database +
                                   "\" \"" + file + "\" -user SYSDBA -pas x";
  if (megabytes < 50) {
    std::printf("note: below the 50 MB the comparison is meant for; give more rows\n");
  }
  std::vector<double> raw_times;
  std::vector<double> plugin_times;
  std::vector<double> capture_times;
  std::size_t lines = 0;
  RunRaw(command_line);  // warm the page cache
  for (int round = 0; round < rounds; ++round) {
    const auto raw_run = [&] {
      fs::remove(file);
      raw_times.push_back(RunRaw(command_line));
    };
    const auto plugin_run = [&] {
      fs::remove(file);
      CountingFrame frame;
      const auto start = Clock::now();
      backup(database, "SYSDBA", "x", file, false, &frame, false, false, "", "libfbclient.so.2",
             false);
      plugin_times.push_back(Seconds(Clock::now() - start));
      lines = frame.lines;
    };
    const auto capture_run = [&] {
      fs::remove(file);
      CountingFrame frame;
      const auto start = Clock::now();
      CaptureExecute(command_line, "", ".", [&frame](const std::string& line, bool& stop) {
        frame.DoCaptureLine(line, stop);
      });
      capture_times.push_back(Seconds(Clock::now() - start));
    };
    capture_run();
    // Neither always runs first, so that neither always finds the other's leftovers.
    if (round % 2 == 0) {
      raw_run();
      plugin_run();
    } else {
      plugin_run();
      raw_run();
    }
  }
  const double raw = Median(raw_times);
  const double through_plugin = Median(plugin_times);
  std::printf("raw gbak:       median %.3f s\n", raw);
  std::printf("CaptureExecute: median %.3f s (the toolkit's runner alone, same frame)\n",
              Median(capture_times));
  std::printf("through Backup: median %.3f s (%zu lines to the frame, %.0f lines/s)\n",
              through_plugin, lines, static_cast<double>(lines) / through_plugin);
  std::printf("ratio plug-in / raw gbak: %.3f (goal: at most 1.03)\n", through_plugin / raw);

  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
