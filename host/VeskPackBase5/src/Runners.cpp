// The two process runners. Launching goes through platform/ (no shell); the reading loop below
// is shared by both and knows nothing of how the child was started.
#include <cstddef>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "ChildEnvironment.h"
#include "LineSplitter.h"
#include "Utf8Path.h"
#include "platform/Interrupt.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan::platform::ChildProcess;

// Big enough that a chatty tool costs few reads; the pipe hands over what is there, so a slow
// tool's lines still arrive one by one.
constexpr std::size_t kReadChunk = 64 * 1024;

bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') {
      return false;
    }
  }
  return true;
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
    out += tolvan::platform::DecodeToolOutput(raw);
  }
}

// The child, or nullptr when it cannot be started. Everything that stops a start ends here, so
// the runners answer kResultadoNaoIniciado instead of throwing.
std::unique_ptr<ChildProcess> Start(const std::string& command_line, const std::string& directory) {
  if (IsBlank(command_line) || tolvan::platform::InterruptSignal() != 0) {
    return nullptr;
  }
  tolvan::platform::LaunchOptions options;
  options.command_line = command_line;
  options.extra_environment = vesk::detail::ChildVariables();
  if (!directory.empty() && directory != ".") {
    std::error_code error;
    if (!std::filesystem::is_directory(vesk::detail::Utf8Path(directory), error)) {
      return nullptr;
    }
    options.working_directory = directory;
  }
  try {
    return tolvan::platform::LaunchProcess(options);
  } catch (const std::exception&) {
    return nullptr;
  }
}

// How often a run looks for an operator's interrupt while its tool is silent. On POSIX a signal
// wakes the wait at once; this bounds the delay for a request made by another thread.
constexpr int kInterruptPollMs = 50;
// How long a tool asked to end may take before it is killed.
constexpr int kTerminateGraceMs = 2000;

bool Interrupted() {
  return tolvan::platform::InterruptSignal() != 0;
}

enum class Ending { kOutputEnded, kStopped, kInterrupted };

// Reads the child's output to its end and hands every line to on_line(content, line_end) as
// soon as it is complete, until on_line asks to stop or an interrupt is recorded.
template <typename OnLine>
Ending ReadLines(ChildProcess& child, OnLine&& on_line) {
  const auto buffer = std::make_unique<char[]>(kReadChunk);
  vesk::detail::LineSplitter splitter(kMaxLineBytes);
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

// The program ran, but how it ended cannot be known: what it wrote may be whole.
[[noreturn]] void ThrowWaitFailed(const std::system_error& error) {
  throw EToolWaitFailed(error.code(),
                        "o programa foi executado, mas não foi possível saber como terminou");
}

std::optional<int> WaitFor(ChildProcess& child, int timeout_ms) {
  try {
    return child.WaitFor(timeout_ms);
  } catch (const std::system_error& error) {
    ThrowWaitFailed(error);
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
  return *code != 0 ? *code : 128 + tolvan::platform::InterruptSignal();
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

}  // namespace

int32_t WinExec32AndRedirectOutput(const std::string& CommandLine, std::string& Output,
                                   bool /*Reserved1*/, bool /*Reserved2*/) {
  Output.clear();
  const auto child = Start(CommandLine, std::string());
  if (!child) {
    return kResultadoNaoIniciado;
  }
  vesk::KeptLines output;
  std::string line;
  Ending ending;
  try {
    ending = ReadLines(*child, [&](std::string_view content, std::string_view line_end) {
      line.clear();
      AppendDecoded(content, line);
      line.append(line_end);
      output.Add(line);
      return true;
    });
  } catch (...) {
    KillAndReap(*child);
    throw;
  }
  const int32_t code = Finish(*child, ending);
  Output = output.Join("");
  return code;
}

int32_t CaptureExecute(const std::string& CommandLine, const std::string& Parameters,
                       const std::string& Directory, const TCaptureLineCallback& OnLine) {
  std::string command_line = CommandLine;
  if (!Parameters.empty()) {
    command_line += ' ';
    command_line += Parameters;
  }
  const auto child = Start(command_line, Directory);
  if (!child) {
    return kResultadoNaoIniciado;
  }
  std::string line;
  Ending ending;
  try {
    ending = ReadLines(*child, [&](std::string_view content, std::string_view) {
      line.clear();
      AppendDecoded(content, line);
      bool stop = false;
      if (OnLine) {
        OnLine(line, stop);
      }
      return !stop;
    });
  } catch (...) {
    KillAndReap(*child);
    throw;
  }
  return Finish(*child, ending);
}
