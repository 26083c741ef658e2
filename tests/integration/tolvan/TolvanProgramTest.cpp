// The tolvan program run as an operator runs it, on the embedded engine with the real gbak: what it
// says when a run ends, how it refuses a command line, its progress on a terminal, how it ends on
// SIGINT, SIGTERM and SIGHUP and what a killed tolvan leaves, and accented paths whatever the
// locale.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ExportTable.h"
#include "FirebirdTestServer.h"
#include "Plugin.h"
#include "Report.h"
#include "RunningTolvan.h"
#include "StatusText.h"
#include "ci/PostgresTestCluster.h"
#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

using tolvan_test::LastLine;
using tolvan_test::Outcome;
using tolvan_test::RunTolvan;
using tolvan_test::TerminalPieces;
using tolvan_test::Tolvan;

// The gbak that a process started, if one runs.
std::optional<pid_t> GbakChildOf(pid_t parent) {
  for (const tolvan_test::ChildProcess& child : tolvan_test::ChildrenOf(parent)) {
    if (child.comm == "gbak") {
      return child.pid;
    }
  }
  return std::nullopt;
}

bool ProcessRuns(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  return static_cast<bool>(std::getline(stat, line)) && line.find(") Z") == std::string::npos;
}

// A folder of its own for each test, with the embedded engine's lock folder and the default
// database's data folder in it.
class TolvanProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fs::exists(tolvan::platform::ExecutableDirectory() + "tolvan")) {
      GTEST_FAIL() << "no tolvan program beside the test";
    }
  }

  void SetUp() override {
    dir_ = tolvan_test::FreshFolder("tolvan-program", {"lock"});
    env_ = {"XDG_DATA_HOME=" + (dir_ / "data").string(),
            "FIREBIRD_LOCK=" + (dir_ / "lock").string()};
    tolvan::platform::SetEnv("FIREBIRD_LOCK", (dir_ / "lock").string());
    // Filling a database is many times faster in memory, where the engine's syncs cost nothing.
    memory_dir_ = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") / dir_.filename() : dir_;
    fs::create_directories(memory_dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    fs::remove_all(memory_dir_);
  }

  bool HaveGbak() const { return fs::exists(tolvan::platform::ExecutableDirectory() + "gbak"); }

  // An embedded database with `tables` tables of `rows` rows each.
  std::string MakeDatabase(const std::string& name, int tables, int rows) const {
    const std::string path = (memory_dir_ / name).string();
    FillDatabase(path, "", tables, rows);
    return path;
  }

  // The same on the database of that key (a server's, with its password).
  static void FillDatabase(const std::string& path, const std::string& password, int tables,
                           int rows) {
    vesk::firebird::CreateDatabase(path, "SYSDBA", password);
    TVeskSQLConnection connection;
    connection.DriverName = vesk::firebird::kDriverName;
    connection.Params = {"Database=" + path, "USER_NAME=SYSDBA", "PASSWORD=" + password};
    connection.Open();
    for (int t = 1; t <= tables; ++t) {
      const std::string table = "T" + std::to_string(t);
      connection.ExecuteDirect("create table " + table + " (id integer, s varchar(200))");
      connection.ExecuteDirect("execute block as declare i integer = 0; begin while (i < " +
                               std::to_string(rows) + ") do begin insert into " + table +
                               " values (:i, lpad('x', 200, 'y')); i = i + 1; end end");
    }
    connection.Close();
  }

  // A database large enough that gbak takes a good part of a second on it, and its backup.
  const std::string& BigBackup() {
    if (big_backup_.empty()) {
      const std::string db = MakeDatabase("big.fdb", 30, 15000);
      big_backup_ = (dir_ / "big.fbk").string();
      const Outcome r = RunTolvan({"firebird", "Backup", "--database", db, "--user", "SYSDBA",
                                   "--password", "x", "--file", big_backup_, "--quiet", "--yes"},
                                  env_);
      EXPECT_EQ(r.status, 0) << r.err;
    }
    return big_backup_;
  }

  fs::path dir_;
  fs::path memory_dir_;
  std::vector<std::string> env_;
  std::string big_backup_;
};

