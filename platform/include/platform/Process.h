// Child processes started from one command-line text, with their standard output and standard
// error merged into one pipe that the parent reads as the child writes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Export.h"

namespace tolvan::platform {

// Splits a command line into arguments by the rules the Microsoft C runtime applies to its own
// command line: blanks and tabs separate arguments outside quotes; a double quote opens or closes
// a quoted part; 2n backslashes before a quote give n backslashes and the quote acts as a quote;
// 2n+1 backslashes before a quote give n backslashes and a literal quote; backslashes not followed
// by a quote are literal; inside a quoted part, "" gives a literal quote. The first argument (the
// program) is read as Windows reads a program name: up to the next blank, or between quotes,
// with no backslash rules.
TOLVAN_PLATFORM_API std::vector<std::string> SplitCommandLine(std::string_view command_line);

struct LaunchOptions {
  // The whole command line, program first. Windows hands it to the child as it is; POSIX splits it
  // with SplitCommandLine and starts the program directly, never through a shell; a program
  // without '/' is looked up in PATH as the child's environment (overlay included) has it.
  std::string command_line;
  // Working directory of the child; empty keeps the parent's.
  std::string working_directory;
  // Variables set in the child's environment only (after the overlay), for secrets a tool reads
  // from its environment; the parent's environment never holds them.
  std::vector<std::pair<std::string, std::string>> extra_environment{};
};

// A running child. Owns the process handle and the read end of the output pipe; the destructor
// kills a child that is still running and reaps it, so no child outlives its owner.
class TOLVAN_PLATFORM_API ChildProcess {
 public:
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Reads what the child has written so far, blocking until at least one byte is there or the
  // child closed its end. Returns the count of bytes read, 0 at the end of the output.
  // Throws std::system_error on a read error.
  std::size_t Read(char* buffer, std::size_t size);

  // Waits at most timeout_ms for output (or its end). True when Read would not block; false when
  // the time ran out or a signal arrived, so that a caller can look for an interrupt.
  bool WaitForOutput(int timeout_ms);

  // Waits for the child to end and returns its exit code (a child killed by a signal on POSIX
  // gives 128 + the signal number, as shells report it). Throws std::system_error when the wait
  // fails (on POSIX, ECHILD when something else reaped the child); the child then counts as gone,
  // and neither Kill nor the destructor touch it again.
  int Wait();

  // As Wait, but gives up after timeout_ms: nullopt while the child still runs. A negative
  // timeout waits for the end, as Wait.
  std::optional<int> WaitFor(int timeout_ms);

  // Asks the child to end: SIGTERM to its process group on POSIX, so a tool may clean up;
  // TerminateProcess on Windows, where a tool without a console has no such request.
  void Terminate();

  // Ends the child at once, with what it started (SIGKILL to its process group; its job ended on
  // Windows).
  void Kill();

  struct Handles;
  explicit ChildProcess(std::unique_ptr<Handles> handles);

 private:
  // Kills and waits for a child that was not waited for (the destructor's first step).
  void EndUnlessWaited() noexcept;

  std::unique_ptr<Handles> handles_;
  bool waited_ = false;  // ended and reaped, or lost to a failed wait
  int exit_code_ = 0;
};

// Starts the child with its standard input on the null device and its standard output and
// standard error on one pipe. The child never outlives the program: on POSIX it leads a session
// and process group of its own, without a controlling terminal, gets SIGKILL when the thread
// that started it ends (PR_SET_PDEATHSIG on Linux), and whatever it left in its group is killed
// when it has ended (Wait, WaitFor); on Windows it runs in a job that is killed when its last
// handle closes, with the program's end too. Throws std::system_error when the program cannot be
// started (missing, not executable, empty command line).
TOLVAN_PLATFORM_API std::unique_ptr<ChildProcess> LaunchProcess(const LaunchOptions& options);

// The running program's arguments after the program itself, as UTF-8. (On Windows the narrow argv
// of main is in the ANSI code page; these are read from the wide command line with
// SplitCommandLine instead.)
TOLVAN_PLATFORM_API std::vector<std::string> ProgramArguments(int argc, char** argv);

// Puts standard input, output and error in binary mode, so bytes pass unchanged (Windows would
// otherwise write "\n" as "\r\n"). Nothing to do on POSIX.
TOLVAN_PLATFORM_API void UseBinaryStandardStreams();

}  // namespace tolvan::platform
