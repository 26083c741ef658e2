// RunTool: a tool run of a plug-in, in the host's frame or without one.
#include <memory>
#include <optional>
#include <string>

#include "platform/Interrupt.h"
#include "platform/Process.h"
#include "tolvan/support/FrameRun.h"
#include "tolvan/support/ToolRunner.h"
#include "vesk/VeskPack5.h"

namespace tolvan::support {

ToolOutcome RunTool(const ToolCommand& command, TVeskFraProgresso* frame, bool circular) {
  std::optional<FrameRun> frame_run;
  if (frame != nullptr) {
    frame_run.emplace(*frame, circular);
  }
  // The plug-in's copy of the platform code keeps an interrupt record of its own, which the
  // host's handlers never write: for the length of the run, an interrupt is recorded here too.
  const platform::ScopedInterruptRecorder recorder;
  ToolOutcome outcome;
  platform::LaunchOptions options;
  options.command_line = command.command_line;
  options.extra_environment = command.environment;
  const std::unique_ptr<platform::ChildProcess> child = StartTool(options);
  if (!child) {
    outcome.code = kNotStarted;
  } else if (frame != nullptr) {
    outcome.code = ReadToolLines(
        *child, [frame](const std::string& line, bool& stop) { frame->DoCaptureLine(line, stop); });
  } else {
    outcome.code = ReadToolOutput(*child, outcome.output);
  }
  outcome.interrupt = platform::InterruptSignal();
  if (frame != nullptr && outcome.code != 0) {
    outcome.output = frame->GetCaptureText();
  }
  return outcome;
}

}  // namespace tolvan::support
