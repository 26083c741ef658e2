// The progress frame of the command-line host: each line the plug-in hands it goes to the error
// stream with the time since the run began. In live mode (a terminal) the lines overwrite one
// status line instead: a spinner, the elapsed time, how far the run has gone when that is known
// (a gbak run's tables, a growing file's size) and the last line, cut to the terminal's width and
// redrawn while a run is on, even when the tool is silent, and when the terminal is resized.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "StatusText.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {

class ConsoleFrame : public TVeskFraProgresso {
 public:
  struct Settings {
    bool live = false;
    // Reads how far a gbak run has gone from its lines.
    std::optional<GbakProgress::Kind> gbak;
    // The size of the file the run is writing, when it can be seen.
    std::function<std::optional<std::uint64_t>()> file_size;
    // The terminal's columns; 0 when not known.
    std::function<std::size_t()> columns;
    // --quiet: the lines are kept, and printed only when the run fails (Finish(false)).
    bool hold = false;
    // Where the elapsed time counts from: the whole run's start, when the frame shows one part
    // of it. Unset: the frame's own start.
    std::optional<std::chrono::steady_clock::time_point> since;
    // The rows of each table the gbak run will handle, when known before it: the percentage
    // follows them.
    std::map<std::string, std::uint64_t, std::less<>> table_rows;
    // Put before each of the tool's lines shown ("verificando, restaurando: ").
    std::string label;
    // How far the run has gone as something beside the tool reads it (the server's own COPY
    // progress), asked at each redraw; for a run whose lines do not say.
    std::function<ProgressState()> progress;
  };

  ConsoleFrame(std::ostream& out, Settings settings);
  ConsoleFrame(std::ostream& out, bool live)
      : ConsoleFrame(out, Settings{live, {}, {}, {}, false, {}, {}, {}, {}}) {}
  ~ConsoleFrame() override;

  // Starts the clock and the status line for a run that does not use the frame's own calls.
  void Begin();
  // Ends the live status line and clears it, so that what follows stands on a line of its own.
  // A run that succeeded shows its progress complete first; one that failed prints the lines
  // --quiet held.
  void Finish(bool succeeded = false);

  // For a gbak run whose rows of each table are counted beside it (GbakProgress::AwaitRows,
  // TakeRows); safe from any thread.
  void AwaitTableRows();
  void TakeTableRows(std::optional<std::map<std::string, std::uint64_t, std::less<>>> rows);

  void SetEhCircular(bool Value) override;
  void SetEhCircularParcial(bool Value) override;

  // The lines printed one by one (without the time), as MessageLines reads them: a failure's
  // message need not repeat them. None in live mode, where the status shows a line only briefly.
  std::set<std::string> PrintedLines();

  // Columns used when the terminal does not say.
  static constexpr std::size_t kDefaultColumns = 80;

 protected:
  void ShowLine(const std::string& Line) override;

 private:
  std::string Stamp() const;
  void ClearStatus();  // with mutex_ held
  // The status line's fields, most important first: the narrower the terminal, the fewer fit.
  std::vector<std::string> StatusFields() const;  // with mutex_ held
  std::optional<ProgressState> Progress() const;  // with mutex_ held
  void DrawStatus();                              // with mutex_ held
  void StartSpinner();
  void StopSpinner();

  std::ostream& out_;
  Settings settings_;
  bool status_shown_ = false;
  std::size_t drawn_columns_ = 0;
  std::chrono::steady_clock::time_point start_;
  // Where this frame's own part began: the time left follows its pace, not the whole run's.
  std::chrono::steady_clock::time_point pace_start_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread spinner_;
  bool spinning_ = false;
  unsigned turn_ = 0;
  std::string last_line_;
  std::set<std::string> printed_;
  std::vector<std::string> held_;
  std::size_t held_left_out_ = 0;
  std::optional<GbakProgress> progress_;
  // The run succeeded: a percentage read beside the tool shows as complete.
  bool completed_ = false;
};

}  // namespace tolvan::cli
