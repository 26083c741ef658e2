// Dialogs, log entries and message boxes of the plug-ins, shown on the error stream.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "platform/MessageBox.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace tolvan::cli {

// Installs the sinks for its lifetime. A dialog waits for the operator on a terminal (Enter takes
// the first button, a number picks one) unless go_on is set; elsewhere it takes the first button.
// With quiet, log entries are kept (the log file has them) and given back by TakeHeldNotes, for a
// run that failed.
class ScopedConsoleSinks {
 public:
  explicit ScopedConsoleSinks(bool go_on, bool quiet = false);
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

  // The log entries --quiet kept, as they would have been printed; empty afterwards.
  std::string TakeHeldNotes() { return std::exchange(held_notes_, std::string()); }

 private:
  void Hold(const std::string& text);

  std::size_t message_boxes_ = 0;
  std::string last_box_;
  bool hold_boxes_ = false;
  std::string held_;
  std::string held_notes_;
  vesk::DialogSink previous_dialog_;
  vesk::LogSink previous_log_;
  tolvan::platform::MessageBoxSink previous_box_;
};

}  // namespace tolvan::cli
