// A proven backup against the same work done by hand, in one run:
// - `tolvan firebird Backup --verify` against raw `gbak -b` plus `gbak -c` of the same embedded
//   database (goal: at most 1.10);
// - `tolvan postgresql CriarBackup --verify` against raw pg_dump plus createdb plus pg_restore
//   (goal: at most 1.15), when a PostgreSQL test cluster is given (TOLVAN_PG_HOST, TOLVAN_PG_PORT,
//   TOLVAN_PG_USER, TOLVAN_PG_PASSWORD).
// Prints the median time of each and the ratios. With a size in MiB, it also runs
// `tolvan postgresql CriarBackup --verify` once on a database whose one table holds that much
// under /usr/bin/time -v and prints the largest resident size it reports (tolvan's and the tools'
// it waited for; goal: at most 64 MiB for 1024 MiB). Needs tolvan, its plug-ins, gbak and the
// PostgreSQL/ folder beside it (scripts/layout-appdir).
// Usage: bench_verify [rounds] [firebird rows] [postgresql rows] [postgresql table MiB]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The output of a command line run to its end; a failure ends the benchmark.
std::string Output(const std::string& command_line,
                   std::vector<std::pair<std::string, std::string>> environment = {}) {
  tolvan::platform::LaunchOptions options;
  options.command_line = command_line;
  options.extra_environment = std::move(environment);
  auto child = tolvan::platform::LaunchProcess(options);
  std::string output;
  char buffer[64 * 1024];
  for (std::size_t count = 0; (count = child->Read(buffer, sizeof buffer)) > 0;) {
    output.append(buffer, count);
  }
  if (child->Wait() != 0) {
    std::fprintf(stderr, "failed: %s\n%s\n", command_line.c_str(), output.c_str());
    std::exit(1);
  }
  return output;
}

