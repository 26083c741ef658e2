#include "Recorders.h"

#include <algorithm>
#include <utility>

#include "platform/Paths.h"

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

std::vector<std::string> DialogRecorder::Notes() const {
  return TextsOf(true);
}

std::vector<std::string> DialogRecorder::Alerts() const {
  return TextsOf(false);
}

std::vector<std::string> DialogRecorder::TextsOf(bool information) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& dialog : dialogs_) {
    if ((dialog.Type == TMsgDlgType::mtInformation) == information) {
      texts.push_back(dialog.Text);
    }
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

std::string DurableCommitProblem(const std::vector<std::string>& calls, const std::string& written,
                                 const std::string& final_path) {
  // The calls ReplaceDurably notes on each system.
  const bool windows = platform::kPathDelimiter == '\\';
  const std::string flush = windows ? "FlushFileBuffers " : "fsync ";
  const std::vector<std::string> renames =
      windows ? std::vector<std::string>{"ReplaceFileW ", "MoveFileExW "}
              : std::vector<std::string>{"rename "};
  const std::size_t slash = windows ? final_path.find_last_of("\\/") : final_path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : final_path.substr(0, slash);
  const auto find = [&](const std::string& call, std::size_t from) {
    const auto at = std::find(calls.begin() + static_cast<std::ptrdiff_t>(from), calls.end(), call);
    return static_cast<std::size_t>(at - calls.begin());
  };
  const std::size_t file_flushed = find(flush + written, 0);
  if (file_flushed == calls.size()) {
    return "no \"" + flush + written + "\"";
  }
  std::size_t renamed = calls.size();
  for (const std::string& rename : renames) {
    renamed = std::min(renamed, find(rename + written + " " + final_path, file_flushed));
  }
  if (renamed == calls.size()) {
    return "no rename of \"" + written + "\" over \"" + final_path + "\" after its flush";
  }
  if (find(flush + folder, renamed) == calls.size()) {
    return "no \"" + flush + folder + "\" after the rename";
  }
  return {};
}

}  // namespace tolvan::test
