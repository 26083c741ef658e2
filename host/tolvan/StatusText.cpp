#include "StatusText.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>

namespace tolvan::cli {
namespace {

// One character of a UTF-8 text: its code point and its length in bytes. Invalid bytes count as
// one character each (the runners hand over valid UTF-8; this only keeps a bad byte harmless).
struct Character {
  char32_t code = 0;
  std::size_t length = 1;
};

Character NextCharacter(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 1;
  char32_t code = lead;
  if (lead >= 0xF0 && lead < 0xF8) {
    length = 4;
    code = lead & 0x07;
  } else if (lead >= 0xE0) {
    length = lead < 0xF0 ? 3 : 1;
    code = lead & 0x0F;
  } else if (lead >= 0xC0) {
    length = 2;
    code = lead & 0x1F;
  }
  if (length == 1 || at + length > text.size()) {
    return {lead, 1};
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      return {lead, 1};
    }
    code = (code << 6) | (next & 0x3F);
  }
  return {code, length};
}

bool InRanges(char32_t code, const std::pair<char32_t, char32_t>* ranges, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (code >= ranges[i].first && code <= ranges[i].second) {
      return true;
    }
  }
  return false;
}

constexpr std::pair<char32_t, char32_t> kCombining[] = {
    {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}};

constexpr std::pair<char32_t, char32_t> kWide[] = {
    {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},  {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},  {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},  {0x1F300, 0x1F64F},
    {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};

std::size_t Columns(char32_t code) {
  if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
    return 0;
  }
  if (InRanges(code, kCombining, std::size(kCombining))) {
    return 0;
  }
  return InRanges(code, kWide, std::size(kWide)) ? 2 : 1;
}

constexpr std::size_t kTabStop = 8;

// "1 records written", "   20000 records restored": how many rows of the open table gbak has
// handled so far. gbak prints one such line every 10,000 rows and one at the table's end.
std::optional<std::uint64_t> RecordCount(std::string_view text) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  std::size_t digits = 0;
  std::uint64_t count = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 19) {
    count = count * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    ++digits;
  }
  const std::string_view rest = text.substr(digits);
  if (digits > 0 &&
      (rest.substr(0, 16) == " records written" || rest.substr(0, 17) == " records restored")) {
    return count;
  }
  return std::nullopt;
}

bool TakeAfter(std::string_view line, std::string_view head, std::string_view& rest) {
  if (line.size() <= head.size() || line.substr(0, head.size()) != head) {
    return false;
  }
  rest = line.substr(head.size());
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r')) {
    rest.remove_suffix(1);
  }
  return !rest.empty();
}

}  // namespace

std::string_view GbakText(std::string_view line) {
  // Lines of a local gbak start with "gbak:"; through the service manager they come without it.
  constexpr std::string_view kPrefix = "gbak:";
  if (line.substr(0, kPrefix.size()) == kPrefix) {
    line.remove_prefix(kPrefix.size());
  }
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
    line.remove_prefix(1);
  }
  // The service manager ends its lines with a blank.
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  return line;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0; at < text.size();) {
    const Character c = NextCharacter(text, at);
    columns += Columns(c.code);
    at += c.length;
  }
  return columns;
}

std::string FitToWidth(std::string_view text, std::size_t columns) {
  std::string fitted;
  std::size_t used = 0;
  for (std::size_t at = 0; at < text.size();) {
    const Character c = NextCharacter(text, at);
    if (c.code == '\t') {
      const std::size_t blanks = kTabStop - used % kTabStop;
      if (used + blanks > columns) {
        break;
      }
      fitted.append(blanks, ' ');
      used += blanks;
    } else {
      const std::size_t width = Columns(c.code);
      if (used + width > columns) {
        break;
      }
      if (width > 0 || c.code >= 0x20) {
        fitted.append(text.substr(at, c.length));
      }
      used += width;
    }
    at += c.length;
  }
  return fitted;
}

