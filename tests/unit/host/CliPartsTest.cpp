// The command-line host's parts that decide things on their own: which library a plug-in word
// names, where the default database lives, and what the frame prints.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "ConsoleFrame.h"
#include "DefaultDatabase.h"
#include "Plugin.h"
#include "StatusText.h"
#include "platform/Environment.h"
#include "platform/Interrupt.h"

namespace {

using tolvan::cli::PluginKind;
using namespace tolvan::platform;

TEST(ResolvePluginTest, FamilyWordsNameTheLibraryBesideTheProgram) {
  auto ref = tolvan::cli::ResolvePlugin("postgresql", "/opt/app/");
  EXPECT_EQ(ref.path, "/opt/app/TolvanPostgreSQL" TOLVAN_PLUGIN_SUFFIX);
  EXPECT_EQ(ref.kind, PluginKind::PostgreSQL);
  EXPECT_EQ(tolvan::cli::ResolvePlugin("mssql", "/opt/app/").path,
            "/opt/app/TolvanMSSQL" TOLVAN_PLUGIN_SUFFIX);
}

TEST(ResolvePluginTest, PathsAreTakenAsTheyStandWithTheKindFromTheFileName) {
  auto ref = tolvan::cli::ResolvePlugin("/build/bin/TolvanFirebird" TOLVAN_PLUGIN_SUFFIX, "/x/");
  EXPECT_EQ(ref.path, "/build/bin/TolvanFirebird" TOLVAN_PLUGIN_SUFFIX);
  EXPECT_EQ(ref.kind, PluginKind::Firebird);
  EXPECT_EQ(tolvan::cli::ResolvePlugin("./other" TOLVAN_PLUGIN_SUFFIX, "/x/").kind,
            PluginKind::Unknown);
  EXPECT_EQ(tolvan::cli::DriverNameFor(PluginKind::Unknown), "");
}

TEST(ResolvePluginTest, AnyOtherWordIsAUsageError) {
  for (const char* word : {"fb", "", "tour"}) {
    EXPECT_THROW(tolvan::cli::ResolvePlugin(word, "/x/"), tolvan::cli::UsageError) << word;
  }
  // The family's words are read whatever their case, as the exports' names are.
  EXPECT_EQ(tolvan::cli::ResolvePlugin("PostgreSQL", "/x/").kind,
            tolvan::cli::PluginKind::PostgreSQL);
}

TEST(DefaultDatabaseTest, DataFolderFollowsXdgThenHome) {
  ScopedEnvironmentOverride env;
  // Absolute folders in this system's form ("/data/ana", "C:\data\ana").
  const std::filesystem::path root = std::filesystem::temp_directory_path().root_path();
  SetEnv("XDG_DATA_HOME", (root / "data" / "ana").string());
  SetEnv("HOME", (root / "home" / "ana").string());
  EXPECT_EQ(tolvan::cli::DefaultDatabasePath(),
            (root / "data" / "ana" / "tolvan" / "default.fdb").string());

  // A relative XDG value is not valid and is ignored, like an empty one.
  for (const char* xdg : {"relative/share", ""}) {
    SetEnv("XDG_DATA_HOME", xdg);
    EXPECT_EQ(tolvan::cli::DataDirectory(),
              (root / "home" / "ana" / ".local" / "share" / "tolvan").string())
        << xdg;
  }

  UnsetEnv("XDG_DATA_HOME");
  UnsetEnv("HOME");
  UnsetEnv("LOCALAPPDATA");
  EXPECT_THROW(tolvan::cli::DataDirectory(), std::runtime_error);
}

TEST(DefaultDatabaseTest, LockFolderIsSetOnlyWhenUnset) {
  ScopedEnvironmentOverride env;
  const auto data = std::filesystem::temp_directory_path() / "tolvan-cli-test-lock";
  std::filesystem::remove_all(data);
  SetEnv("XDG_DATA_HOME", data.string());

  SetEnv("FIREBIRD_LOCK", "/theirs");
  tolvan::cli::EnsureFirebirdLockFolder();
  EXPECT_EQ(GetEnv("FIREBIRD_LOCK"), "/theirs");

  UnsetEnv("FIREBIRD_LOCK");
  tolvan::cli::EnsureFirebirdLockFolder();
  EXPECT_EQ(GetEnv("FIREBIRD_LOCK"), (data / "tolvan" / "lock").string());
  EXPECT_TRUE(std::filesystem::is_directory(data / "tolvan" / "lock"));
  std::filesystem::remove_all(data);
}

TEST(ConsoleFrameTest, PrintsEachLineWithElapsedTime) {
  std::ostringstream out;
  {
    tolvan::cli::ConsoleFrame frame(out, false);
    bool stop = false;
    frame.SetCaptureGuardar(true);
    frame.DoCaptureLine("gbak: writing data for table CLIENTES", stop);
    frame.DoCaptureLine("gbak: closing file", stop);
    EXPECT_FALSE(stop);
    EXPECT_EQ(frame.GetCaptureText(),
              "gbak: writing data for table CLIENTES\r\ngbak: closing file");
  }
  // std::regex: GoogleTest's own expressions on Windows have no brackets.
  EXPECT_TRUE(std::regex_match(out.str(), std::regex("\\[ +[0-9]+,[0-9]s\\] gbak: writing data "
                                                     "for table CLIENTES\n\\[ +[0-9]+,[0-9]s\\] "
                                                     "gbak: closing file\n")))
      << out.str();
}

// --quiet: a run that succeeds prints none of the tool's lines; one that fails prints them all,
// and its message need not repeat them.
TEST(ConsoleFrameTest, QuietHoldsTheLinesUntilTheRunFails) {
  for (const bool succeeded : {true, false}) {
    std::ostringstream out;
    tolvan::cli::ConsoleFrame::Settings settings;
    settings.hold = true;
    tolvan::cli::ConsoleFrame frame(out, settings);
    bool stop = false;
    frame.DoCaptureLine("gbak:gbak version LI-V3.0.11.33637 Firebird 3.0", stop);
    frame.DoCaptureLine("gbak: ERROR:I/O error", stop);
    EXPECT_EQ(out.str(), "");
    frame.Finish(succeeded);
    EXPECT_TRUE(std::regex_match(
        out.str(), std::regex(succeeded ? ""
                                        : "\\[ +[0-9]+,[0-9]s\\] gbak:gbak version .*\n"
                                          "\\[ +[0-9]+,[0-9]s\\] gbak: ERROR:I/O error\n")))
        << out.str();
    EXPECT_EQ(frame.PrintedLines().count("gbak: ERROR:I/O error"), 1u);
  }
}

// The settings of a frame drawn live on a terminal of `columns`.
tolvan::cli::ConsoleFrame::Settings Live(std::size_t columns,
                                         std::optional<tolvan::cli::GbakProgress::Kind> gbak = {}) {
  tolvan::cli::ConsoleFrame::Settings settings;
  settings.live = true;
  settings.gbak = gbak;
  settings.columns = [columns] { return columns; };
  return settings;
}

// Every status drawn, as the terminal would show it after each redraw.
std::vector<std::string> Statuses(const std::string& text) {
  std::vector<std::string> statuses;
  const std::string clear = "\r\x1b[K";
  for (std::size_t at = text.find(clear); at != std::string::npos;) {
    const std::size_t next = text.find(clear, at + clear.size());
    statuses.push_back(text.substr(at + clear.size(), next == std::string::npos
                                                          ? std::string::npos
                                                          : next - at - clear.size()));
    at = next;
  }
  return statuses;
}

TEST(ConsoleFrameTest, LiveModeFitsTheTerminalAndClearsTheStatusAtTheEnd) {
  for (const std::size_t columns : {std::size_t{0}, std::size_t{1}, std::size_t{30}}) {
    SCOPED_TRACE(columns);
    std::ostringstream out;
    tolvan::cli::ConsoleFrame frame(out, Live(columns));
    bool stop = false;
    frame.DoCaptureLine("first", stop);
    frame.DoCaptureLine("\tcoluna\tcom tabs " + std::string(60, 'x'), stop);
    frame.DoCaptureLine(std::string(20, 'x') + "ééééééééééééééé日本語日本語", stop);
    frame.Finish();
    frame.Finish();

    const std::string text = out.str();
    EXPECT_EQ(text.find('\n'), std::string::npos) << "the status never ends a line";
    EXPECT_EQ(text.find('\t'), std::string::npos);
    const std::size_t limit = columns == 0 ? tolvan::cli::ConsoleFrame::kDefaultColumns : columns;
    const auto statuses = Statuses(text);
    ASSERT_FALSE(statuses.empty());
    for (const std::string& status : statuses) {
      EXPECT_LT(tolvan::cli::DisplayWidth(status), limit) << status;
      EXPECT_EQ(tolvan::cli::FitToWidth(status, limit), status) << "half a character: " << status;
    }
    EXPECT_EQ(statuses.back(), "") << "cleared before what follows";
  }
}

TEST(ConsoleFrameTest, GbakRunShowsTablesAndCompletesOnlyOnSuccess) {
  for (const bool succeeded : {true, false}) {
    std::ostringstream out;
    tolvan::cli::ConsoleFrame frame(out, Live(200, tolvan::cli::GbakProgress::Kind::Backup));
    bool stop = false;
    for (const char* line : {"gbak:    writing table A", "gbak:    writing table B",
                             "gbak:    writing data for table A", "gbak:1 records written",
                             "gbak:    writing data for table B"}) {
      frame.DoCaptureLine(line, stop);
    }
    frame.Finish(succeeded);
    const auto statuses = Statuses(out.str());
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_THAT(statuses[statuses.size() - 2],
                ::testing::HasSubstr(succeeded ? "100% (1/2 tabelas)" : "50% (1/2 tabelas)"));
    // The rows are counted in the status's own words, not again in gbak's.
    for (const std::string& status : statuses) {
      EXPECT_THAT(status, ::testing::Not(::testing::HasSubstr("records written"))) << status;
    }
  }
}

// Run() as main() calls it, with an interrupt recorded before the call: nothing starts.
TEST(CliRunTest, AnInterruptBeforeTheExportStartsEndsWithItsStatusAndRunsNothing) {
  ScopedEnvironmentOverride env;
  const auto data = std::filesystem::temp_directory_path() / "tolvan-cli-test-interrupt";
  std::filesystem::remove_all(data);
  SetEnv("XDG_DATA_HOME", data.string());
  UnsetEnv("FIREBIRD_LOCK");
  struct Case {
    std::vector<const char*> args;
    int signal_number;
    const char* says;
  } cases[] = {
      // A database that does not exist: a run that started would fail with status 1.
      {{"tolvan", "firebird", "Versao", "--database", "/nenhum/x.fdb", "--user", "SYSDBA",
        "--password", "x"},
       15,
       "Versao interrompido (SIGTERM)"},
      {{"tolvan", "tour"}, 2, "tour interrompido (SIGINT)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    std::ostringstream out;
    std::ostringstream err;
    tolvan::platform::RequestInterrupt(c.signal_number);
    const int status = tolvan::cli::Run(static_cast<int>(c.args.size()), c.args.data(), out, err);
    tolvan::platform::ClearInterrupt();
    EXPECT_EQ(status, 128 + c.signal_number) << err.str();
    EXPECT_EQ(out.str(), "");
    EXPECT_THAT(err.str(), ::testing::StartsWith(c.says));
  }
  EXPECT_FALSE(std::filesystem::exists(data / "tolvan" / "default.fdb"));
  std::filesystem::remove_all(data);
}

}  // namespace
