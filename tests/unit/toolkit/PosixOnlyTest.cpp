// What only POSIX can show: children reaped elsewhere, named pipes, devices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <string>

#include "TempDir.h"
#include "fake_tool/ChildrenReapedElsewhere.h"
#include "fake_tool/FakeTool.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "tolvan/support/ProductFile.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace {

using tolvan::testing::FakeToolFolder;

using tolvan::testing::ChildrenReapedElsewhere;

TEST(FailedWait, RunnersRaiseToolWaitFailedNeverAnExitCode) {
  FakeToolFolder folder;
  const std::string tool = "\"" + folder.Install("tool", "out done\n") + "\"";
  ChildrenReapedElsewhere reaped;
  std::string lines;
  EXPECT_THROW(
      CaptureExecute(tool, "", ".", [&lines](const std::string& line, bool&) { lines += line; }),
      EToolWaitFailed);
  EXPECT_EQ(lines, "done");
  std::string output;
  EXPECT_THROW(WinExec32AndRedirectOutput(tool, output), EToolWaitFailed);
}

TEST(FailedWait, AChildLostToAFailedWaitIsLeftAloneByItsOwner) {
  FakeToolFolder folder;
  const std::string tool = "\"" + folder.Install("tool", "out done\n") + "\"";
  const std::string slow = "\"" + folder.Install("slow", "sleep 30000\n") + "\"";
  ChildrenReapedElsewhere reaped;
  tolvan::platform::LaunchOptions options;
  options.command_line = tool;
  {
    auto child = tolvan::platform::LaunchProcess(options);
    char buffer[64];
    while (child->Read(buffer, sizeof buffer) != 0) {
    }
    EXPECT_THROW(child->Wait(), std::system_error);
    // The pid may name another process by now: no signal, no second wait.
    child->Kill();
  }
  options.command_line = slow;
  auto running = tolvan::platform::LaunchProcess(options);
  running.reset();  // a child still running is killed and the destructor returns
}

TEST(ProductFilePosix, APipeAtTheFinalNameIsWrittenInPlaceAndNeverRemoved) {
  tolvan::test::TempDir dir;
  const std::string pipe = dir.File("backup.fifo");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  {
    tolvan::support::ProductFile product(pipe);
    EXPECT_TRUE(product.InPlace());
    EXPECT_EQ(product.Path(), pipe);
  }
  {
    tolvan::support::ProductFile product(pipe);
    product.Commit();
  }
  struct stat info {};
  ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  // Nor does a version read wait on it.
  EXPECT_EQ(GetVersao(pipe, false), "");
  EXPECT_EQ(GetVersaoFirebirdmsg(pipe), "");
}

TEST(ProductFilePosix, ALinkAtTheFinalNameIsReplacedNeverWrittenThrough) {
  tolvan::test::TempDir dir;
  const std::string target = dir.File("roots-file");
  std::ofstream(target) << "precious";
  const std::string link = dir.File("pg_dump.cmd");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  {
    tolvan::support::ProductFile product(link);
    EXPECT_FALSE(product.InPlace());
    std::ofstream(product.Path()) << "command";
    product.Commit();
  }
  EXPECT_FALSE(tolvan::platform::IsLink(link));
  std::ifstream in(target);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "precious");

  // A dangling link counts as something there.
  const std::string dangling = dir.File("dangling");
  ASSERT_EQ(::symlink(dir.File("nothing").c_str(), dangling.c_str()), 0);
  EXPECT_TRUE(tolvan::platform::PathEntryExists(dangling));
  EXPECT_TRUE(tolvan::platform::IsLink(dangling));
  EXPECT_FALSE(tolvan::platform::IsPlainFile(dangling));
}

}  // namespace
