// Every line tolvan prints on a terminal, laid out to the terminal's width: the error block, the
// result lines, the tool's lines and the plug-ins' notes, whoever prints them.
#pragma once

#include <cstddef>
#include <functional>
#include <ios>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

namespace tolvan::cli {

// A line laid out in lines of at most `columns` columns (none: as it is), broken at blanks, a
// path after a separator; the lines after the first indented under its text (past a "[ 0,1s] "
// stamp, or two more than its own indent). A line that fits is left exactly as it is.
std::string WrapLine(const std::string& line, std::size_t columns);

// While alive, what is written to `stream` goes out line by line through WrapLine, at the width
// `columns` gives at that moment (0: as it is). Text without its line end yet goes out as it is
// when the stream is flushed (a prompt), and so does anything that carries the status line's
// carriage returns or escape sequences, which fit the terminal themselves.
class ScopedLineWrapping {
 public:
  ScopedLineWrapping(std::ostream& stream, std::function<std::size_t()> columns);
  ~ScopedLineWrapping();
  ScopedLineWrapping(const ScopedLineWrapping&) = delete;
  ScopedLineWrapping& operator=(const ScopedLineWrapping&) = delete;

 private:
  class Buffer;
  std::ostream& stream_;
  std::streambuf* original_;
  std::unique_ptr<Buffer> buffer_;
  std::ios::fmtflags flags_;
};

}  // namespace tolvan::cli
