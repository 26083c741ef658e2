#include <iostream>

#include "Cli.h"
#include "platform/Interrupt.h"
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
  return tolvan::cli::Run(argc, argv, std::cout, std::cerr);
}
