// The plug-ins' one way to run a tool: started from one command line (no shell) with variables of
// its own, its console output (standard output and standard error, merged) handed line by line to
// the host's frame as the host's CaptureExecute would, or gathered as WinExec32AndRedirectOutput
// would. The plug-in starts the tool itself, with the platform code compiled into it, because the
// host's runners cannot give a password to the tool alone (gbak's ISC_PASSWORD, pg_dump's
// PGPASSWORD) nor tell a run whose end is unknown from a failed one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/Process.h"

class TVeskFraProgresso;

namespace tolvan::support {

// The exit code of a tool that could not be started (missing, not executable, an empty command
// line, or an interrupt recorded before the start). No tool output goes with it.
inline constexpr int32_t kNotStarted = -1;

// How tool output is read:
// - CR LF and LF end a line. A line longer than kMaxLineBytes (64 KiB) is handed on in pieces of
//   at most that size, so a tool that writes without line ends costs a bounded amount of memory.
// - A line is taken as UTF-8 when it is valid UTF-8. Otherwise, on Windows, it is read in the
//   system's ANSI code page (GetACP), in which the tools built on the C runtime's narrow calls get
//   their arguments and print file names; on POSIX each byte that is not UTF-8 becomes U+FFFD.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;

// The tool ran but how it ended cannot be known: the wait for it failed (on POSIX, something else
// reaped it). What it wrote may be complete and must not be cleared away as a failure's.
class ToolWaitFailed : public std::system_error {
 public:
  using std::system_error::system_error;
};

struct ToolCommand {
  // The whole command line, the tool's own path first.
  std::string command_line;
  // Variables the tool gets in its environment and the process never holds: secrets the tool
  // reads from there, the locale it reads its arguments in.
  std::vector<std::pair<std::string, std::string>> environment{};
};

struct ToolOutcome {
  int32_t code = 0;
  // Run without a frame: the tool's output, each line with its own line end, at most the first
  // and the last 256 KiB of lines (KeptLines). Run in a frame: the frame's captured text, read
  // before the frame is reset, when the run failed; empty otherwise.
  std::string output;
  // The interrupt (its signal number) that ended the run or kept it from starting; 0 when none.
  int interrupt = 0;
};

// Runs the tool. With a frame, inside the frame's sequence (FrameRun): each line goes to the
// frame's DoCaptureLine as soon as the tool has written it, and the frame's Stop ends the run.
// Without one, the output is gathered.
// While the tool runs, an interrupt (Ctrl-C, SIGTERM, SIGHUP) is noticed here and passed on to
// the host's own handling (platform ScopedInterruptRecorder); it ends the tool as the host's
// runners do (SIGTERM, then SIGKILL after 2 s on POSIX; TerminateProcess on Windows) and the run
// returns its exit code, never 0 (a tool that ended with 0 anyway gives 128 + the signal number).
// Throws ToolWaitFailed when the tool ran but the wait for its end failed.
ToolOutcome RunTool(const ToolCommand& command, TVeskFraProgresso* frame, bool circular);

// The pieces the runners are made of, shared with the host's own toolkit.

// The child, or nullptr when it cannot be started: a blank command line, an interrupt recorded
// already, a program that is missing or cannot run.
std::unique_ptr<platform::ChildProcess> StartTool(const platform::LaunchOptions& options);

// Hands each line of the child's output to on_line (Stop set: the child is killed) until the
// output ends, then waits for the child and returns its exit code. Throws ToolWaitFailed.
using LineCallback = std::function<void(const std::string& line, bool& stop)>;
int32_t ReadToolLines(platform::ChildProcess& child, const LineCallback& on_line);

// Gathers the child's output in `output` (each line with its own line end, KeptLines) until it
// ends, then waits for the child and returns its exit code. Throws ToolWaitFailed.
int32_t ReadToolOutput(platform::ChildProcess& child, std::string& output);

}  // namespace tolvan::support
