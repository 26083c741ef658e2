#include <iostream>

#include "Cli.h"
#include "platform/Interrupt.h"

int main(int argc, char** argv) {
  // From here on SIGINT and SIGTERM (Ctrl-C, Ctrl-Break on Windows) only record the request: the
  // tool a run started is stopped and the export cleans up before tolvan leaves.
  tolvan::platform::InstallInterruptHandlers();
  return tolvan::cli::Run(argc, argv, std::cout, std::cerr);
}
