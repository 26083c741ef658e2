#include "Recorders.h"

#include <utility>

namespace tolvan::test {

DialogRecorder::DialogRecorder(int answer) : answer_(answer) {
  previous_ = vesk::SetDialogSink([this](const vesk::Dialog& dialog) {
    std::lock_guard lock(mutex_);
    dialogs_.push_back(dialog);
    return answer_;
  });
}

DialogRecorder::~DialogRecorder() {
  vesk::SetDialogSink(std::move(previous_));
}

void DialogRecorder::SetAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
}

std::vector<vesk::Dialog> DialogRecorder::Dialogs() const {
  std::lock_guard lock(mutex_);
  return dialogs_;
}

std::vector<std::string> DialogRecorder::Texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& dialog : dialogs_) {
    texts.push_back(dialog.Text);
  }
  return texts;
}

LogRecorder::LogRecorder() {
  previous_ =
      vesk::SetLogSink([this](const std::string& text, int level, const std::string& source) {
        std::lock_guard lock(mutex_);
        entries_.push_back({text, level, source});
      });
}

LogRecorder::~LogRecorder() {
  vesk::SetLogSink(std::move(previous_));
}

std::vector<LogEntry> LogRecorder::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

PlainMessageRecorder::PlainMessageRecorder() {
  previous_ = platform::SetMessageBoxSink([this](const std::string& text) {
    std::lock_guard lock(mutex_);
    texts_.push_back(text);
  });
}

PlainMessageRecorder::~PlainMessageRecorder() {
  platform::SetMessageBoxSink(std::move(previous_));
}

std::vector<std::string> PlainMessageRecorder::Texts() const {
  std::lock_guard lock(mutex_);
  return texts_;
}

}  // namespace tolvan::test
