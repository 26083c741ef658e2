// CriarDataBaseVazia against the same work done by hand in the same run: pg_dump of the schema,
// CREATE DATABASE from template0 and pg_restore, on the private test cluster (TOLVAN_PG_*).
// Rounds alternate between the two so that load changes touch both alike. Prints the ratio of
// the medians (goal: at most 1.05).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Median.h"
#include "TolvanPostgreSQLUtil.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace {

namespace fs = std::filesystem;
using tolvan::bench::Clock;
using tolvan::bench::Median;

constexpr int kRounds = 7;
const std::string kBin = "/usr/lib/postgresql/15/bin/";

std::string Env(const char* name) {
  auto value = tolvan::platform::GetEnv(name);
  if (!value) {
    std::fprintf(stderr, "%s is not set: source the env file of scripts/postgres-server start\n",
                 name);
    std::exit(2);
  }
  return *value;
}

void Run(const std::string& command_line) {
  std::string output;
  if (WinExec32AndRedirectOutput(command_line, output) != 0) {
    std::fprintf(stderr, "failed: %s\n%s\n", command_line.c_str(), output.c_str());
    std::exit(1);
  }
}

}  // namespace

int main() {
  const std::string host = Env("TOLVAN_PG_HOST");
  const std::string port = Env("TOLVAN_PG_PORT");
  const std::string user = Env("TOLVAN_PG_USER");
  const std::string password = Env("TOLVAN_PG_PASSWORD");
  const std::string key = host + "/" + port + ":";

  const fs::path app = fs::temp_directory_path() / ("tolvan-bench-pg-" + std::to_string(getpid()));
  fs::create_directories(app / "PostgreSQL");
  fs::create_directories(app / "temp");
  for (const char* tool : {"pg_dump", "pg_restore"}) {
    fs::copy_file(kBin + tool, app / "PostgreSQL" / tool);
  }
  tolvan::platform::ScopedExecutablePathOverride exe((app / "bench").string());

  auto connect = [&](const std::string& database) {
    auto conn = std::make_unique<TVeskSQLConnection>();
    ConfigurarSQLConnection(conn.get(), 3);
    conn->Params = {"Database=" + key + database, "USER_NAME=" + user, "PASSWORD=" + password};
    conn->Open();
    return conn;
  };
  const std::string tpl = "bench_tpl_" + std::to_string(getpid());
  auto admin = connect("postgres");
  admin->ExecuteDirect("CREATE DATABASE " + tpl);
  {
    auto t = connect(tpl);
    std::string schema;
    for (int i = 0; i < 40; ++i) {
      const std::string n = std::to_string(i);
      schema += "create table t" + n +
                "(id serial primary key, a text unique, b int check (b > 0));" + "create index t" +
                n + "_b on t" + n + "(b);" + "create view v" + n + " as select a from t" + n + ";";
    }
    t->ExecuteDirect(schema);
  }
  auto host_conn = connect(tpl);
  TVeskDMConexao dm;
  dm.SQLConnection = host_conn.get();

  std::vector<std::string> made;
  std::vector<double> plugin_ms, hand_ms;
  const std::string file = (app / "temp" / "hand.tar").string();
  for (int round = 0; round < kRounds; ++round) {
    const std::string a = "bench_p_" + std::to_string(getpid()) + "_" + std::to_string(round);
    const std::string b = "bench_h_" + std::to_string(getpid()) + "_" + std::to_string(round);
    made.push_back(a);
    made.push_back(b);

    auto start = Clock::now();
    tolvan::postgresql::CriarDataBaseVazia(&dm, a);
    plugin_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

    start = Clock::now();
    tolvan::platform::SetEnv("PGPASSWORD", password);
    Run(kBin + "pg_dump -h " + host + " -p " + port + " -U " + user + " -F t -s -f \"" + file +
        "\" " + tpl);
    auto creator = connect("postgres");
    creator->ExecuteDirect(tolvan::postgresql::CreationStatement(b));
    Run(kBin + "pg_restore -h " + host + " -p " + port + " -U " + user + " -d " + b + " \"" + file +
        "\"");
    tolvan::platform::SetEnv("PGPASSWORD", "");
    fs::remove(file);
    hand_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }

  host_conn.reset();
  for (const auto& name : made) {
    admin->ExecuteDirect("DROP DATABASE IF EXISTS " + name);
  }
  admin->ExecuteDirect("DROP DATABASE IF EXISTS " + tpl + " WITH (FORCE)");
  fs::remove_all(app);

  const double plugin = Median(plugin_ms);
  const double hand = Median(hand_ms);
  std::printf("CriarDataBaseVazia median %.1f ms, by hand median %.1f ms, %d rounds each\n", plugin,
              hand, kRounds);
  std::printf("ratio CriarDataBaseVazia / by hand: %.3f (goal: at most 1.05)\n", plugin / hand);
  return 0;
}