TEST_F(TolvanProgram, EveryRunEndsWithAResultLineThatScriptsCanLeaveOut) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  const std::string db = (dir_ / "loja nova.fdb").string();
  Outcome r = RunTolvan({"firebird", "CriarDataBase", "--target", db}, env_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(LastLine(r.err),
              MatchesRegex("Banco de dados criado: .*loja nova\\.fdb em [0-9]+,[0-9] s"));

  const std::string file = (dir_ / "cópia.fbk").string();
  r = RunTolvan({"firebird", "Backup", "--database", db, "--user", "SYSDBA", "--password", "x",
                 "--file", file, "--yes"},
                env_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(LastLine(r.err).substr(0, LastLine(r.err).rfind(" em ")),
            "Backup concluído: " + file + ", " + tolvan::cli::FormatSize(fs::file_size(file)));
  EXPECT_THAT(LastLine(r.err), MatchesRegex(".* em [0-9]+,[0-9] s"));

  const std::string restored = (dir_ / "restaurado.fdb").string();
  r = RunTolvan({"firebird", "Restore", "--database", restored, "--user", "SYSDBA", "--password",
                 "x", "--file", file, "--yes", "--quiet-result"},
                env_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(restored));
  EXPECT_THAT(r.err, Not(HasSubstr("concluída")));

  // A failed run: the message as lines under one heading, gbak's errors first, then "falhou".
  r = RunTolvan({"firebird", "Backup", "--database", (dir_ / "nenhum.fdb").string(), "--user",
                 "SYSDBA", "--password", "x", "--file", (dir_ / "x.fbk").string(), "--yes"},
                env_);
  EXPECT_EQ(r.status, 1);
  // gbak's lines were printed as they came: the error block does not say them again.
  const std::string error_line = "gbak: ERROR:I/O error during \"open\" operation";
  ASSERT_THAT(r.err, HasSubstr(error_line));
  EXPECT_EQ(r.err.find(error_line), r.err.rfind(error_line)) << r.err;
  const std::string block = r.err.substr(r.err.find("erro:\n"));
  EXPECT_THAT(block, Not(HasSubstr("gbak:"))) << block;
  EXPECT_THAT(LastLine(r.err), MatchesRegex("Backup falhou em [0-9]+,[0-9] s"));
  EXPECT_FALSE(fs::exists(dir_ / "x.fbk"));
}

// What is left of an error block once the tool's lines printed above are taken out may be only
// its heading: the block says where the reason is, or what is missing.
TEST_F(TolvanProgram, AnErrorBlockWhoseReasonWasPrintedAboveSaysWhereToLook) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string env;
    std::string named;  // what the block must name beyond the export's own text
  };
  std::vector<Case> cases = {
      {"a restore of a backup that is not there",
       {"firebird", "Restore", "--database", (dir_ / "novo.fdb").string(), "--user", "SYSDBA",
        "--password", "x", "--file", (dir_ / "nenhum.fbk").string(), "--yes"},
       "",
       ""},
  };
  if (const auto server = tolvan::test::FindFirebirdServer()) {
    cases.push_back({"a server's backup with TOLVAN_PASSWORD empty",
                     {"firebird", "Backup", "--database", server->DataKey("nenhum.fdb"), "--user",
                      server->user, "--file", (dir_ / "x.fbk").string(), "--yes"},
                     "TOLVAN_PASSWORD=",
                     "TOLVAN_PASSWORD"});
  } else if (tolvan::testing::UnderCi()) {
    FAIL() << tolvan::test::NoFirebirdServerMessage();
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> env = env_;
    if (!c.env.empty()) {
      env.push_back(c.env);
    }
    const Outcome r = RunTolvan(c.args, env);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string block = r.err.substr(r.err.find("erro:\n"));
    const std::string lines = block.substr(0, block.rfind(" falhou em "));
    EXPECT_GT(std::count(lines.begin(), lines.end(), '\n'), 2) << "more than the heading";
    EXPECT_THAT(block, Not(HasSubstr("gbak:"))) << "the tool's lines not said again";
    EXPECT_THAT(block, HasSubstr(c.named));
  }
}

TEST_F(TolvanProgram, CriarBackupPrintsThePathOfTheDumpItWrote) {
  const auto pg = tolvan::test::FindPostgresCluster();
  if (!pg) {
    TOLVAN_SKIP_OR_FAIL("no PostgreSQL test cluster: source \"$(scripts/postgres-server start)\"");
  }
  const std::string name = "tolvan_cli_" + std::to_string(getpid());
  const std::vector<std::string> env = {"TOLVAN_PASSWORD=" + pg->password};
  Outcome r = RunTolvan({"postgresql", "CriarDataBaseFD", "--server", pg->host, "--port", pg->port,
                         "--target", name, "--new-user", pg->user, "--new-password", pg->password},
                        env);
  ASSERT_EQ(r.status, 0) << r.err;

  const std::string dump = tolvan::platform::ExecutableDirectory() + "temp/" + name + ".dump";
  r = RunTolvan({"postgresql", "CriarBackup", "--database", pg->host + "/" + pg->port + ":" + name,
                 "--user", pg->user, "--yes"},
                env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dump + "\n");
  ASSERT_TRUE(fs::exists(dump));
  EXPECT_EQ(LastLine(r.err).substr(0, LastLine(r.err).rfind(" em ")),
            "Backup concluído: " + dump + ", " + tolvan::cli::FormatSize(fs::file_size(dump)));
  fs::remove(dump);
}

TEST_F(TolvanProgram, CriarDataBaseVaziaRunsGbakWithTheClientLibraryBackupGets) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  // No --client-library: the gbak guard must still be given the client library's file name.
  const std::string source = MakeDatabase("modelo.fdb", 2, 10);
  const std::string target = (dir_ / "vazio.fdb").string();
  const Outcome r = RunTolvan({"firebird", "CriarDataBaseVazia", "--database", source, "--user",
                               "SYSDBA", "--password", "x", "--target", target, "--yes"},
                              env_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(target));
  EXPECT_THAT(LastLine(r.err), StartsWith("Banco de dados criado com a estrutura de " + source));
}

