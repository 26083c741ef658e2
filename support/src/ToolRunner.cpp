// Starting a tool and reading its output. The reading loop knows nothing of how the child was
// started; the plug-ins' runner and the host's toolkit both use it.
#include "tolvan/support/ToolRunner.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/Interrupt.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "tolvan/support/KeptLines.h"
#include "tolvan/support/LineSplitter.h"
#include "tolvan/support/Text.h"

namespace tolvan::support {
namespace {

using platform::ChildProcess;

// Big enough that a chatty tool costs few reads; the pipe hands over what is there, so a slow
// tool's lines still arrive one by one.
constexpr std::size_t kReadChunk = 64 * 1024;
// How often a run looks for an interrupt while its tool is silent. On POSIX a signal wakes the
// wait at once; this bounds the delay for a request made by another thread.
constexpr int kInterruptPollMs = 50;
// How long a tool asked to end may take before it is killed.
constexpr int kTerminateGraceMs = 2000;

bool Interrupted() {
  return platform::InterruptSignal() != 0;
}

bool IsAscii(std::string_view bytes) {
  unsigned char seen = 0;
  for (const char c : bytes) {
    seen |= static_cast<unsigned char>(c);
  }
  return seen < 0x80;
}

// Appends the line's bytes as UTF-8; nearly every tool line is plain ASCII and is taken as it is.
void AppendDecoded(std::string_view raw, std::string& out) {
  if (IsAscii(raw)) {
    out.append(raw);
  } else {
    out += platform::DecodeToolOutput(raw);
  }
}

enum class Ending { kOutputEnded, kStopped, kInterrupted };

// Reads the child's output to its end and hands every line to on_line(content, line_end) as
// soon as it is complete, until on_line asks to stop or an interrupt is recorded.
template <typename OnLine>
Ending ReadLines(ChildProcess& child, OnLine&& on_line) {
  const auto buffer = std::make_unique<char[]>(kReadChunk);
  detail::LineSplitter splitter(kMaxLineBytes);
  for (;;) {
    if (Interrupted()) {
      return Ending::kInterrupted;
    }
    if (!child.WaitForOutput(kInterruptPollMs)) {
      continue;
    }
    const std::size_t count = child.Read(buffer.get(), kReadChunk);
    if (count == 0) {
      return splitter.Finish(on_line) ? Ending::kOutputEnded : Ending::kStopped;
    }
    if (!splitter.Feed(std::string_view(buffer.get(), count), on_line)) {
      return Ending::kStopped;
    }
  }
}

std::optional<int> WaitFor(ChildProcess& child, int timeout_ms) {
  try {
    return child.WaitFor(timeout_ms);
  } catch (const std::system_error& error) {
    throw ToolWaitFailed(error.code(),
                         "o programa foi executado, mas não foi possível saber como terminou");
  }
}

// Ends the tool of an interrupted run and waits for it, so that the caller's clean-up runs with
// no tool left writing. Never 0: an interrupted run is never taken for a success.
int32_t StopForInterrupt(ChildProcess& child) {
  child.Terminate();
  std::optional<int> code = WaitFor(child, kTerminateGraceMs);
  if (!code) {
    child.Kill();
    code = WaitFor(child, -1);
  }
  return *code != 0 ? *code : 128 + platform::InterruptSignal();
}

// The exit code once the output has ended (or the callback stopped the run).
int32_t Finish(ChildProcess& child, Ending ending) {
  switch (ending) {
    case Ending::kInterrupted:
      return StopForInterrupt(child);
    case Ending::kStopped:
      child.Kill();
      break;
    case Ending::kOutputEnded:
      break;
  }
  for (;;) {
    if (const std::optional<int> code = WaitFor(child, kInterruptPollMs)) {
      return *code;
    }
    if (Interrupted()) {
      return StopForInterrupt(child);
    }
  }
}

void KillAndReap(ChildProcess& child) noexcept {
  try {
    child.Kill();
    child.Wait();
  } catch (...) {
    // The exception already on its way matters more.
  }
}

// Reads to the end and finishes; a failure of the reading (a callback's included) leaves no
// child behind.
template <typename OnLine>
int32_t ReadAndFinish(ChildProcess& child, OnLine&& on_line) {
  Ending ending;
  try {
    ending = ReadLines(child, on_line);
  } catch (...) {
    KillAndReap(child);
    throw;
  }
  return Finish(child, ending);
}

}  // namespace

std::unique_ptr<ChildProcess> StartTool(const platform::LaunchOptions& options) {
  if (IsBlank(options.command_line) || Interrupted()) {
    return nullptr;
  }
  try {
    return platform::LaunchProcess(options);
  } catch (const std::exception&) {
    return nullptr;
  }
}

int32_t ReadToolLines(ChildProcess& child, const LineCallback& on_line) {
  std::string line;
  return ReadAndFinish(child, [&](std::string_view content, std::string_view) {
    line.clear();
    AppendDecoded(content, line);
    bool stop = false;
    if (on_line) {
      on_line(line, stop);
    }
    return !stop;
  });
}

int32_t ReadToolOutput(ChildProcess& child, std::string& output) {
  KeptLines kept;
  std::string line;
  const int32_t code = ReadAndFinish(child, [&](std::string_view content, std::string_view end) {
    line.clear();
    AppendDecoded(content, line);
    line.append(end);
    kept.Add(line);
    return true;
  });
  output = kept.Join("");
  return code;
}

}  // namespace tolvan::support
