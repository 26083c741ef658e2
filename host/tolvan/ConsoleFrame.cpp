#include "ConsoleFrame.h"

#include <cstdio>

namespace tolvan::cli {

ConsoleFrame::ConsoleFrame(std::ostream& out, bool live)
    : out_(out), live_(live), start_(std::chrono::steady_clock::now()) {}

ConsoleFrame::~ConsoleFrame() {
  Finish();
}

void ConsoleFrame::Finish() {
  if (status_shown_) {
    out_ << "\n" << std::flush;
    status_shown_ = false;
  }
}

std::string ConsoleFrame::Stamp() const {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "[%7.1fs] ", elapsed.count());
  return buffer;
}

void ConsoleFrame::ShowLine(const std::string& Line) {
  if (!live_) {
    out_ << Stamp() << Line << "\n" << std::flush;
    return;
  }
  std::string status = Stamp() + Line;
  if (status.size() > kLiveWidth) {
    // Cut on a character boundary so the terminal never gets half a UTF-8 sequence.
    std::size_t cut = kLiveWidth;
    while (cut > 0 && (static_cast<unsigned char>(status[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    status.resize(cut);
  }
  out_ << "\r\x1b[K" << status << std::flush;
  status_shown_ = true;
}

}  // namespace tolvan::cli
