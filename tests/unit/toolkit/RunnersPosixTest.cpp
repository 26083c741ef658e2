// Runs whose end cannot be known: something else in the process reaps the runners' children.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "fake_tool/FakeTool.h"
#include "platform/Process.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan::testing::FakeToolFolder;

// While alive, the kernel reaps every child at its exit, so a waitpid fails with ECHILD.
class ChildrenReapedElsewhere {
 public:
  ChildrenReapedElsewhere() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGCHLD, &ignore, &saved_);
  }
  ~ChildrenReapedElsewhere() { ::sigaction(SIGCHLD, &saved_, nullptr); }
  ChildrenReapedElsewhere(const ChildrenReapedElsewhere&) = delete;
  ChildrenReapedElsewhere& operator=(const ChildrenReapedElsewhere&) = delete;

 private:
  struct sigaction saved_ {};
};

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

}  // namespace