TEST_F(TolvanProgram, CriarDataBaseThatReportsAFailureWithoutRaisingExitsOne) {
  const Outcome r = RunTolvan(
      {"firebird", "CriarDataBase", "--target", (dir_ / "no such folder" / "x.fdb").string()},
      env_);
  EXPECT_EQ(r.status, 1) << r.err;
  // Said once, under "erro:", with the log file where it went too.
  const fs::path log = dir_ / "data" / "tolvan" / "tolvan.log";
  EXPECT_THAT(r.err, StartsWith("erro:\n  I/O error during \"open O_CREAT\" operation"));
  EXPECT_THAT(r.err, HasSubstr("\n  (gravado também no log " + log.string() + ")\n"));
  EXPECT_EQ(r.err.find("I/O error"), r.err.rfind("I/O error")) << r.err;
  std::ifstream log_file(log);
  const std::string logged((std::istreambuf_iterator<char>(log_file)), {});
  EXPECT_THAT(logged, HasSubstr("[CriarDataBase] I/O error during"));
  EXPECT_EQ(fs::status(log).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write)
      << "a new log is its owner's alone";
  EXPECT_THAT(LastLine(r.err), MatchesRegex("CriarDataBase falhou em [0-9]+,[0-9] s"));

  const Outcome fd =
      RunTolvan({"firebird", "CriarDataBaseFD", "--server", "localhost", "--port", "1", "--target",
                 "/x.fdb", "--new-user", "SYSDBA", "--new-password", "x"},
                env_);
  EXPECT_EQ(fd.status, 1) << fd.err;
  EXPECT_THAT(LastLine(fd.err), StartsWith("CriarDataBaseFD falhou em "));
}

TEST_F(TolvanProgram, EachMissingRequiredOptionIsNamedWithStatusTwo) {
  for (const auto& [word, kind] : {std::pair{"firebird", tolvan::cli::PluginKind::Firebird},
                                   std::pair{"postgresql", tolvan::cli::PluginKind::PostgreSQL}}) {
    const auto ref = tolvan::cli::ResolvePlugin(word, tolvan::platform::ExecutableDirectory());
    const auto library = tolvan::platform::DynamicLibrary::Load(ref.path);
    int checked = 0;
    for (const std::string& name : tolvan::cli::OfferedExports(*library)) {
      const auto options = tolvan::cli::OptionsOf(kind, name);
      for (const std::string& missing : options->required) {
        std::vector<std::string> args = {word, name};
        for (const std::string& given : options->required) {
          if (given != missing) {
            args.insert(args.end(), {given, given == "--port" ? "1" : "x"});
          }
        }
        SCOPED_TRACE(word + std::string(" ") + name + " without " + missing);
        const Outcome r = RunTolvan(args, env_);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_THAT(r.err, StartsWith("tolvan: " + name + " precisa da opção " + missing));
        const char after = r.err[("tolvan: " + name + " precisa da opção " + missing).size()];
        EXPECT_TRUE(after == '\n' || after == ':') << r.err;
        ++checked;
      }
    }
    EXPECT_GE(checked, 5) << word;
  }
  // An option that does not apply is refused the same way.
  const Outcome r = RunTolvan({"firebird", "Versao", "--file", "x"}, env_);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, StartsWith("tolvan: a opção --file não se aplica a Versao\n"));
}

TEST_F(TolvanProgram, UnknownExportGetsTheNearestNameAndAKnownOneAnyCase) {
  Outcome r = RunTolvan({"firebird", "Backp", "--file", "x"}, env_);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, StartsWith("tolvan: exportação desconhecida \"Backp\"; você quis dizer "
                                "\"Backup\"?"));
  r = RunTolvan({"FIREBIRD", "versao"}, env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Firebird"));
}

