// Cuts a byte stream into lines as it arrives. LF and CR LF end a line; a lone CR inside a line
// stays part of it. Chunks may end anywhere, also between the CR and the LF of one line end.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace vesk::detail {

class LineSplitter {
 public:
  // Hands each complete line in the chunk (with what came before it) to
  // on_line(content, line_end), where line_end is "\n", "\r\n" or, from Finish, "". on_line
  // returns false to stop; Feed then returns false and keeps nothing.
  template <typename OnLine>
  bool Feed(std::string_view chunk, OnLine&& on_line) {
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    while (p != end) {
      const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (lf == nullptr) {
        pending_.append(p, end);
        return true;
      }
      bool go_on;
      if (pending_.empty()) {
        go_on = Deliver(std::string_view(p, static_cast<size_t>(lf - p)), on_line);
      } else {
        pending_.append(p, lf);
        go_on = Deliver(pending_, on_line);
        pending_.clear();
      }
      if (!go_on) {
        pending_.clear();
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

  std::string pending_;
};

}  // namespace vesk::detail
