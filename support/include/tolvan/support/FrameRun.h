// The host frame's sequence around one tool run.
#pragma once

#include <cstdint>
#include <string>

#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::common {

// Sets the frame up for a run: the display mode on (circular or partial), capture keeping on
// (which starts an empty capture) and the circular-mode member set. On every way out it empties
// the pending text and puts the display mode back; capture keeping and the circular-mode member
// stay as the run left them. Read the captured text while this is alive, before the reset.
class FrameRun {
 public:
  FrameRun(TVeskFraProgresso& frame, bool circular) : frame_(frame), circular_(circular) {
    if (circular_) {
      frame_.SetEhCircular(true);
    } else {
      frame_.SetEhCircularParcial(true);
    }
    frame_.SetCaptureGuardar(true);
    frame_.EhCircular = circular_;
  }
  ~FrameRun() {
    try {
      frame_.TextoPendente.clear();
      if (circular_) {
        frame_.SetEhCircular(false);
      } else {
        frame_.SetEhCircularParcial(false);
      }
    } catch (...) {
      // The run's own outcome (or failure) is what the caller must hear about.
    }
  }
  FrameRun(const FrameRun&) = delete;
  FrameRun& operator=(const FrameRun&) = delete;

 private:
  TVeskFraProgresso& frame_;
  bool circular_;
};

// How a run in the frame ended: the tool's exit code and, when it failed, the frame's captured
// text as the run left it.
struct FrameRunOutcome {
  int32_t code = 0;
  std::string captured;
};

// Runs the command line through the toolkit with each output line fed to the frame, inside the
// frame sequence above. A failed run's captured text is read before the frame is reset.
inline FrameRunOutcome RunInFrame(const std::string& command_line, TVeskFraProgresso& frame,
                                  bool circular) {
  const FrameRun run(frame, circular);
  FrameRunOutcome outcome;
  outcome.code = CaptureExecute(
      command_line, "", ".",
      [&frame](const std::string& line, bool& stop) { frame.DoCaptureLine(line, stop); });
  if (outcome.code != 0) {
    outcome.captured = frame.GetCaptureText();
  }
  return outcome;
}

}  // namespace tolvan::common