std::string JoinFieldsToWidth(const std::vector<std::string>& fields, std::string_view separator,
                              std::size_t columns, bool last_is_text) {
  // Fewer columns than this for the text say nothing of it.
  constexpr std::size_t kShortestText = 8;
  if (fields.empty()) {
    return "";
  }
  std::string joined = FitToWidth(fields.front(), columns);
  if (DisplayWidth(fields.front()) > columns) {
    return joined;
  }
  std::size_t used = DisplayWidth(joined);
  const std::size_t separator_width = DisplayWidth(separator);
  for (std::size_t i = 1; i < fields.size(); ++i) {
    // Tabs expanded and control characters left out, as it is shown.
    const std::string piece = FitToWidth(fields[i], std::string::npos);
    const std::size_t width = separator_width + DisplayWidth(piece);
    if (used + width > columns) {
      if (last_is_text && i + 1 == fields.size() &&
          used + separator_width + kShortestText <= columns) {
        joined.append(separator).append(FitToWidth(piece, columns - used - separator_width));
      }
      break;
    }
    joined.append(separator).append(piece);
    used += width;
  }
  return joined;
}

namespace {

// Where the word that starts at `at` ends: the next blank or tab, or the end of the text.
std::size_t WordEnd(std::string_view text, std::size_t at) {
  const std::size_t end = text.find_first_of(" \t", at);
  return end == std::string_view::npos ? text.size() : end;
}

// A unit that tolvan writes after a number, with any punctuation that follows it.
bool IsUnit(std::string_view word) {
  while (!word.empty() && std::string_view(",.;:)").find(word.back()) != std::string_view::npos) {
    word.remove_suffix(1);
  }
  static constexpr std::string_view kUnits[] = {"s",   "ms",  "min", "h",      "B",      "KB",
                                                "kB",  "MB",  "GB",  "TB",     "KiB",    "MiB",
                                                "GiB", "TiB", "%",   "linhas", "tabelas"};
  return std::find(std::begin(kUnits), std::end(kUnits), word) != std::end(kUnits);
}

}  // namespace

std::string Wrap(std::string_view head, std::string_view text, std::size_t columns,
                 std::size_t indent) {
  columns = std::max<std::size_t>(columns, indent + 10);
  std::string out(head);
  std::size_t used = DisplayWidth(head);
  bool line_has_word = false;
  const auto new_line = [&] {
    while (!out.empty() && out.back() == ' ') {
      out.pop_back();
    }
    out += '\n';
    out.append(indent, ' ');
    used = indent;
    line_has_word = false;
  };
  if (used > columns) {
    new_line();
  }
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] == ' ' || text[at] == '\t') {
      ++at;
      continue;
    }
    std::size_t end = WordEnd(text, at);
    // A number and its unit ("403 MB", "1 min", "5 s") stay on one line.
    if (end < text.size() && text[end] == ' ' && end > at &&
        std::isdigit(static_cast<unsigned char>(text[end - 1])) != 0) {
      const std::size_t next = WordEnd(text, end + 1);
      if (IsUnit(text.substr(end + 1, next - end - 1))) {
        end = next;
      }
    }
    std::string_view word = text.substr(at, end - at);
    at = end;
    while (!word.empty()) {
      const std::size_t gap = line_has_word ? 1 : 0;
      const std::size_t width = DisplayWidth(word);
      if (used + gap + width <= columns) {
        out += std::string(gap, ' ');
        out += word;
        used += gap + width;
        line_has_word = true;
        break;
      }
      if (line_has_word || used > indent) {
        new_line();
        continue;
      }
      // Longer than a whole line: as much as fits, the rest on the next line; a path is cut
      // after one of its separators when one fits.
      std::string piece = FitToWidth(word, columns - used);
      const std::size_t separator = piece.find_last_of("/\\");
      if (separator != std::string::npos && separator > 0 && piece.size() < word.size()) {
        piece.resize(separator + 1);
      }
      if (piece.empty()) {
        // Nothing of it can be shown in a line (control characters): left as it is.
        out += word;
        used += width;
        line_has_word = true;
        break;
      }
      out += piece;
      word.remove_prefix(std::min(piece.size(), word.size()));
      new_line();
    }
  }
  while (!out.empty() && out.back() == ' ') {
    out.pop_back();
  }
  return out + "\n";
}

