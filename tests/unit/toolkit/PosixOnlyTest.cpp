// What only POSIX can show: children reaped elsewhere, named pipes, devices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "ci/TempDir.h"
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

TEST(ProductFilePosix, WhatIsNotAPlainFileAtTheFinalNameIsRefusedAndLeftAsItWas) {
  tolvan::test::TempDir dir;
  struct Case {
    const char* what;
    std::string path;
    std::function<int(const char*)> make;
    mode_t type;
    const char* named;  // what the reason calls it
  } cases[] = {
      {"a named pipe without a reader", dir.File("saida.fbk"),
       [](const char* path) { return ::mkfifo(path, 0600); }, S_IFIFO, "pipe"},
      {"a device like /dev/null", dir.File("null"),
       [](const char* path) { return ::mknod(path, S_IFCHR | 0666, makedev(1, 3)); }, S_IFCHR,
       "dispositivo"},
      {"a socket", dir.File("s.sock"),
       [](const char* path) {
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
         const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
         ::close(fd);
         return bound;
       },
       S_IFSOCK, "socket"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.make(c.path.c_str()) != 0) {
      // mknod needs root.
      ASSERT_EQ(errno, EPERM);
      continue;
    }
    try {
      tolvan::support::ProductFile product(c.path);
      ADD_FAILURE() << "a product for " << c.path;
    } catch (const tolvan::support::EProductRefused& error) {
      EXPECT_THAT(tolvan::support::FileErrorReason(error), ::testing::HasSubstr(c.named));
    }
    struct stat info {};
    ASSERT_EQ(::lstat(c.path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & S_IFMT, c.type);
    // Nor does a version read wait on it.
    EXPECT_EQ(GetVersao(c.path, false), "");
    EXPECT_EQ(GetVersaoFirebirdmsg(c.path), "");
    ::unlink(c.path.c_str());
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "no temporary file was made";
}

// The name limit of POSIX file systems (255 bytes a name); on Windows the whole path's comes first.
TEST(ProductFilePosix, ALongNameGetsTemporariesWithinTheLimitThatTheNextRunStillRemoves) {
  tolvan::test::TempDir dir;
  std::string name;
  for (int i = 0; i < 125; ++i) {
    name += "\xC3\xA1";
  }
  name += ".fbk";
  const std::string final_path = dir.File(name);
  std::string leftover;
  {
    tolvan::support::ProductFile product(final_path);
    leftover = product.Path();
    const std::string temporary = std::filesystem::path(leftover).filename().string();
    EXPECT_LE(temporary.size(), tolvan::support::kMaxNameBytes);
    const std::size_t stem = temporary.find(".~");
    EXPECT_EQ(temporary.substr(0, stem), name.substr(0, stem));
    EXPECT_NE(static_cast<unsigned char>(name[stem]) & 0xC0, 0x80) << "cut before a whole letter";
    std::ofstream(leftover) << "tonight";
    product.Commit();
  }
  EXPECT_EQ(std::filesystem::file_size(final_path), 7u);
  // What a killed run leaves under such a name goes with the next run.
  std::ofstream(leftover) << "killed";
  { tolvan::support::ProductFile next(final_path); }
  EXPECT_FALSE(std::filesystem::exists(leftover));
}

TEST(ProductFilePosix, ALinkAtTheFinalNameIsReplacedNeverWrittenThrough) {
  tolvan::test::TempDir dir;
  const std::string target = dir.File("roots-file");
  std::ofstream(target) << "precious";
  const std::string link = dir.File("pg_dump.cmd");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  {
    tolvan::support::ProductFile product(link);
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
