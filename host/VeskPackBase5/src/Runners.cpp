// The two process runners. Launching goes through platform/ (no shell); the reading loop below
// is shared by both and knows nothing of how the child was started.
#include <cstddef>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "ChildEnvironment.h"
#include "LineSplitter.h"
#include "Utf8Path.h"
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
    out += tolvan::platform::SanitizeUtf8(raw);
  }
}

// The child, or nullptr when it cannot be started. Everything that stops a start ends here, so
// the runners answer kResultadoNaoIniciado instead of throwing.
std::unique_ptr<ChildProcess> Start(const std::string& command_line, const std::string& directory) {
  if (IsBlank(command_line)) {
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

// Reads the child's output to its end and hands every line to on_line(content, line_end) as
// soon as it is complete. Returns false when on_line asked to stop.
template <typename OnLine>
bool ReadLines(ChildProcess& child, OnLine&& on_line) {
  const auto buffer = std::make_unique<char[]>(kReadChunk);
  vesk::detail::LineSplitter splitter;
  for (;;) {
    const std::size_t count = child.Read(buffer.get(), kReadChunk);
    if (count == 0) {
      return splitter.Finish(on_line);
    }
    if (!splitter.Feed(std::string_view(buffer.get(), count), on_line)) {
      return false;
    }
  }
}

void KillAndReap(ChildProcess& child) noexcept {
  try {
    child.Kill();
    child.Wait();
  } catch (...) {
    // The exception already on its way matters more; the destructor reaps as a last resort.
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
  std::string output;
  ReadLines(*child, [&output](std::string_view content, std::string_view line_end) {
    AppendDecoded(content, output);
    output.append(line_end);
    return true;
  });
  const int32_t code = child->Wait();
  Output = std::move(output);
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
  bool finished;
  try {
    finished = ReadLines(*child, [&](std::string_view content, std::string_view) {
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
  if (!finished) {
    child->Kill();
  }
  return child->Wait();
}
