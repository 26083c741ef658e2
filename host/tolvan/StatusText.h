// The pieces of the live status line that decide things on their own: how far a gbak run has
// gone, and how a text is cut to the terminal's width.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tolvan::cli {

// Columns a UTF-8 text takes on a terminal: one per character, two for wide (East Asian,
// emoji) characters, none for combining marks and control characters.
std::size_t DisplayWidth(std::string_view text);

// The text with tabs expanded to the next multiple of eight columns and other control
// characters left out, cut so that it takes at most `columns` columns; never half a character.
std::string FitToWidth(std::string_view text, std::size_t columns);

// A gbak line without its "gbak:" prefix and the blanks after it.
std::string_view GbakText(std::string_view line);

// How far a gbak backup or restore has gone, read from gbak's verbose lines. gbak names every
// table once while it writes (or restores) the metadata ("writing table X", "restoring table X"),
// before any data; then it names each table whose data it handles ("writing data for table X",
// "restoring data for table X", ended by "N records written" or "N records restored"). The
// first list is the database's table count, the second the tables done. A restore does not name
// tables without rows, so it may stay short of the count until the run ends. The percentage only
// grows, stays below 100 while the run is on and reaches 100 only through Complete().
class GbakProgress {
 public:
  enum class Kind { Backup, Restore };
  explicit GbakProgress(Kind kind) : kind_(kind) {}

  void Feed(std::string_view line);
  void Complete();

  std::size_t Tables() const { return tables_.size(); }
  std::size_t TablesDone() const { return done_.size(); }
  // Nothing while the table count is not known (no table named yet, or a database without tables
  // before the run ends).
  std::optional<int> Percent() const { return percent_; }

 private:
  void Update();

  Kind kind_;
  std::set<std::string, std::less<>> tables_;
  std::set<std::string, std::less<>> done_;
  std::optional<std::string> current_;
  bool data_started_ = false;
  std::optional<int> percent_;
};

// "~12 s restantes" style estimate: the time left if the rest goes at the pace so far.
std::optional<std::chrono::duration<double>> TimeLeft(std::chrono::duration<double> elapsed,
                                                      int percent);

}  // namespace tolvan::cli