TEST_F(TolvanProgram, SuggestionsComeFromTheLoadedPluginAndOptionErrorsAreInPortuguese) {
  // "Backup" is no PostgreSQL export: it is not suggested there.
  Outcome r = RunTolvan({"postgresql", "Backp"}, env_);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, StartsWith("tolvan: exportação desconhecida \"Backp\" (tolvan postgresql"));
  r = RunTolvan({"POSTGRESQL", "CriarBackp"}, env_);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("você quis dizer \"CriarBackup\"?")) << "plug-in names ignore case";
  // An export of the family that another plug-in has: what this one offers instead.
  r = RunTolvan({"firebird", "CriarBackup"}, env_);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, StartsWith("tolvan: o plug-in firebird não oferece CriarBackup; você quis "
                                "dizer \"Backup\"?"));
  r = RunTolvan({"postgresql", "backup"}, env_);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, StartsWith("tolvan: o plug-in postgresql não oferece Backup; você quis "
                                "dizer \"CriarBackup\"?"));
  r = RunTolvan({"firebrid", "Versao"}, env_);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, StartsWith("tolvan: plug-in desconhecido \"firebrid\"; você quis dizer "
                                "firebird?"));
  // "help" as a word asks for the help, as --help does.
  for (const auto& [words, flag] :
       {std::pair{std::vector<std::string>{"help"}, std::vector<std::string>{"--help"}},
        std::pair{std::vector<std::string>{"firebird", "help"},
                  std::vector<std::string>{"firebird", "--help"}}}) {
    r = RunTolvan(words, env_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, RunTolvan(flag, env_).out);
  }

  const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
      {{"firebird", "Backup", "--databse", "x"},
       "tolvan: opção desconhecida --databse; você quis dizer --database?\n"},
      {{"firebird", "Backup", "--database", "x", "--file"},
       "tolvan: a opção --file precisa de um valor\n"},
      {{"firebird", "Backup", "--file", "--yes"}, "tolvan: a opção --file precisa de um valor\n"},
      {{"firebird", "CriarDataBaseFD", "--port", "abc"},
       "tolvan: a opção --port espera um número inteiro, e \"abc\" não é um\n"},
      {{"firebird", "CriarDataBaseFD", "--port=99999999999"},
       "tolvan: a opção --port espera um número inteiro, e \"99999999999\" não é um\n"},
      {{"firebird", "Versao", "demais"}, "tolvan: argumento a mais: \"demais\""},
      {{"firebird", "Versao", "--password", "minha", "senha"},
       "tolvan: argumento a mais depois do valor de --password (um valor com espaços vai entre "
       "aspas)\n"},
      {{"firebird", "Backup", "--file", "x.fbk"},
       "tolvan: Backup precisa da opção --database: o banco embutido padrão serve só ao tour e "
       "às consultas\n"},
  };
  for (const auto& [args, message] : errors) {
    SCOPED_TRACE(args.back());
    r = RunTolvan(args, env_);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, StartsWith(message));
    EXPECT_THAT(r.err, HasSubstr("\nuso: tolvan "));
  }
  EXPECT_FALSE(fs::exists(dir_ / "x.fbk"));

  r = RunTolvan({"--version"}, env_);
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out,
              MatchesRegex("tolvan [0-9]+\\.[0-9]+\\.[0-9]+ \\(commit [0-9a-z]+\\)\n"
                           "(.|\n)*  TolvanFirebird\\.so [0-9.]+ \\(commit [0-9a-z]+\\)\n(.|\n)*"));
}

// The lines a terminal shows: the text between line ends (a terminal ends them with CR LF).
std::vector<std::string> TerminalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

TEST_F(TolvanProgram, EveryHelpFitsTheTerminal) {
  const auto ref = tolvan::cli::ResolvePlugin("firebird", tolvan::platform::ExecutableDirectory());
  const auto library = tolvan::platform::DynamicLibrary::Load(ref.path);
  std::vector<std::vector<std::string>> helps = {
      {"--help"}, {"firebird", "--help"}, {"postgresql", "--help"}};
  for (const std::string& name : tolvan::cli::OfferedExports(*library)) {
    helps.push_back({"firebird", name, "--help"});
  }
  // Each export's example, by width: the text from "Exemplo:" to the blank line after it.
  std::map<std::string, std::map<unsigned short, std::string>> examples;
  for (const unsigned short columns : {40, 120}) {
    for (const auto& args : helps) {
      SCOPED_TRACE(std::to_string(columns) + " columns: " + ::testing::PrintToString(args));
      Tolvan tolvan(Tolvan::Start{args, env_, columns, false});
      const Outcome r = tolvan.Finish();
      ASSERT_EQ(r.status, 0) << r.err;
      const auto lines = TerminalLines(r.err);
      ASSERT_GT(lines.size(), 5u);
      for (const std::string& line : lines) {
        EXPECT_LE(tolvan::cli::DisplayWidth(line), columns) << line;
      }
      if (args.size() == 3) {
        EXPECT_THAT(r.err, HasSubstr("Exemplo:"));
        EXPECT_THAT(r.err, HasSubstr("130  interrompida por SIGINT"));
        std::string text = r.err;
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        const auto from = text.find("Exemplo:\n");
        ASSERT_NE(from, std::string::npos);
        examples[args[1]][columns] = text.substr(from + 9, text.find("\n\n", from) - from - 9);
      }
    }
  }
  // An example copied from a narrow terminal is the same command as from a wide one: the shell
  // reads the same words from its lines.
  const auto words = [&](const std::string& example) {
    Tolvan shell(Tolvan::Start{{"-c", "eval \"set -- $1\"; printf '%s|' \"$@\"", "sh", example},
                               env_,
                               std::nullopt,
                               false,
                               false,
                               "/bin/sh"});
    return shell.Finish().out;
  };
  for (const auto& [name, by_width] : examples) {
    SCOPED_TRACE(name);
    const std::string wide = words(by_width.at(120));
    EXPECT_THAT(wide, StartsWith("tolvan|firebird|" + name + "|"));
    EXPECT_EQ(words(by_width.at(40)), wide) << by_width.at(40);
  }
  // Piped on (tolvan --help | head), laid out for the terminal the operator reads it on.
  Tolvan piped(Tolvan::Start{
      {"-c", "\"$0\" --help | cat", tolvan::platform::ExecutableDirectory() + "tolvan"},
      env_,
      40,
      false,
      false,
      "/bin/sh"});
  const Outcome through_pipe = piped.Finish();
  ASSERT_EQ(through_pipe.status, 0) << through_pipe.err;
  for (const std::string& line : TerminalLines(through_pipe.err)) {
    EXPECT_LE(tolvan::cli::DisplayWidth(line), 40u) << line;
  }
  // Which of two neighbouring exports to take, in one line each.
  for (const char* name : {"Backup", "BackupConn", "Restore", "RestoreConn"}) {
    Outcome r = RunTolvan({"firebird", name, "--help"}, env_);
    std::replace(r.out.begin(), r.out.end(), '\n', ' ');
    EXPECT_THAT(r.out,
                HasSubstr(std::string(name).find("Backup") == 0 ? "sem abrir conexão; BackupConn"
                                                                : "sem conexão; RestoreConn"))
        << name;
  }
}

