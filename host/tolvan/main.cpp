#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Console.h"
#include "WrappedOutput.h"
#include "platform/Interrupt.h"
#include "platform/Process.h"
#include "platform/Text.h"

int main(int argc, char** argv) {
  // Paths and names reach the Firebird client as UTF-8, and it converts them by the program's
  // LC_CTYPE: with the "C" default (no locale in the environment, or one never set) an accented
  // folder fails to open.
  tolvan::platform::UseUtf8CharacterType();
  // From here on SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break and the console's close on
  // Windows) only record the request: the tool a run started is stopped and the export cleans up
  // before tolvan leaves.
  tolvan::platform::InstallInterruptHandlers();
  tolvan::cli::PrepareConsole();
  // The arguments as UTF-8 (Windows gives main its arguments in the ANSI code page, which cannot
  // hold every name or password).
  const std::vector<std::string> arguments = tolvan::platform::ProgramArguments(argc, argv);
  std::vector<const char*> pointers{argc > 0 ? argv[0] : "tolvan"};
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  // On a terminal every line is laid out to its width, short of the last column, where a console
  // that wraps at once would add a blank line (OutputColumns leaves it already); a file or a pipe
  // gets the lines whole.
  const tolvan::cli::ScopedLineWrapping wrapped_out(
      std::cout, tolvan::cli::StdoutIsTerminal() ? tolvan::cli::OutputColumns
                                                 : std::function<std::size_t()>());
  const tolvan::cli::ScopedLineWrapping wrapped_err(
      std::cerr, tolvan::cli::StderrIsTerminal() ? std::function<std::size_t()>([] {
        const std::size_t width = tolvan::cli::TerminalColumns();
        return width > 1 ? width - 1 : width;
      })
                                                 : std::function<std::size_t()>());
  return tolvan::cli::Run(static_cast<int>(pointers.size()), pointers.data(), std::cout, std::cerr);
}
