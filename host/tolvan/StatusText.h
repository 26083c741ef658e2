// The pieces of the live status line that decide things on their own: how far a gbak run has
// gone, and how a text is cut to the terminal's width.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tolvan::cli {

// Columns a UTF-8 text takes on a terminal: one per character, two for wide (East Asian,
// emoji) characters, none for combining marks and control characters.
std::size_t DisplayWidth(std::string_view text);

// The text with tabs expanded to the next multiple of eight columns and other control
// characters left out, cut so that it takes at most `columns` columns; never half a character.
std::string FitToWidth(std::string_view text, std::size_t columns);

// The fields joined by the separator, as many as fit in `columns` whole, from the left; the first
// is cut (FitToWidth) only when not even it fits. A number is never shown cut. With `last_is_text`
// the last field is free text (a tool's line), which is cut to the room left rather than dropped
// when at least a few columns are free for it.
std::string JoinFieldsToWidth(const std::vector<std::string>& fields, std::string_view separator,
                              std::size_t columns, bool last_is_text = false);

// Text laid out in lines of at most `columns` columns, broken at blanks (never between a number and
// its unit): the first line starts with
// head, the others with `indent` blanks; a word too long for a line of its own is cut, a path
// after one of its separators. Each line ends with "\n". A head wider than the line leaves the
// text to the next lines.
std::string Wrap(std::string_view head, std::string_view text, std::size_t columns,
                 std::size_t indent);

// A gbak line without its "gbak:" prefix and the blanks around its text.
std::string_view GbakText(std::string_view line);

// How far a gbak backup or restore has gone, read from gbak's verbose lines. gbak names every
// table once while it writes (or restores) the metadata ("writing table X", "restoring table X"),
// before any data; then it names each table whose data it handles ("writing data for table X",
// "restoring data for table X", followed by "N records written" or "N records restored" every
// 10,000 rows and at the end). A table is done when the next table's data begins or gbak moves on
// to another step; the first list is the database's table count, the second the tables done. A
// restore does not name tables without rows, so it may stay short of the count until the run ends.
// The percentage only grows, stays below 100 while the run is on and reaches 100 only through
// Complete().
// How far a run has gone, as the status line shows it: the percentage (nothing while it is not
// known), the tables done of those the run handles, and the rows handled so far (0: not shown).
struct ProgressState {
  std::optional<int> percent;
  std::size_t tables = 0;
  std::size_t tables_done = 0;
  std::uint64_t rows = 0;
};

// A line of gbak's that only counts records ("gbak:20000 records written"), which the status shows
// as its own count of rows.
bool IsRecordCountLine(std::string_view line);

class GbakProgress {
 public:
  enum class Kind { Backup, Restore };
  explicit GbakProgress(Kind kind) : kind_(kind) {}
  // With the rows each table holds, known before the run (a restore of a backup just written),
  // the percentage follows the rows, within a table too, instead of counting tables.
  GbakProgress(Kind kind, std::map<std::string, std::uint64_t, std::less<>> rows);

  void Feed(std::string_view line);
  void Complete();
  // The rows of each table come during the run (counted beside the tool): until they do, no
  // percentage, which counting tables would put far ahead of the bytes when one table holds most.
  void AwaitRows() { rows_awaited_ = true; }
  // The rows awaited, or nothing when they will not come: the percentage then counts tables.
  void TakeRows(std::optional<std::map<std::string, std::uint64_t, std::less<>>> rows);

  std::size_t Tables() const { return tables_.size(); }
  std::size_t TablesDone() const { return done_.size(); }
  // The rows handled so far, the open table's included; it grows with each count gbak prints.
  std::uint64_t Rows() const { return rows_done_ + current_rows_; }
  // Nothing while the table count is not known (no table named yet, or a database without tables
  // before the run ends).
  std::optional<int> Percent() const { return percent_; }
  ProgressState State() const { return {percent_, Tables(), TablesDone(), Rows()}; }

 private:
  void Update();
  void EndTable();

  Kind kind_;
  std::set<std::string, std::less<>> tables_;
  std::set<std::string, std::less<>> done_;
  std::optional<std::string> current_;
  std::uint64_t rows_done_ = 0;
  std::uint64_t current_rows_ = 0;
  bool data_started_ = false;
  std::optional<int> percent_;
  std::map<std::string, std::uint64_t, std::less<>> weights_;
  std::uint64_t weight_total_ = 0;
  bool rows_awaited_ = false;
};

// The time left if the rest goes at the pace so far; nothing before the pace can mean anything
// (below kTimeLeftFromPercent done or kTimeLeftFromElapsed run) and at 100%.
inline constexpr int kTimeLeftFromPercent = 5;
inline constexpr std::chrono::seconds kTimeLeftFromElapsed{2};
std::optional<std::chrono::duration<double>> TimeLeft(std::chrono::duration<double> elapsed,
                                                      int percent);

}  // namespace tolvan::cli
