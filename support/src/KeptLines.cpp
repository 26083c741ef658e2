#include <string>
#include <string_view>
#include <utility>

#include "tolvan/support/KeptLines.h"

namespace tolvan::support {

void KeptLines::Add(std::string line) {
  if (!head_closed_ && head_bytes_ + line.size() <= kLimit) {
    head_bytes_ += line.size();
    head_.push_back(std::move(line));
    return;
  }
  // Once a line went to the tail, later ones follow it there, so the order is kept.
  head_closed_ = true;
  tail_bytes_ += line.size();
  tail_.push_back(std::move(line));
  while (tail_bytes_ > kLimit) {
    tail_bytes_ -= tail_.front().size();
    tail_.pop_front();
    ++left_out_;
  }
}

void KeptLines::Clear() {
  *this = KeptLines();
}

std::string KeptLines::Join(std::string_view Separator) const {
  std::string text;
  bool first = true;
  const auto append = [&](std::string_view line) {
    if (!first) {
      text += Separator;
    }
    first = false;
    text += line;
  };
  for (const auto& line : head_) {
    append(line);
  }
  if (left_out_ != 0) {
    const std::string note = "(... " + std::to_string(left_out_) +
                             (left_out_ == 1 ? " linha omitida ...)" : " linhas omitidas ...)");
    if (Separator.empty()) {
      if (!text.empty() && text.back() != '\n') {
        text += '\n';
      }
      text += note;
      text += '\n';
    } else {
      append(note);
    }
  }
  for (const auto& line : tail_) {
    append(line);
  }
  return text;
}

}  // namespace tolvan::support
