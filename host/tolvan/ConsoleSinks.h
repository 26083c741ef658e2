// Dialogs, log entries and message boxes of the plug-ins, shown on the error stream.
#pragma once

#include <cstddef>
#include <string>

#include "platform/MessageBox.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::cli {

// Installs the sinks for its lifetime. A dialog waits for the operator on a terminal (Enter takes
// the first button, a number picks one) unless go_on is set; elsewhere it takes the first button.
class ScopedConsoleSinks {
 public:
  explicit ScopedConsoleSinks(bool go_on);
  ~ScopedConsoleSinks();
  ScopedConsoleSinks(const ScopedConsoleSinks&) = delete;
  ScopedConsoleSinks& operator=(const ScopedConsoleSinks&) = delete;

  // The messages shown so far (the toolkit's dialogs and the plain message boxes): an export that
  // reports a failure by showing it instead of raising is told apart by this count.
  std::size_t MessageBoxes() const { return message_boxes_; }

  // While held, a plain message box (one button, nothing to choose) is counted and kept instead
  // of shown, and a log entry of the same text is not printed: the caller says it once.
  void HoldMessageBoxes(bool hold) { hold_boxes_ = hold; }
  const std::string& HeldMessages() const { return held_; }

 private:
  void Hold(const std::string& text);

  std::size_t message_boxes_ = 0;
  std::string last_box_;
  bool hold_boxes_ = false;
  std::string held_;
  vesk::DialogSink previous_dialog_;
  vesk::LogSink previous_log_;
  tolvan::platform::MessageBoxSink previous_box_;
};

}  // namespace tolvan::cli
