// The progress frame of the command-line host: each line the plug-in hands it goes to the error
// stream with the time since the frame was made. In live mode (a terminal) the lines overwrite one
// status line instead.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "vesk/VeskPack5.h"

namespace tolvan::cli {

class ConsoleFrame : public TVeskFraProgresso {
 public:
  ConsoleFrame(std::ostream& out, bool live);
  ~ConsoleFrame() override;

  // Ends the live status line, so that what follows starts on a line of its own.
  void Finish();

  static constexpr std::size_t kLiveWidth = 100;

 protected:
  void ShowLine(const std::string& Line) override;

 private:
  std::string Stamp() const;

  std::ostream& out_;
  bool live_;
  bool status_shown_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tolvan::cli