GbakProgress::GbakProgress(Kind kind, std::map<std::string, std::uint64_t, std::less<>> rows)
    : kind_(kind) {
  TakeRows(std::move(rows));
}

void GbakProgress::TakeRows(std::optional<std::map<std::string, std::uint64_t, std::less<>>> rows) {
  rows_awaited_ = false;
  if (rows) {
    weights_ = std::move(*rows);
    weight_total_ = 0;
    for (const auto& [table, count] : weights_) {
      weight_total_ += count;
    }
  }
  Update();
}

bool IsRecordCountLine(std::string_view line) {
  return RecordCount(GbakText(line)).has_value();
}

void GbakProgress::Feed(std::string_view line) {
  const bool backup = kind_ == Kind::Backup;
  const std::string_view text = GbakText(line);
  std::string_view name;
  if (TakeAfter(text, backup ? "writing data for table " : "restoring data for table ", name)) {
    EndTable();
    current_ = std::string(name);
    data_started_ = true;
    // A table not named in the list before still counts, so the count never falls behind.
    tables_.emplace(name);
  } else if (const auto count = RecordCount(text)) {
    // An intermediate count: the table goes on until gbak names the next one or another step.
    if (!current_) {
      return;
    }
    current_rows_ = std::max(current_rows_, *count);
    if (weight_total_ == 0) {
      return;
    }
  } else if (!backup && TakeAfter(text, "table ", name) && name.ends_with(" is a view")) {
    // A restore names a view as a table first; it has no data of its own.
    if (const auto view =
            tables_.find(name.substr(0, name.size() - std::string_view(" is a view").size()));
        view != tables_.end()) {
      tables_.erase(view);
    }
  } else if (!data_started_ &&
             TakeAfter(text, backup ? "writing table " : "restoring table ", name) &&
             name != "constraints") {
    // Only the metadata names tables; "writing table constraints" is a step of its own.
    tables_.emplace(name);
  } else if (current_) {
    // Any other line while a table is open: gbak has moved on (triggers, privileges, indexes,
    // the end), so that table's data is whole.
    EndTable();
  } else {
    return;
  }
  Update();
}

void GbakProgress::EndTable() {
  if (current_) {
    done_.insert(*current_);
    current_.reset();
  }
  rows_done_ += current_rows_;
  current_rows_ = 0;
}

void GbakProgress::Complete() {
  percent_ = 100;
}

void GbakProgress::Update() {
  if (percent_ == 100 || tables_.empty() || rows_awaited_) {
    return;
  }
  std::uint64_t share = done_.size() * 100 / tables_.size();
  if (weight_total_ > 0) {
    std::uint64_t done = 0;
    for (const std::string& table : done_) {
      if (const auto weight = weights_.find(table); weight != weights_.end()) {
        done += weight->second;
      }
    }
    if (current_) {
      const auto weight = weights_.find(*current_);
      done += std::min(current_rows_, weight == weights_.end() ? 0 : weight->second);
    }
    share = std::min(done, weight_total_) * 100 / weight_total_;
  }
  share = std::min<std::uint64_t>(99, share);
  percent_ = std::max(percent_.value_or(0), static_cast<int>(share));
}

std::optional<std::chrono::duration<double>> TimeLeft(std::chrono::duration<double> elapsed,
                                                      int percent) {
  // Before 5% or 2 s the pace says nothing yet (a first small table, the metadata).
  if (percent < kTimeLeftFromPercent || percent >= 100 || elapsed < kTimeLeftFromElapsed) {
    return std::nullopt;
  }
  return elapsed * (100 - percent) / percent;
}

}  // namespace tolvan::cli