TEST_F(TolvanProgram, NoPasswordPromptForAnEmbeddedPath) {
  const std::string db = MakeDatabase("sem senha.fdb", 1, 1);
  Tolvan tolvan(Tolvan::Start{{"firebird", "Versao", "--database", db}, env_, 80, false});
  // A prompt would wait on the terminal for an answer that never comes.
  tolvan.ReadUntil("Senha", std::chrono::seconds(10));
  const Outcome r = tolvan.Finish();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("Senha")));
  EXPECT_THAT(r.err, HasSubstr("Versão do servidor lida em "));
}

TEST_F(TolvanProgram, PluginHelpListsItsExportsOneLineEachWithOnlyTheirOptions) {
  Outcome r = RunTolvan({"postgresql", "--help"}, env_);
  ASSERT_EQ(r.status, 0) << r.err;
  // An export's line wraps under its description on 80 columns.
  r.out = std::regex_replace(r.out, std::regex("\n {22}"), " ");
  EXPECT_THAT(r.out, HasSubstr("\n  CriarBackup "));
  EXPECT_THAT(r.out, MatchesRegex("(.|\n)*\n  CriarDataBaseFD +[^\n]*: --server --port --target "
                                  "\\[--new-user\\] \\[--new-password\\]\n(.|\n)*"));
  // CriarBackup takes --file (where its dump goes); no export here takes --metadata-only.
  EXPECT_THAT(r.out, MatchesRegex("(.|\n)*\n  CriarBackup +[^\n]*\\[--file\\][^\n]*\n(.|\n)*"));
  // Nothing the plug-in does not read: no Restore, no ODBC, no driver or client library, no
  // Firebird backup file in an example.
  for (const char* absent :
       {"\n  Backup ", "\n  PegarDataBases ", "--metadata-only", "--sql", "criado no primeiro uso",
        "Restore", "--odbc", "--driver", "--client-library", ".fbk"}) {
    EXPECT_THAT(r.out, Not(HasSubstr(absent))) << absent;
  }
  for (const char* status : {"\n   75  ", "\n  129  ", "\n  130  ", "\n  143  "}) {
    EXPECT_THAT(r.out, HasSubstr(status)) << "exit statuses";
  }

  r = RunTolvan({"firebird", "--help"}, env_);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& present :
       std::vector<std::string>{"\n  BackupConn ", "--file ARQUIVO", "--metadata-only",
                                (dir_ / "data" / "tolvan" / "default.fdb").string()}) {
    EXPECT_THAT(r.out, HasSubstr(present)) << present;
  }
  EXPECT_THAT(r.out, Not(HasSubstr("\n  CriarBackup ")));
  EXPECT_THAT(r.out, Not(HasSubstr("--odbc")));
  EXPECT_FALSE(fs::exists(dir_ / "data")) << "help must not create the database";
}

// The fields of one status line; a number shown cut would leave a field of digits alone or a
// count without its words.
void ExpectWholeFields(const std::string& piece) {
  static const std::regex whole(
      "[-|/\\\\] [0-9]+,[0-9] s|[-|/\\\\] [0-9]+ min [0-9]+ s|[0-9]+% \\([0-9]+/[0-9]+ tabelas\\)|"
      "[0-9]+ tabelas?|"
      "faltam (menos de 1 min|~[0-9].*)|[0-9.]+ linhas?|[0-9]+(,[0-9])? (bytes?|KB|MB|GB)|"
      "[0-9]+ records (written|restored)|[^0-9].*");
  std::size_t at = 0;
  for (std::size_t end; at <= piece.size(); at = end + 4) {
    end = piece.find(" · ", at);
    if (end == std::string::npos) {
      end = piece.size();
    }
    const std::string field = piece.substr(at, end - at);
    if (field.empty() && piece.empty()) {
      break;
    }
    EXPECT_TRUE(std::regex_match(field, whole)) << "cut: \"" << field << "\" in " << piece;
    if (end == piece.size()) {
      break;
    }
  }
}

// Seconds of a "faltam" field: "menos de 1 min" counts as the minute it stays below.
std::optional<double> TimeLeftShown(const std::string& piece) {
  static const std::regex left("faltam (menos de 1 min|~([0-9]+) min ([0-9]+) s)");
  std::smatch m;
  if (!std::regex_search(piece, m, left)) {
    return std::nullopt;
  }
  return m[2].matched ? std::stod(m[2]) * 60 + std::stod(m[3]) : 59.0;
}

// What the status line showed, redraw by redraw, up to the result line (which keeps its whole
// path): each redraw is checked to fit the terminal with its fields whole.
struct StatusShown {
  std::vector<int> percents;  // in order, one entry a change
  std::vector<double> left;   // the seconds of each "faltam"
  double elapsed = 0;         // the last time shown
};

