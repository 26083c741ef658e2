// The progress frame of the command-line host: each line the plug-in hands it goes to the error
// stream with the time since the frame was made. In live mode (a terminal) the lines overwrite one
// status line instead: a spinner, the elapsed time and the last line, redrawn while a run is on
// (between SetEhCircular/SetEhCircularParcial on and off) even when the tool is silent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "vesk/VeskPack5.h"

namespace tolvan::cli {

class ConsoleFrame : public TVeskFraProgresso {
 public:
  ConsoleFrame(std::ostream& out, bool live);
  ~ConsoleFrame() override;

  // Ends the live status line, so that what follows starts on a line of its own.
  void Finish();

  void SetEhCircular(bool Value) override;
  void SetEhCircularParcial(bool Value) override;

  static constexpr std::size_t kLiveWidth = 100;

 protected:
  void ShowLine(const std::string& Line) override;

 private:
  std::string Stamp() const;
  void DrawStatus();  // with mutex_ held
  void StartSpinner();
  void StopSpinner();

  std::ostream& out_;
  bool live_;
  bool status_shown_ = false;
  std::chrono::steady_clock::time_point start_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread spinner_;
  bool spinning_ = false;
  unsigned turn_ = 0;
  std::string last_line_;
};

}  // namespace tolvan::cli
