// A new database equipped with the embedded declaration scripts through the plug-in
// (CriarDataBaseFD) against Firebird's isql-fb -i running the same scripts on a fresh database,
// interleaved in one run on the test server. Prints the ratio plug-in / isql (goal: at most 0.5).
// Usage: bench_firebird_scripts [rounds]   (needs TOLVAN_FB_*: scripts/firebird-server start)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Median.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace {

namespace fs = std::filesystem;
using tolvan::bench::Clock;
using tolvan::bench::Median;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Env(const char* name) {
  auto value = tolvan::platform::GetEnv(name);
  if (!value) {
    std::fprintf(stderr, "%s not set: source \"$(scripts/firebird-server start)\"\n", name);
    std::exit(2);
  }
  return *value;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string host = Env("TOLVAN_FB_HOST");
  const std::string port = Env("TOLVAN_FB_PORT");
  const std::string user = Env("TOLVAN_FB_USER");
  const std::string password = Env("TOLVAN_FB_PASSWORD");
  const std::string data = Env("TOLVAN_FB_DATA");

  const std::string real = tolvan::platform::RealExecutablePath();
  auto plugin = tolvan::platform::DynamicLibrary::Load(real.substr(0, real.rfind('/') + 1) +
                                                       "TolvanFirebird.so");
  auto criar_fd = plugin->Function<tolvan::CriarDataBaseFDFn>("CriarDataBaseFD");
  std::vector<std::string> failures;
  vesk::SetDialogSink([&](const vesk::Dialog& d) {
    failures.push_back(d.Text);
    return 0;
  });

  // The same statements for isql: the scripts as embedded, then the final two.
  const std::string scripts = Slurp(TOLVAN_SCRIPTS_FOLDER "/fbudf.sql") +
                              Slurp(TOLVAN_SCRIPTS_FOLDER "/ib_udf2.sql") +
                              Slurp(TOLVAN_DECLARATIONS_SCRIPT) +
                              "DECLARE EXTERNAL FUNCTION ADD_MONTHS timestamp, integer RETURNS "
                              "timestamp ENTRY_POINT 'addMonth' MODULE_NAME 'fbudf';\n"
                              "CREATE EXCEPTION ERROR 'not supported';\nCOMMIT;\n";

  std::vector<double> plugin_times;
  std::vector<double> isql_times;
  const std::string stem = data + "/bench_scripts_" + std::to_string(getpid());
  for (int round = 0; round < rounds; ++round) {
    const std::string a = stem + "_p" + std::to_string(round) + ".fdb";
    const std::string b = stem + "_i" + std::to_string(round) + ".fdb";

    auto start = Clock::now();
    criar_fd(host, std::atoi(port.c_str()), a, user, password);
    plugin_times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (!failures.empty()) {
      std::fprintf(stderr, "plug-in failed: %s\n", failures[0].c_str());
      return 1;
    }

    // The password goes through the pipe, never on a command line or on disk.
    start = Clock::now();
    FILE* isql = popen("isql-fb -q -i /dev/stdin >/dev/null 2>&1", "w");
    if (isql == nullptr) {
      std::perror("isql-fb");
      return 1;
    }
    const std::string input = "SET SQL DIALECT 3;\nCREATE DATABASE '" + host + "/" + port + ":" +
                              b + "' USER '" + user + "' PASSWORD '" + password + "';\n" + scripts;
    std::fwrite(input.data(), 1, input.size(), isql);
    const int status = pclose(isql);
    isql_times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (status != 0) {
      std::fprintf(stderr, "isql-fb failed (status %d)\n", status);
      return 1;
    }
    std::error_code ignored;
    fs::remove(a, ignored);
    fs::remove(b, ignored);
  }
  const double p = Median(plugin_times);
  const double i = Median(isql_times);
  std::printf("rounds %d: plug-in %.3f s, isql-fb -i %.3f s (medians); ratio %.3f (goal <= 0.5)\n",
              rounds, p, i, p / i);
  return 0;
}