// Runs a command line to its end, its output read and dropped; the time it took.
double Run(const std::string& command_line,
           std::vector<std::pair<std::string, std::string>> environment = {}) {
  const auto start = Clock::now();
  Output(command_line, std::move(environment));
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

void Report(const char* what, double ours, double raw, double goal) {
  std::printf("%s: %.3f s, by hand %.3f s, ratio %.3f (goal <= %.2f)\n", what, ours, raw,
              ours / raw, goal);
}

void Firebird(const std::string& bin, const fs::path& folder, int rounds, int rows) {
  const std::string db = (folder / "loja.fdb").string();
  vesk::firebird::CreateDatabase(db, "SYSDBA", "");
  {
    TVeskSQLConnection c;
    c.DriverName = vesk::firebird::kDriverName;
    c.Params = {"Database=" + db, "USER_NAME=SYSDBA", "PASSWORD="};
    c.Open();
    for (int t = 1; t <= 8; ++t) {
      const std::string table = "T" + std::to_string(t);
      c.ExecuteDirect("create table " + table + " (id integer primary key, s varchar(200))");
      c.ExecuteDirect("execute block as declare i integer = 0; begin while (i < " +
                      std::to_string(rows / 8) + ") do begin insert into " + table +
                      " values (:i, lpad('x', 150, 'y')); i = i + 1; end end");
    }
    c.Close();
  }
  const std::string file = (folder / "loja.fbk").string();
  const std::string copy = (folder / "copia.fdb").string();
  std::vector<double> ours;
  std::vector<double> raw;
  std::vector<double> removals;
  for (int round = 0; round < rounds; ++round) {
    ours.push_back(Run(Quoted(bin + "tolvan") + " firebird Backup --database " + Quoted(db) +
                       " --user SYSDBA --password x --file " + Quoted(file) +
                       " --verify --yes --quiet-result"));
    fs::remove(file);
    // The same gbak lines the plug-in runs: backup verbose, restore verbose embedded.
    raw.push_back(Run(Quoted(bin + "gbak") + " -b -z -V " + Quoted(db) + " " + Quoted(file) +
                      " -user SYSDBA -pas x") +
                  Run(Quoted(bin + "gbak") + " -c -z -V " + Quoted(file) + " " + Quoted(copy) +
                      " -user SYSDBA -pas embutido -PAGE_SIZE 8192"));
    fs::remove(file);
    // tolvan removes its restored copy inside its own time; by hand it is left, and its removal
    // is shown apart, outside the ratio.
    const auto removal_start = Clock::now();
    fs::remove(copy);
    removals.push_back(std::chrono::duration<double>(Clock::now() - removal_start).count());
  }
  Report("Backup --verify / (gbak -b + gbak -c)", Median(ours), Median(raw), 1.10);
  std::printf("  removing the restored copy by hand, not in the ratio: %.3f s\n", Median(removals));
}

// The PostgreSQL test cluster of the environment.
struct Cluster {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
  // The connection options of the tools, and the password in their environment.
  std::string Where() const { return " -h " + host + " -p " + port + " -U " + user; }
  std::vector<std::pair<std::string, std::string>> Secret() const {
    return {{"PGPASSWORD", password}};
  }
};

std::optional<Cluster> TestCluster() {
  using tolvan::platform::GetEnv;
  const auto host = GetEnv("TOLVAN_PG_HOST");
  const auto port = GetEnv("TOLVAN_PG_PORT");
  const auto user = GetEnv("TOLVAN_PG_USER");
  const auto password = GetEnv("TOLVAN_PG_PASSWORD");
  if (!host || !port || !user || !password) {
    std::printf("CriarBackup --verify: no PostgreSQL test cluster, left out\n");
    return std::nullopt;
  }
  return Cluster{*host, *port, *user, *password};
}

void Postgres(const std::string& bin, const fs::path& folder, const Cluster& pg, int rounds,
              int rows) {
  const std::vector<std::pair<std::string, std::string>> secret = pg.Secret();
  const std::string tools = bin + "PostgreSQL/";
  const std::string pg_bin = "/usr/lib/postgresql/15/bin/";
  const std::string where = pg.Where();
  const std::string name = "tolvan_bench_" + std::to_string(getpid());
  Run(pg_bin + "createdb" + where + " " + name, secret);
  Run(pg_bin + "psql -q" + where + " -d " + name +
          " -c \"create table a (id integer primary key, s text); create table b (id integer "
          "primary key, a integer references a(id), v numeric); insert into a select i, "
          "repeat('x', 150) from generate_series(1, " +
          std::to_string(rows / 2) + ") i; insert into b select i, i, i from generate_series(1, " +
          std::to_string(rows / 2) + ") i; create index b_v on b (v)\"",
      secret);
  const std::string file = (folder / "loja.dump").string();
  const std::string copy = name + "_copia";
  std::vector<double> ours;
  std::vector<double> raw;
  for (int round = 0; round < rounds; ++round) {
    ours.push_back(Run(Quoted(bin + "tolvan") + " postgresql CriarBackup --database " + pg.host +
                           "/" + pg.port + ":" + name + " --user " + pg.user +
                           " --verify --yes --quiet-result",
                       {{"TOLVAN_PASSWORD", pg.password}}));
    fs::remove(file);
    raw.push_back(
        Run(Quoted(tools + "pg_dump") + where + " -F t -f " + Quoted(file) + " " + name, secret) +
        Run(pg_bin + "createdb" + where + " -T template0 " + copy, secret) +
        Run(Quoted(tools + "pg_restore") + where + " -d " + copy + " " + Quoted(file), secret));
    Run(pg_bin + "dropdb" + where + " " + copy, secret);
    fs::remove(file);
  }
  Run(pg_bin + "dropdb" + where + " " + name, secret);
  Report("CriarBackup --verify / (pg_dump + createdb + pg_restore)", Median(ours), Median(raw),
         1.15);
}

// The largest resident size over one CriarBackup --verify of a database whose one table holds
// `mib` MiB (rows of about 1 KiB in the dump).
void PostgresMemory(const std::string& bin, const fs::path& folder, const Cluster& pg, int mib) {
  const std::vector<std::pair<std::string, std::string>> secret = pg.Secret();
  const std::string pg_bin = "/usr/lib/postgresql/15/bin/";
  const std::string where = pg.Where();
  const std::string name = "tolvan_bench_memory_" + std::to_string(getpid());
  const long rows = static_cast<long>(mib) * 1024 * 1024 / 1000;
  Run(pg_bin + "createdb" + where + " " + name, secret);
  Run(pg_bin + "psql -q" + where + " -d " + name +
          " -c \"create table grande (id bigint, s text); insert into grande select i, "
          "repeat(md5(i::text), 30) from generate_series(1, " +
          std::to_string(rows) + ") i\"",
      secret);
  const std::string file = (folder / "grande.dump").string();
  const std::string report =
      Output("/usr/bin/time -v " + Quoted(bin + "tolvan") + " postgresql CriarBackup --database " +
                 pg.host + "/" + pg.port + ":" + name + " --user " + pg.user + " --file " +
                 Quoted(file) + " --verify --yes --quiet-result",
             {{"TOLVAN_PASSWORD", pg.password}});
  const std::string label = "Maximum resident set size (kbytes): ";
  const auto at = report.find(label);
  const double resident_mib =
      at == std::string::npos ? -1 : std::atof(report.c_str() + at + label.size()) / 1024;
  std::printf(
      "CriarBackup --verify of a table of %ld rows, dump %.0f MiB: max resident %.1f MiB "
      "(goal <= 64)\n",
      rows, static_cast<double>(fs::file_size(file)) / (1024 * 1024), resident_mib);
  fs::remove(file);
  Run(pg_bin + "dropdb" + where + " " + name, secret);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  const int firebird_rows = argc > 2 ? std::atoi(argv[2]) : 300000;
  const int postgres_rows = argc > 3 ? std::atoi(argv[3]) : 300000;
  const int postgres_mib = argc > 4 ? std::atoi(argv[4]) : 0;
  const std::string bin = tolvan::platform::ExecutableDirectory();
  if (!fs::exists(bin + "tolvan") || !fs::exists(bin + "gbak")) {
    std::fprintf(stderr, "no tolvan and gbak in %s (scripts/layout-appdir)\n", bin.c_str());
    return 1;
  }
  const fs::path folder =
      fs::temp_directory_path() / ("tolvan-verify-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "lock");
  tolvan::platform::SetEnv("FIREBIRD_LOCK", (folder / "lock").string());
  if (firebird_rows > 0 && rounds > 0) {
    Firebird(bin, folder, rounds, firebird_rows);
  }
  if (const auto pg = TestCluster()) {
    if (rounds > 0) {
      Postgres(bin, folder, *pg, rounds, postgres_rows);
    }
    if (postgres_mib > 0) {
      PostgresMemory(bin, folder, *pg, postgres_mib);
    }
  }
  fs::remove_all(folder);
  return 0;
}