// The seconds of the time a status line starts with: "| 3,1 s", "/ 1 min 05 s".
std::optional<double> ElapsedShown(const std::string& piece) {
  static const std::regex elapsed("^. (([0-9]+),([0-9]) s|([0-9]+) min ([0-9]+) s)");
  std::smatch m;
  if (!std::regex_search(piece, m, elapsed)) {
    return std::nullopt;
  }
  return m[2].matched ? std::stod(m[2]) + std::stod(m[3]) / 10
                      : std::stod(m[4]) * 60 + std::stod(m[5]);
}

StatusShown ReadStatus(const std::string& err, unsigned short columns) {
  StatusShown shown;
  const std::regex percent("([0-9]+)% \\(");
  for (const std::string& piece : TerminalPieces(err)) {
    if (piece.find(" concluí") != std::string::npos) {
      break;
    }
    EXPECT_LT(tolvan::cli::DisplayWidth(piece), columns) << piece;
    ExpectWholeFields(piece);
    std::smatch m;
    if (std::regex_search(piece, m, percent) &&
        (shown.percents.empty() || shown.percents.back() != std::stoi(m[1]))) {
      shown.percents.push_back(std::stoi(m[1]));
    }
    const double elapsed = ElapsedShown(piece).value_or(shown.elapsed);
    shown.elapsed = elapsed;
    if (const auto seconds = TimeLeftShown(piece)) {
      shown.left.push_back(*seconds);
      // Before 2 s or 5% the pace says nothing yet.
      EXPECT_GE(elapsed, 2.0) << piece;
      EXPECT_GE(shown.percents.back(), 5) << piece;
    }
  }
  return shown;
}

TEST_F(TolvanProgram, ProgressOnATerminalFitsItsWidthAndEndsAtOneHundred) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  const std::string db = MakeDatabase("progress.fdb", 25, 2000);
  for (const unsigned short columns : {40, 120}) {
    SCOPED_TRACE(columns);
    const std::string file = (dir_ / ("progress" + std::to_string(columns) + ".fbk")).string();
    Tolvan tolvan(Tolvan::Start{{"firebird", "Backup", "--database", db, "--user", "SYSDBA",
                                 "--password", "x", "--file", file, "--progress", "--yes"},
                                env_,
                                columns,
                                false});
    const Outcome r = tolvan.Finish();
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<int> percents = ReadStatus(r.err, columns).percents;
    ASSERT_FALSE(percents.empty()) << r.err;
    for (std::size_t i = 1; i < percents.size(); ++i) {
      EXPECT_GE(percents[i], percents[i - 1]);
    }
    EXPECT_EQ(percents.back(), 100);
    EXPECT_THAT(r.err, HasSubstr("\r\x1b[KBackup concluído:"))
        << "the status is cleared before the result line";
    EXPECT_EQ(r.err.find('\t'), std::string::npos);
  }
}

TEST_F(TolvanProgram, ProgressOfARealBackupAndRestoreMovesTableByTableAndItsTimeLeftFalls) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  // Tables of more than 10,000 rows (gbak prints intermediate counts inside each), and enough of
  // them for a run of some seconds, so that the time left shows.
  const std::string db = MakeDatabase("grande.fdb", 12, 70000);
  const std::string backup = (dir_ / "grande.fbk").string();
  for (const unsigned short columns : {120, 40}) {
    for (const bool restore : {false, true}) {
      SCOPED_TRACE(std::to_string(columns) + (restore ? " columns, restore" : " columns, backup"));
      const std::string target = (dir_ / ("grande" + std::to_string(columns) + ".fdb")).string();
      if (!restore) {
        fs::remove(backup);
      }
      Tolvan tolvan(Tolvan::Start{
          {"firebird", restore ? "Restore" : "Backup", "--database", restore ? target : db,
           "--user", "SYSDBA", "--password", "x", "--file", backup, "--progress", "--yes"},
          env_,
          columns,
          false});
      const Outcome r = tolvan.Finish();
      ASSERT_EQ(r.status, 0) << r.err;
      const auto [percents, left, elapsed] = ReadStatus(r.err, columns);
      ASSERT_FALSE(percents.empty()) << r.err;
      EXPECT_EQ(percents.back(), 100);
      // Past the first table (of twelve) well before the end, not stuck at one value.
      EXPECT_GE(std::count_if(percents.begin(), percents.end(),
                              [](int p) { return p > 100 / 12 && p < 100; }),
                3)
          << ::testing::PrintToString(percents);
      if (columns == 120 && elapsed >= 3) {
        // A run of some seconds shows it once it can mean something, and no higher at the end
        // than when it first showed (below a minute it reads "menos de 1 min").
        ASSERT_FALSE(left.empty()) << r.err.substr(r.err.size() - 2000);
        EXPECT_LE(left.back(), left.front());
      }
    }
  }
}

