#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "fake_tool/FakeTool.h"
#include "platform/Files.h"

namespace tolvan::platform {
namespace {

// The user nobody runs as on Debian; any user other than the test's own would do.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

struct stat StatOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

void WriteWithMode(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::binary) << text;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(FilesPosix, TheNewFileTakesTheModeAndOwnerOfTheOneItReplaces) {
  tolvan::testing::FakeToolFolder folder;
  const std::string source = folder.Path() + "loja.fbk.~0123456789.tmp";
  const std::string target = folder.Path() + "loja.fbk";

  // A first backup keeps the mode its tool gave it.
  WriteWithMode(source, "first", 0640);
  ReplaceDurably(source, target);
  EXPECT_EQ(StatOf(target).st_mode & 07777, 0640u);

  // The operator locked the backup down, and (as root) gave it to another user.
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(target.c_str(), kNobody, kNogroup), 0);
  }
  WriteWithMode(source, "second", 0644);
  ReplaceDurably(source, target);
  const struct stat replaced = StatOf(target);
  EXPECT_EQ(replaced.st_mode & 07777, 0600u);
  if (root) {
    EXPECT_EQ(replaced.st_uid, kNobody);
    EXPECT_EQ(replaced.st_gid, kNogroup);
  }

  // Set-id bits are never carried over; group rights go only where the group could be kept.
  ASSERT_EQ(::chmod(target.c_str(), 06750), 0);
  WriteWithMode(source, "third", 0644);
  ReplaceDurably(source, target);
  EXPECT_EQ(StatOf(target).st_mode & 07777, 0750u);

  // A link at the final name is replaced itself, never written through.
  const std::string elsewhere = folder.Path() + "elsewhere";
  WriteWithMode(elsewhere, "someone else's", 0600);
  ASSERT_EQ(::unlink(target.c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), target.c_str()), 0);
  WriteWithMode(source, "fourth", 0644);
  ReplaceDurably(source, target);
  EXPECT_TRUE(S_ISREG(StatOf(target).st_mode));
  EXPECT_EQ(StatOf(elsewhere).st_mode & 07777, 0600u);
}

TEST(FilesPosix, AHoldEndsWithTheProcessThatTookIt) {
  tolvan::testing::FakeToolFolder folder;
  const std::string path = folder.Path() + "x.dump.~0123456789.tmp";
  int ready[2];
  int done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A host at work: it holds its temporary until it is gone.
    const FileHold hold = CreateHeldFile(path);
    char byte = hold == kNoFileHold ? 'n' : 'y';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(done[0], &byte, 1);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_FALSE(RemoveUnheldFile(path)) << "the other process still holds it";
  EXPECT_TRUE(PathEntryExists(path));
  ASSERT_EQ(::write(done[1], &byte, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(RemoveUnheldFile(path)) << "its process is gone";
  for (int fd : {ready[0], ready[1], done[0], done[1]}) {
    ::close(fd);
  }
}

}  // namespace
}  // namespace tolvan::platform
