// The toolkit's two process runners: launching goes through platform/ (no shell), and the output
// is read as the plug-ins' runner reads it (tolvan/support/ToolRunner.h).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "Utf8Path.h"
#include "platform/Process.h"
#include "tolvan/support/ToolRunner.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

static_assert(kMaxLineBytes == tolvan::support::kMaxLineBytes);
static_assert(kResultadoNaoIniciado == tolvan::support::kNotStarted);

namespace {

using tolvan::platform::ChildProcess;

// The child, or nullptr when it cannot be started. Everything that stops a start ends here, so
// the runners answer kResultadoNaoIniciado instead of throwing.
std::unique_ptr<ChildProcess> Start(const std::string& command_line, const std::string& directory) {
  tolvan::platform::LaunchOptions options;
  options.command_line = command_line;
  if (!directory.empty() && directory != ".") {
    std::error_code error;
    if (!std::filesystem::is_directory(vesk::detail::Utf8Path(directory), error)) {
      return nullptr;
    }
    options.working_directory = directory;
  }
  return tolvan::support::StartTool(options);
}

template <typename Read>
int32_t RunAndRead(const std::string& command_line, const std::string& directory, Read&& read) {
  const auto child = Start(command_line, directory);
  if (!child) {
    return kResultadoNaoIniciado;
  }
  try {
    return read(*child);
  } catch (const tolvan::support::ToolWaitFailed& error) {
    throw EToolWaitFailed(error.code(), error.what());
  }
}

}  // namespace

int32_t WinExec32AndRedirectOutput(const std::string& CommandLine, std::string& Output,
                                   bool /*Reserved1*/, bool /*Reserved2*/) {
  Output.clear();
  return RunAndRead(CommandLine, std::string(), [&Output](ChildProcess& child) {
    return tolvan::support::ReadToolOutput(child, Output);
  });
}

int32_t CaptureExecute(const std::string& CommandLine, const std::string& Parameters,
                       const std::string& Directory, const TCaptureLineCallback& OnLine) {
  std::string command_line = CommandLine;
  if (!Parameters.empty()) {
    command_line += ' ';
    command_line += Parameters;
  }
  return RunAndRead(command_line, Directory, [&OnLine](ChildProcess& child) {
    return tolvan::support::ReadToolLines(child, OnLine);
  });
}