TEST_F(TolvanProgram, ProgressOverTcpAndThroughTheServiceManagerMovesTableByTable) {
  using tolvan::platform::GetEnv;
  const auto host = GetEnv("TOLVAN_FB_HOST");
  const auto port = GetEnv("TOLVAN_FB_PORT");
  const auto password = GetEnv("TOLVAN_FB_PASSWORD");
  const auto data = GetEnv("TOLVAN_FB_DATA");
  if (!host || !port || !password || !data || !HaveGbak()) {
    TOLVAN_SKIP_OR_FAIL("no Firebird test server: source \"$(scripts/firebird-server start)\"");
  }
  const std::string path = *data + "/progresso-" + std::to_string(getpid()) + ".fdb";
  const std::string key = *host + "/" + *port + ":" + path;
  // Enough rows that gbak runs well past the start of the count beside it, on a loaded machine
  // too.
  FillDatabase(key, *password, 6, 40000);
  for (const bool service : {false, true}) {
    SCOPED_TRACE(service ? "service manager" : "TCP");
    const std::string file =
        *data + "/progresso-" + std::to_string(getpid()) + (service ? "-svc" : "") + ".fbk";
    std::vector<std::string> args = {"firebird", "Backup", "--database", key,          "--user",
                                     "SYSDBA",   "--file", file,         "--progress", "--yes"};
    if (service) {
      args.push_back("--service");
    }
    Tolvan tolvan(Tolvan::Start{args, {"TOLVAN_PASSWORD=" + *password}, 120, false});
    const Outcome r = tolvan.Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<int> percents = ReadStatus(r.err, 120).percents;
    ASSERT_FALSE(percents.empty()) << r.err;
    EXPECT_EQ(percents.back(), 100);
    EXPECT_GE(std::count_if(percents.begin(), percents.end(),
                            [](int p) { return p > 100 / 6 && p < 100; }),
              3)
        << ::testing::PrintToString(percents);
    fs::remove(file);
  }
  fs::remove(path);
}

TEST_F(TolvanProgram, ProgressIsRedrawnAtTheNewWidthWhenTheTerminalShrinks) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  const std::string db = MakeDatabase("resize.fdb", 30, 15000);
  Tolvan tolvan(
      Tolvan::Start{{"firebird", "Backup", "--database", db, "--user", "SYSDBA", "--password", "x",
                     "--file", (dir_ / "resize.fbk").string(), "--progress", "--yes"},
                    env_,
                    120,
                    false});
  ASSERT_TRUE(tolvan.ReadUntil("writing data for table"));
  tolvan.Resize(30);
  const Outcome r = tolvan.Finish();
  ASSERT_EQ(r.status, 0) << r.err;
  // The first redraw after the resize clears what the wider status left, then keeps to 30.
  const std::size_t cleared = r.err.find("\r\x1b[J");
  ASSERT_NE(cleared, std::string::npos) << "no redraw for the resize";
  bool any = false;
  for (const std::string& piece : TerminalPieces(r.err.substr(cleared))) {
    if (piece.rfind("Backup concluído: ", 0) == 0) {
      break;
    }
    EXPECT_LT(tolvan::cli::DisplayWidth(piece), 30u) << piece;
    any = any || !piece.empty();
  }
  EXPECT_TRUE(any);
}

TEST_F(TolvanProgram, SigintDuringARestoreExits130AndLeavesNoTarget) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  const std::string backup = BigBackup();
  for (const bool to_group : {false, true}) {
    SCOPED_TRACE(to_group ? "to its process group" : "to tolvan alone");
    const std::string target = (dir_ / (to_group ? "group.fdb" : "alone.fdb")).string();
    Tolvan tolvan(Tolvan::Start{{"firebird", "Restore", "--database", target, "--user", "SYSDBA",
                                 "--password", "x", "--file", backup, "--yes"},
                                env_,
                                std::nullopt,
                                to_group});
    ASSERT_TRUE(tolvan.ReadUntil("restoring data for table"))
        << "the restore never reached its data";
    kill(to_group ? -tolvan.pid() : tolvan.pid(), SIGINT);
    const Outcome r = tolvan.Finish();
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_THAT(LastLine(r.err), MatchesRegex("Restore interrompido \\(SIGINT\\) depois de .*"));
    EXPECT_FALSE(fs::exists(target)) << "a half-made database was left";
  }
}

// A restore to the server onto a disk that fills part-way: status 1 with the server's reason, and
// nothing left on that disk.
TEST_F(TolvanProgram, RestoreConnOntoAFullDiskExitsOneAndLeavesNothing) {
  const auto server = tolvan::test::FindFirebirdServer();
  if (!server || !HaveGbak()) {
    TOLVAN_SKIP_OR_FAIL("no Firebird test server: source \"$(scripts/firebird-server start)\"");
  }
  const fs::path small = dir_ / "pequeno";
  fs::create_directories(small);
  if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m,mode=0777") != 0) {
    GTEST_SKIP() << "a full disk: a small tmpfs cannot be mounted here (it needs root)";
  }
  struct Unmount {
    fs::path at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  const std::string backup = BigBackup();
  ASSERT_GT(fs::file_size(backup), 2u << 20) << "the backup must not fit the small disk";
  const std::string connection =
      server->Key(server->data + "/cheio-" + std::to_string(getpid()) + ".fdb");
  vesk::firebird::CreateDatabase(connection, server->user, server->password);
  const std::string target = (small / "novo.fdb").string();
  std::vector<std::string> env = env_;
  env.push_back("TOLVAN_PASSWORD=" + server->password);
  const Outcome r =
      RunTolvan({"firebird", "RestoreConn", "--database", connection, "--user", server->user,
                 "--file", backup, "--target", target, "--service", "--yes"},
                env);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("No space left on device"));
  EXPECT_THAT(LastLine(r.err), StartsWith("RestoreConn falhou em "));
  EXPECT_TRUE(fs::is_empty(small)) << "the full disk kept a half database\n" << r.err;
  fs::remove(server->data + "/cheio-" + std::to_string(getpid()) + ".fdb");
}

