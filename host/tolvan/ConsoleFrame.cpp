#include "ConsoleFrame.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Console.h"
#include "Report.h"

namespace tolvan::cli {
namespace {

constexpr char kSpinner[] = {'|', '/', '-', '\\'};
constexpr auto kSpinnerPeriod = std::chrono::milliseconds(125);
constexpr const char* kClearLine = "\r\x1b[K";
// The lines --quiet holds: the first and the last ones of a long run, so that a tool's output
// never makes tolvan hold more than a bounded amount.
constexpr std::size_t kHeldFirst = 200;
constexpr std::size_t kHeldLast = 1000;

}  // namespace

ConsoleFrame::ConsoleFrame(std::ostream& out, Settings settings)
    : out_(out),
      settings_(std::move(settings)),
      start_(settings_.since.value_or(std::chrono::steady_clock::now())),
      pace_start_(std::chrono::steady_clock::now()) {
  if (settings_.gbak) {
    progress_.emplace(*settings_.gbak, std::move(settings_.table_rows));
  }
}

ConsoleFrame::~ConsoleFrame() {
  StopSpinner();
  std::lock_guard lock(mutex_);
  ClearStatus();
}

void ConsoleFrame::Begin() {
  StartSpinner();
}

void ConsoleFrame::Finish(bool succeeded) {
  StopSpinner();
  std::lock_guard lock(mutex_);
  if (succeeded && (progress_ || settings_.progress)) {
    if (progress_) {
      progress_->Complete();
    }
    completed_ = true;
    if (status_shown_) {
      DrawStatus();
    }
  }
  ClearStatus();
  if (!succeeded) {
    for (std::size_t i = 0; i < held_.size(); ++i) {
      if (i == kHeldFirst && held_left_out_ > 0) {
        out_ << "(" << held_left_out_ << " linhas omitidas)\n";
      }
      out_ << held_[i] << "\n";
    }
    out_ << std::flush;
  }
  held_.clear();
  held_left_out_ = 0;
}

void ConsoleFrame::AwaitTableRows() {
  std::lock_guard lock(mutex_);
  if (progress_) {
    progress_->AwaitRows();
  }
}

void ConsoleFrame::TakeTableRows(
    std::optional<std::map<std::string, std::uint64_t, std::less<>>> rows) {
  std::lock_guard lock(mutex_);
  if (progress_) {
    progress_->TakeRows(std::move(rows));
  }
}

void ConsoleFrame::ClearStatus() {
  if (status_shown_) {
    out_ << kClearLine << std::flush;
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
    pace_start_ = std::chrono::steady_clock::now();
    if (!settings_.since) {
      start_ = pace_start_;
    }
    if (!settings_.live || spinner_.joinable()) {
      return;
    }
    spinning_ = true;
    DrawStatus();
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
  // The decimal comma, as in every time tolvan writes.
  std::string stamp = buffer;
  std::replace(stamp.begin(), stamp.end(), '.', ',');
  return stamp;
}

std::vector<std::string> ConsoleFrame::StatusFields() const {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  std::vector<std::string> fields = {std::string(1, kSpinner[turn_ % sizeof kSpinner]) + " " +
                                     FormatDuration(elapsed)};
  if (const auto progress = Progress()) {
    if (const auto percent = progress->percent) {
      fields.push_back(std::to_string(*percent) + "% (" + std::to_string(progress->tables_done) +
                       "/" + std::to_string(progress->tables) + " tabelas)");
      if (const auto left = TimeLeft(std::chrono::steady_clock::now() - pace_start_, *percent)) {
        fields.push_back("faltam ");
        fields.back() += FormatTimeLeft(*left);
      }
    } else if (progress->tables > 0) {
      fields.push_back(std::to_string(progress->tables) +
                       (progress->tables == 1 ? " tabela" : " tabelas"));
    }
    if (progress->rows > 0) {
      fields.push_back(FormatCount(progress->rows) + (progress->rows == 1 ? " linha" : " linhas"));
    }
  }
  if (settings_.file_size) {
    if (const auto size = settings_.file_size()) {
      fields.push_back(FormatSize(*size));
    }
  }
  if (!last_line_.empty()) {
    fields.push_back(last_line_);
  }
  return fields;
}

std::optional<ProgressState> ConsoleFrame::Progress() const {
  if (progress_) {
    return progress_->State();
  }
  if (!settings_.progress) {
    return std::nullopt;
  }
  ProgressState state = settings_.progress();
  if (completed_ && state.percent) {
    state.percent = 100;
    state.tables_done = state.tables;
  }
  return state;
}

void ConsoleFrame::DrawStatus() {
  std::size_t columns = settings_.columns ? settings_.columns() : 0;
  if (columns == 0) {
    columns = kDefaultColumns;
  }
  // A status wider than the terminal now was drawn before the terminal shrank, and a terminal that
  // reflows wrapped it onto rows above the cursor: go up to its first row and clear from there.
  // The widths alone say so, on every system and whenever the resize came.
  if (status_shown_ && drawn_columns_ > columns) {
    out_ << "\x1b[" << (drawn_columns_ - 1) / columns << "A\r\x1b[J";
  }
  // One column is kept free: a terminal that wraps at its last column would start a new line.
  const std::string fitted =
      JoinFieldsToWidth(StatusFields(), " · ", columns - 1, !last_line_.empty());
  drawn_columns_ = DisplayWidth(fitted);
  out_ << kClearLine << fitted << std::flush;
  status_shown_ = true;
}

std::set<std::string> ConsoleFrame::PrintedLines() {
  std::lock_guard lock(mutex_);
  return printed_;
}

void ConsoleFrame::ShowLine(const std::string& Line) {
  std::lock_guard lock(mutex_);
  if (progress_) {
    progress_->Feed(Line);
  }
  if (!settings_.live) {
    if (settings_.hold) {
      if (held_.size() == kHeldFirst + kHeldLast) {
        held_.erase(held_.begin() + kHeldFirst);
        ++held_left_out_;
      }
      held_.push_back(Stamp() + settings_.label + Line);
    } else {
      out_ << Stamp() << settings_.label << Line << "\n" << std::flush;
    }
    // Held lines are printed before any failure's message: it need not repeat them either.
    for (std::string& printed : MessageLines(Line)) {
      printed_.insert(std::move(printed));
    }
    return;
  }
  // A count of records is in the status already, in its words: the line before it stays.
  if (!progress_ || !IsRecordCountLine(Line) || last_line_.empty()) {
    last_line_ = settings_.label + (progress_ ? std::string(GbakText(Line)) : Line);
  }
  ++turn_;
  DrawStatus();
}

}  // namespace tolvan::cli
