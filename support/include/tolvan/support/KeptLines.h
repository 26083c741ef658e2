// What a run keeps of a tool's lines for its message, whatever the tool prints.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tolvan::support {

// At most the first kLimit (256 KiB) and the last kLimit bytes of lines, whole lines only, and
// between them, when lines were left out, one line saying how many: "(... 1234 linhas omitidas
// ...)" ("(... 1 linha omitida ...)").
class KeptLines {
 public:
  static constexpr std::size_t kLimit = 256 * 1024;

  void Add(std::string line);
  void Clear();
  // The kept lines joined by Separator. With an empty Separator (lines that carry their own line
  // ends) the note on left-out lines stands on a line of its own.
  std::string Join(std::string_view Separator) const;

 private:
  std::vector<std::string> head_;
  std::size_t head_bytes_ = 0;
  bool head_closed_ = false;
  std::deque<std::string> tail_;
  std::size_t tail_bytes_ = 0;
  std::size_t left_out_ = 0;
};

}  // namespace tolvan::support