TEST_F(TolvanProgram, SigintAtADialogsPromptStartsNoTool) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  // An expected client version gbak does not have: the guard asks the operator before the run.
  const std::string db = MakeDatabase("dialogo.fdb", 1, 1);
  const std::string file = (dir_ / "dialogo.fbk").string();
  Tolvan tolvan(
      Tolvan::Start{{"firebird", "Backup", "--database", db, "--user", "SYSDBA", "--password", "x",
                     "--file", file, "--expected-client-version", "9.9.9.9"},
                    env_,
                    80,
                    false});
  ASSERT_TRUE(tolvan.ReadUntil("Tecle Enter para seguir: ")) << "no dialog";
  kill(tolvan.pid(), SIGINT);
  const Outcome r = tolvan.Finish();
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("gbak:"))) << "the backup ran as if the operator had answered";
  EXPECT_FALSE(fs::exists(file));
}

// A service manager sends SIGTERM; a closed SSH session, SIGHUP: both end the run the same way. A
// tolvan killed outright cannot stop its gbak itself: the system ends it.
TEST_F(TolvanProgram, SigtermOrSighupToTolvanAloneLeavesNoGbakRunningNorDoesAKilledTolvan) {
  if (!HaveGbak()) {
    GTEST_SKIP() << "no gbak beside tolvan (scripts/layout-appdir)";
  }
  const std::string restored = (dir_ / "source.fdb").string();
  ASSERT_EQ(RunTolvan({"firebird", "Restore", "--database", restored, "--user", "SYSDBA",
                       "--password", "x", "--file", BigBackup(), "--quiet", "--yes"},
                      env_)
                .status,
            0);
  for (const int signal_number : {SIGTERM, SIGHUP, SIGKILL}) {
    const std::string name = signal_number == SIGTERM  ? "SIGTERM"
                             : signal_number == SIGHUP ? "SIGHUP"
                                                       : "SIGKILL";
    SCOPED_TRACE(name);
    const std::string file = (dir_ / ("term-" + name + ".fbk")).string();
    Tolvan tolvan(Tolvan::Start{{"firebird", "Backup", "--database", restored, "--user", "SYSDBA",
                                 "--password", "x", "--file", file, "--yes"},
                                env_,
                                std::nullopt,
                                false});
    ASSERT_TRUE(tolvan.ReadUntil("writing data for table"));
    const std::optional<pid_t> gbak = GbakChildOf(tolvan.pid());
    ASSERT_TRUE(gbak) << "no gbak child of tolvan found in /proc";
    kill(tolvan.pid(), signal_number);
    const Outcome r = tolvan.Finish();
    if (signal_number == SIGKILL) {
      EXPECT_EQ(r.status, 1000 + SIGKILL);
      std::this_thread::sleep_for(std::chrono::seconds(1));
      EXPECT_FALSE(ProcessRuns(*gbak)) << "gbak " << *gbak << " ran on a second after tolvan died";
      kill(*gbak, SIGKILL);
      continue;
    }
    EXPECT_EQ(r.status, 128 + signal_number) << r.err;
    EXPECT_THAT(LastLine(r.err),
                MatchesRegex("Backup interrompido \\(" + name + "\\) depois de .*"));
    EXPECT_FALSE(ProcessRuns(*gbak)) << "gbak " << *gbak << " outlived tolvan";
    EXPECT_FALSE(fs::exists(file));
  }
}

// The Firebird client converts paths by the program's locale; tolvan makes it UTF-8 itself.
TEST_F(TolvanProgram, AnAccentedFolderOpensEmbeddedAndOverTcpWithOrWithoutALocale) {
  const fs::path folder = dir_ / "Cópias de Segurança";
  fs::create_directories(folder);
  const std::string path = (folder / "loja.fdb").string();
  fs::copy_file(MakeDatabase("loja.fdb", 1, 1), path);
  const auto server = tolvan::test::FindFirebirdServer();
  std::vector<std::pair<std::string, std::string>> keys = {{"embedded", path}};
  if (server) {
    keys.emplace_back("over TCP", server->Key(path));
  }
  for (const auto& [how, key] : keys) {
    for (const char* lang : {"", "LANG=C.UTF-8"}) {
      SCOPED_TRACE(how + (*lang == '\0' ? ", no locale" : std::string(", ") + lang));
      std::vector<std::string> env = env_;
      env.push_back("TOLVAN_PASSWORD=" + (server ? server->password : std::string("x")));
      if (*lang != '\0') {
        env.emplace_back(lang);
      }
      Tolvan tolvan(Tolvan::Start{{"firebird", "Versao", "--database", key, "--user",
                                   server ? server->user : std::string("SYSDBA")},
                                  env,
                                  std::nullopt,
                                  false,
                                  true});
      const Outcome r = tolvan.Finish();
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_THAT(r.out, HasSubstr("Firebird")) << r.err;
    }
  }
  if (!server) {
    std::cerr << "no Firebird test server (scripts/firebird-server): only the embedded case ran\n";
  }
}

}  // namespace
