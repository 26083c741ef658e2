// Arguments as they go on a tool's command line, read back whole by the Microsoft C runtime's rules
// (and by the platform's POSIX splitter, which follows them).
#pragma once

#include <string>
#include <string_view>

namespace tolvan::support {

enum class Quote {
  // Only a text with a blank, a tab or a double quote, or the empty text.
  WhenNeeded,
  // Always: the command lines of gbak and pg_dump carry their file paths between quotes.
  Always,
};

// The argument as one piece of a command line. Quoted (as `when` asks), it is put between double
// quotes; a double quote inside becomes \" with the backslashes before it doubled, and the
// backslashes before the closing quote are doubled: C:\Meus Backups\ gives "C:\Meus Backups\\".
// Unquoted, it is the text unchanged. A program's own path (the first piece) never ends in a
// backslash, so it reads the same under the program-name rule, which knows no backslash escapes.
std::string QuoteArgument(std::string_view argument, Quote when = Quote::WhenNeeded);

// Raises std::runtime_error(message) when the path holds a double quote: no file name of Windows
// holds one, and on a command line it would end its quotes early.
void RefuseDoubleQuote(std::string_view path, const std::string& message);

}  // namespace tolvan::support
