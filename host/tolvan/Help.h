// tolvan's usage and help texts, written from the table of what each export takes.
#pragma once

#include <ostream>
#include <string>

namespace tolvan::cli {

std::string Usage();

// The usage, the exports with one line each and the options they use: the family's with no
// plug-in, else those the plug-in's library really offers; with an export, that export alone
// (what it does, its options, an example). Wrapped to the terminal of stdout, 80 columns
// elsewhere. Loads the library, runs nothing.
void PrintHelp(const std::string& plugin, const std::string& export_name, std::ostream& out);

// tolvan's version and the build's commit, and the plug-ins laid out beside it.
void PrintVersion(std::ostream& out);

}  // namespace tolvan::cli
