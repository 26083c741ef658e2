#include <iostream>

#include "Cli.h"

int main(int argc, char** argv) {
  return tolvan::cli::Run(argc, argv, std::cout, std::cerr);
}
