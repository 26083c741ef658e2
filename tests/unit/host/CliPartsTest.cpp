// The command-line host's parts that decide things on their own: which library a plug-in word
// names, where the default database lives, and what the frame prints.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>

#include "ConsoleFrame.h"
#include "DefaultDatabase.h"
#include "Plugin.h"
#include "platform/Environment.h"

namespace {

using ::testing::MatchesRegex;
using tolvan::cli::PluginKind;
using tolvan::platform::GetEnv;
using tolvan::platform::ScopedEnvironmentOverride;
using tolvan::platform::SetEnv;
using tolvan::platform::UnsetEnv;

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
  for (const char* word : {"Firebird", "fb", "", "tour"}) {
    EXPECT_THROW(tolvan::cli::ResolvePlugin(word, "/x/"), tolvan::cli::UsageError) << word;
  }
}

TEST(DefaultDatabaseTest, DataFolderFollowsXdgThenHome) {
  ScopedEnvironmentOverride env;
  SetEnv("XDG_DATA_HOME", "/data/ana");
  SetEnv("HOME", "/home/ana");
  EXPECT_EQ(tolvan::cli::DefaultDatabasePath(), "/data/ana/tolvan/default.fdb");

  // A relative XDG value is not valid and is ignored, like an empty one.
  for (const char* xdg : {"relative/share", ""}) {
    SetEnv("XDG_DATA_HOME", xdg);
    EXPECT_EQ(tolvan::cli::DataDirectory(), "/home/ana/.local/share/tolvan") << xdg;
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
  EXPECT_THAT(out.str(), MatchesRegex("\\[ +[0-9]+\\.[0-9]s\\] gbak: writing data for table "
                                      "CLIENTES\n\\[ +[0-9]+\\.[0-9]s\\] gbak: closing file\n"));
}

TEST(ConsoleFrameTest, LiveModeRewritesOneStatusLineAndEndsIt) {
  std::ostringstream out;
  tolvan::cli::ConsoleFrame frame(out, true);
  bool stop = false;
  frame.DoCaptureLine("first", stop);
  // Long enough to be cut, with a two-byte character straddling the cut.
  frame.DoCaptureLine(std::string(tolvan::cli::ConsoleFrame::kLiveWidth - 12, 'x') + "é", stop);
  frame.Finish();
  frame.Finish();

  const std::string text = out.str();
  EXPECT_EQ(text.rfind("\r\x1b[K", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "one line end, from Finish";
  const std::string last = text.substr(text.rfind("\x1b[K") + 3);
  EXPECT_EQ(last.back(), '\n');
  EXPECT_LE(last.size() - 1, tolvan::cli::ConsoleFrame::kLiveWidth);
  EXPECT_EQ(last.find("\xc3"), std::string::npos) << "half a character left at the cut";
}

}  // namespace
