#include "ConsoleFrame.h"

#include <cstdio>

namespace tolvan::cli {
namespace {

constexpr char kSpinner[] = {'|', '/', '-', '\\'};
constexpr auto kSpinnerPeriod = std::chrono::milliseconds(125);

}  // namespace

ConsoleFrame::ConsoleFrame(std::ostream& out, bool live)
    : out_(out), live_(live), start_(std::chrono::steady_clock::now()) {}

ConsoleFrame::~ConsoleFrame() {
  Finish();
}

void ConsoleFrame::Finish() {
  StopSpinner();
  std::lock_guard lock(mutex_);
  if (status_shown_) {
    out_ << "\n" << std::flush;
    status_shown_ = false;
  }
}

void ConsoleFrame::SetEhCircular(bool Value) {
  Value ? StartSpinner() : StopSpinner();
}

void ConsoleFrame::SetEhCircularParcial(bool Value) {
  Value ? StartSpinner() : StopSpinner();
}

void ConsoleFrame::StartSpinner() {
  {
    // The time shown is the run's, not including the dialogs the operator answered before it.
    std::lock_guard lock(mutex_);
    start_ = std::chrono::steady_clock::now();
    if (!live_ || spinner_.joinable()) {
      return;
    }
    spinning_ = true;
  }
  spinner_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kSpinnerPeriod, [this] { return !spinning_; })) {
      ++turn_;
      DrawStatus();
    }
  });
}

void ConsoleFrame::StopSpinner() {
  if (!spinner_.joinable()) {
    return;
  }
  {
    std::lock_guard lock(mutex_);
    spinning_ = false;
  }
  wake_.notify_all();
  spinner_.join();
}

std::string ConsoleFrame::Stamp() const {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "[%7.1fs] ", elapsed.count());
  return buffer;
}

void ConsoleFrame::DrawStatus() {
  std::string status =
      std::string(1, kSpinner[turn_ % sizeof kSpinner]) + " " + Stamp() + last_line_;
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

void ConsoleFrame::ShowLine(const std::string& Line) {
  std::lock_guard lock(mutex_);
  if (!live_) {
    out_ << Stamp() << Line << "\n" << std::flush;
    return;
  }
  last_line_ = Line;
  ++turn_;
  DrawStatus();
}

}  // namespace tolvan::cli
