// The operator's terminal: whether there is one, and reading from it.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>

namespace tolvan::cli {

// Makes the terminal take what tolvan writes as it is: UTF-8 text, "\n" line ends and the escape
// sequences of the status line (the Windows console needs to be told; a POSIX terminal does not).
void PrepareConsole();

bool StdinIsTerminal();
bool StdoutIsTerminal();
bool StderrIsTerminal();

// Columns of the terminal on stderr; 0 when it is not a terminal or does not say.
std::size_t TerminalColumns();

// Columns of the terminal on stdout less the last one; when stdout is a pipe or a file, of the
// terminal on stderr, where piped output is read (tolvan help | head); 80 when neither says: the
// width help and notes are wrapped to.
std::size_t OutputColumns();

// One line from standard input without its line end; nullopt at the end of input.
std::optional<std::string> ReadInputLine();

// One line of the stream without its line end ("\n" or "\r\n"); nullopt at its end.
std::optional<std::string> ReadLineWithoutEnd(std::istream& in);

// Shows prompt on stderr and reads one line from the terminal without echoing it.
std::string ReadSecret(const std::string& prompt);

}  // namespace tolvan::cli
