// Recording stand-ins for the toolkit's dialog and log sinks. Each installs itself for its
// lifetime and puts the sink it replaced back when it goes. And a frame that hands each line to
// the test.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MessageBox.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace tolvan::test {

// Records every dialog and answers each with the same button index (0 unless set).
class DialogRecorder {
 public:
  explicit DialogRecorder(int answer = 0);
  ~DialogRecorder();
  DialogRecorder(const DialogRecorder&) = delete;
  DialogRecorder& operator=(const DialogRecorder&) = delete;

  void SetAnswer(int answer);
  std::vector<vesk::Dialog> Dialogs() const;
  // The texts of the dialogs shown so far, in order.
  std::vector<std::string> Texts() const;
  // The same, of the information dialogs alone (notes) or of every other kind (warnings,
  // failures, questions).
  std::vector<std::string> Notes() const;
  std::vector<std::string> Alerts() const;

 private:
  std::vector<std::string> TextsOf(bool information) const;

  mutable std::mutex mutex_;
  int answer_;
  std::vector<vesk::Dialog> dialogs_;
  vesk::DialogSink previous_;
};

struct LogEntry {
  std::string Text;
  int Level = 0;
  std::string Source;
};

// Records every log entry.
class LogRecorder {
 public:
  LogRecorder();
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  std::vector<LogEntry> Entries() const;

 private:
  mutable std::mutex mutex_;
  std::vector<LogEntry> entries_;
  vesk::LogSink previous_;
};

// Records the texts of the platform's plain message box.
class PlainMessageRecorder {
 public:
  PlainMessageRecorder();
  ~PlainMessageRecorder();
  PlainMessageRecorder(const PlainMessageRecorder&) = delete;
  PlainMessageRecorder& operator=(const PlainMessageRecorder&) = delete;

  std::vector<std::string> Texts() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  platform::MessageBoxSink previous_;
};

// What is missing from calls (a platform::ScopedFileCallRecorder's) for a durable commit of
// written to final_path: written flushed, then renamed over final_path, then final_path's folder
// flushed, in that order, with the system's own call names. Empty when nothing is missing.
std::string DurableCommitProblem(const std::vector<std::string>& calls, const std::string& written,
                                 const std::string& final_path);

// A frame that lets a test act on each line a tool writes, while the tool runs.
class HookedFrame : public TVeskFraProgresso {
 public:
  explicit HookedFrame(std::function<void(const std::string&)> hook) : hook_(std::move(hook)) {}
  void DoCaptureLine(const std::string& line, bool& stop) override {
    hook_(line);
    TVeskFraProgresso::DoCaptureLine(line, stop);
  }

 private:
  std::function<void(const std::string&)> hook_;
};

}  // namespace tolvan::test
