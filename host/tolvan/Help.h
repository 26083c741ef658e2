// tolvan's usage and help texts, written from the table of what each export takes.
#pragma once

#include <ostream>
#include <string>

namespace tolvan::cli {

std::string Usage();

// The usage, the exports with one line each and the options they use: the family's with no
// plug-in, else those the plug-in's library really offers. Loads the library, runs nothing.
void PrintHelp(const std::string& plugin, std::ostream& out);

}  // namespace tolvan::cli
