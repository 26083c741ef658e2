// What a child inherits of its parent on POSIX, what ends it with its parent, and that it is gone
// once reaped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "fake_tool/FakeTool.h"
#include "platform/Interrupt.h"
#include "platform/Machine.h"
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

// Fields of /proc/PID/stat after the command: state, ppid, pgrp, session, tty_nr.
struct ProcStat {
  char state = 0;
  long ppid = 0, pgrp = 0, session = 0, tty = 0;
};

std::optional<ProcStat> ReadStat(const std::string& text) {
  const auto close_paren = text.rfind(')');
  if (close_paren == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream rest(text.substr(close_paren + 2));
  ProcStat stat;
  rest >> stat.state >> stat.ppid >> stat.pgrp >> stat.session >> stat.tty;
  return stat;
}

// True while the process runs (a zombie waiting for its reaper counts as ended).
bool Runs(long pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) {
    return false;
  }
  const auto stat = ReadStat(line);
  return stat && stat->state != 'Z';
}

// A signal takes a moment to be delivered: true when the process stopped running within 2 s.
bool EndsSoon(long pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (Runs(pid)) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string FirstLine(ChildProcess& child) {
  std::string text;
  char c = 0;
  while (text.find('\n') == std::string::npos && child.Read(&c, 1) == 1) {
    text += c;
  }
  return text;
}

// Started with standard input and output closed, the program's next descriptors take numbers 0
// and 1: the pipe the child writes to must still be its output once it runs.
TEST(ChildDescriptors, TheChildGetsItsStreamsWhenTheProgramHasStandardStreamsClosed) {
  const int saved_input = ::dup(STDIN_FILENO);
  const int saved_output = ::dup(STDOUT_FILENO);
  ASSERT_GE(saved_input, 0);
  ASSERT_GE(saved_output, 0);
  ::close(STDIN_FILENO);
  ::close(STDOUT_FILENO);
  LaunchOptions options;
  options.command_line = "/bin/sh -c \"cat; echo fim\"";
  std::string output;
  int code = -1;
  {
    auto child = LaunchProcess(options);
    char buffer[256];
    while (std::size_t count = child->Read(buffer, sizeof buffer)) {
      output.append(buffer, count);
    }
    code = child->Wait();
  }
  ::dup2(saved_input, STDIN_FILENO);
  ::dup2(saved_output, STDOUT_FILENO);
  ::close(saved_input);
  ::close(saved_output);
  EXPECT_EQ(output, "fim\n");
  EXPECT_EQ(code, 0);
}

// A tool that asks for a password on /dev/tty must not find the operator's terminal (it would
// wait there, or be stopped); and the group the child leads is what the runner ends.
TEST(ChildSession, TheChildLeadsASessionOfItsOwnWithoutATerminal) {
  const std::string line = RunAll("/bin/sh -c \"cat /proc/$$/stat\"");
  const auto stat = ReadStat(line);
  ASSERT_TRUE(stat) << line;
  const long pid = std::stol(line);
  EXPECT_EQ(stat->pgrp, pid);
  EXPECT_EQ(stat->session, pid);
  EXPECT_EQ(stat->tty, 0);
  EXPECT_EQ(stat->ppid, static_cast<long>(::getpid()));
}

TEST(ChildSession, WhatTheChildLeftRunningEndsWithIt) {
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "the child killed" : "the child ended by itself");
    LaunchOptions options;
    options.command_line = std::string("/bin/sh -c \"sleep 60 >/dev/null 2>&1 & echo $!") +
                           (killed ? "; exec sleep 60\"" : "\"");
    auto child = LaunchProcess(options);
    const long left = std::stol(FirstLine(*child));
    ASSERT_TRUE(Runs(left));
    if (killed) {
      child->Kill();
    }
    child->Wait();
    EXPECT_TRUE(EndsSoon(left)) << "the child's own child " << left << " outlived it";
    ::kill(static_cast<pid_t>(left), SIGKILL);
  }
}

TEST(ChildSession, TheChildDiesWithTheProcessThatStartedIt) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const pid_t starter = ::fork();
  ASSERT_GE(starter, 0);
  if (starter == 0) {
    ::close(ends[0]);
    LaunchOptions options;
    options.command_line = "/bin/sleep 60";
    const auto child = LaunchProcess(options);
    const std::string pid = "started\n";
    const ssize_t written = ::write(ends[1], pid.data(), pid.size());
    static_cast<void>(written);
    ::pause();
    ::_exit(0);
  }
  ::close(ends[1]);
  char buffer[16] = {};
  ASSERT_GT(::read(ends[0], buffer, sizeof buffer), 0);
  ::close(ends[0]);
  // The sleep is the starter's only child.
  long sleeper = 0;
  std::ifstream children("/proc/" + std::to_string(starter) + "/task/" + std::to_string(starter) +
                         "/children");
  ASSERT_TRUE(children >> sleeper);
  ::kill(starter, SIGKILL);
  ::waitpid(starter, nullptr, 0);
  EXPECT_TRUE(EndsSoon(sleeper)) << "the tool " << sleeper << " outlived the program";
  ::kill(static_cast<pid_t>(sleeper), SIGKILL);
}

// The Firebird client takes SIGINT and SIGTERM for itself on its first call.
// A run that was reaped is gone for a later run that reads its id.
TEST(ProcessExistence, AProcessThatWasReapedNoLongerExists) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(ProcessExists(static_cast<std::uint64_t>(child)));
}

TEST(InterruptHandlers, WhatALibraryInstallsInsideTheScopeIsUndoneAndSighupIsRecorded) {
  InstallInterruptHandlers();
  {
    const KeepInterruptHandlers keep;
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGTERM, SIG_IGN);
  }
  ::raise(SIGTERM);
  EXPECT_EQ(InterruptSignal(), SIGTERM);
  ClearInterrupt();
  ::raise(SIGHUP);
  EXPECT_EQ(InterruptSignal(), 1);
  ClearInterrupt();
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    ::signal(signal_number, SIG_DFL);
  }
}

}  // namespace
}  // namespace tolvan::platform
