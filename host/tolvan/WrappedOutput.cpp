#include "WrappedOutput.h"

#include <mutex>

#include "StatusText.h"

namespace tolvan::cli {
namespace {

// The indent of a line's continuation: under the text after a "[    0,1s] " stamp, else two
// more than the line's own leading blanks.
std::size_t ContinuationIndent(const std::string& line, std::size_t& head_length) {
  const std::size_t stamp_end = line.rfind("s] ", 14);
  if (!line.empty() && line.front() == '[' && stamp_end != std::string::npos) {
    head_length = stamp_end + 3;
    return head_length;
  }
  head_length = line.find_first_not_of(' ');
  if (head_length == std::string::npos) {
    head_length = line.size();
  }
  return head_length + 2;
}

}  // namespace

std::string WrapLine(const std::string& line, std::size_t columns) {
  if (columns == 0 || DisplayWidth(line) <= columns) {
    return line + "\n";
  }
  std::size_t head_length = 0;
  std::size_t indent = ContinuationIndent(line, head_length);
  // A head that leaves too little room is no place to indent to.
  if (indent + 20 > columns) {
    indent = 2;
  }
  return Wrap(std::string_view(line).substr(0, head_length),
              std::string_view(line).substr(head_length), columns, indent);
}

class ScopedLineWrapping::Buffer : public std::streambuf {
 public:
  Buffer(std::streambuf* target, std::function<std::size_t()> columns)
      : target_(target), columns_(std::move(columns)) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
      return traits_type::not_eof(c);
    }
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    std::lock_guard lock(mutex_);
    for (std::streamsize i = 0; i < count; ++i) {
      if (text[i] == '\n') {
        Emit(true);
      } else {
        pending_ += text[i];
      }
    }
    return count;
  }

  int sync() override {
    std::lock_guard lock(mutex_);
    Emit(false);
    return target_->pubsync();
  }

 private:
  // Sends the pending text: a whole line laid out to the width, a part of one as it is.
  void Emit(bool line_end) {
    std::string out;
    if (!line_end) {
      out = pending_;
    } else if (pending_.find_first_of("\r\x1b") != std::string::npos) {
      out = pending_ + "\n";
    } else {
      out = WrapLine(pending_, columns_ ? columns_() : 0);
    }
    pending_.clear();
    target_->sputn(out.data(), static_cast<std::streamsize>(out.size()));
  }

  std::streambuf* target_;
  std::function<std::size_t()> columns_;
  std::mutex mutex_;
  std::string pending_;
};

ScopedLineWrapping::ScopedLineWrapping(std::ostream& stream, std::function<std::size_t()> columns)
    : stream_(stream),
      original_(stream.rdbuf()),
      buffer_(std::make_unique<Buffer>(original_, std::move(columns))),
      flags_(stream.flags()) {
  stream_.rdbuf(buffer_.get());
  // A stream flushed after each piece written (std::cerr) would send a line in pieces, none of
  // them a whole line to lay out: the buffer sends each line as it ends, and what is flushed on
  // purpose (a prompt, the status line) as it is.
  stream_.unsetf(std::ios::unitbuf);
}

ScopedLineWrapping::~ScopedLineWrapping() {
  stream_.flush();
  stream_.rdbuf(original_);
  stream_.flags(flags_);
}

}  // namespace tolvan::cli
