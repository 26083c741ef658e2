// The host frame's sequence around one tool run.
#pragma once

#include "vesk/VeskPack5.h"

namespace tolvan::support {

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

}  // namespace tolvan::support
