// Cuts a byte stream into lines as it arrives. LF and CR LF end a line; a lone CR inside a line
// stays part of it. Chunks may end anywhere, also between the CR and the LF of one line end.
// A line longer than the limit is handed on in pieces of at most the limit, with no line end, so
// that a tool writing without line ends never makes the reader hold more than that.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace tolvan::support::detail {

class LineSplitter {
 public:
  explicit LineSplitter(std::size_t max_line = 64 * 1024)
      : max_line_(std::max<std::size_t>(max_line, 4)) {}

  // Hands each complete line in the chunk (with what came before it) to
  // on_line(content, line_end), where line_end is "\n", "\r\n" or, for a piece of a long line and
  // from Finish, "". on_line returns false to stop; Feed then returns false and keeps nothing.
  template <typename OnLine>
  bool Feed(std::string_view chunk, OnLine&& on_line) {
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    while (p != end) {
      const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* const stop = lf == nullptr ? end : lf;
      if (pending_.empty() && lf != nullptr && static_cast<std::size_t>(lf - p) <= max_line_) {
        if (!Deliver(std::string_view(p, static_cast<size_t>(lf - p)), on_line)) {
          return false;
        }
        p = lf + 1;
        continue;
      }
      // Gather the line, handing on a full piece whenever more of the same line follows.
      while (p != stop) {
        if (pending_.size() == max_line_ && !DeliverPiece(on_line)) {
          return false;
        }
        const std::size_t take =
            std::min(max_line_ - pending_.size(), static_cast<std::size_t>(stop - p));
        pending_.append(p, take);
        p += take;
      }
      if (lf == nullptr) {
        return true;
      }
      const bool go_on = Deliver(pending_, on_line);
      pending_.clear();
      if (!go_on) {
        return false;
      }
      p = lf + 1;
    }
    return true;
  }

  // Hands on a last line that had no line end. Returns what on_line returned (true when none).
  template <typename OnLine>
  bool Finish(OnLine&& on_line) {
    if (pending_.empty()) {
      return true;
    }
    const bool go_on = on_line(std::string_view(pending_), std::string_view());
    pending_.clear();
    return go_on;
  }

 private:
  template <typename OnLine>
  static bool Deliver(std::string_view line, OnLine& on_line) {
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      return on_line(line, std::string_view("\r\n"));
    }
    return on_line(line, std::string_view("\n"));
  }

  // Hands on the gathered part of a long line, keeping back the start of a UTF-8 sequence that
  // the cut would split, so that a character is never broken in two.
  template <typename OnLine>
  bool DeliverPiece(OnLine& on_line) {
    std::size_t cut = pending_.size();
    for (std::size_t back = 1; back <= 3 && back < pending_.size(); ++back) {
      const auto byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
      if ((byte & 0xC0) == 0x80) {
        continue;  // a continuation byte: look further back for the lead
      }
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      if (length > back) {
        cut = pending_.size() - back;
      }
      break;
    }
    const bool go_on = on_line(std::string_view(pending_).substr(0, cut), std::string_view());
    pending_.erase(0, cut);
    if (!go_on) {
      pending_.clear();
    }
    return go_on;
  }

  std::size_t max_line_;
  std::string pending_;
};

}  // namespace tolvan::support::detail
