// The operator's terminal: whether there is one, and reading from it.
#pragma once

#include <optional>
#include <string>

namespace tolvan::cli {

bool StdinIsTerminal();
bool StderrIsTerminal();

// One line from standard input without its line end; nullopt at the end of input.
std::optional<std::string> ReadInputLine();

// Shows prompt on stderr and reads one line from the terminal without echoing it.
std::string ReadSecret(const std::string& prompt);

}  // namespace tolvan::cli
