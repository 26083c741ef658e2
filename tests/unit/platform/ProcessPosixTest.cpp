// What a child inherits of its parent on POSIX.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "fake_tool/FakeTool.h"
#include "platform/Process.h"

namespace tolvan::platform {
namespace {

std::string RunAll(const std::string& command_line) {
  LaunchOptions options;
  options.command_line = command_line;
  auto child = LaunchProcess(options);
  std::string output;
  char buffer[4096];
  while (std::size_t count = child->Read(buffer, sizeof buffer)) {
    output.append(buffer, count);
  }
  EXPECT_EQ(child->Wait(), 0);
  return output;
}

TEST(ChildDescriptors, OnlyTheStandardThreeReachTheChild) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);  // inheritable, as a careless library would leave it
  const int file = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(file, 0);
  const std::string r = std::to_string(ends[0]);
  const std::string w = std::to_string(ends[1]);
  const std::string f = std::to_string(file);

  tolvan::testing::FakeToolFolder folder;
  const std::string tool =
      folder.Install("tool", "fd 0\nfd 1\nfd 2\nfd " + r + "\nfd " + w + "\nfd " + f + "\n");
  const std::string output = RunAll("\"" + tool + "\"");
  ::close(ends[0]);
  ::close(ends[1]);
  ::close(file);
  EXPECT_EQ(output, "fd:0 open\nfd:1 open\nfd:2 open\nfd:" + r + " closed\nfd:" + w +
                        " closed\nfd:" + f + " closed\n");
}

}  // namespace
}  // namespace tolvan::platform
