// The command-line host: tolvan <plugin> <Export> [options], and tolvan tour.
#pragma once

#include <ostream>

namespace tolvan::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// Another run was writing the same backup name and --no-wait was given (sysexits' EX_TEMPFAIL:
// try again later).
inline constexpr int kExitBusy = 75;

// Runs one command; results go to out, messages to err. Returns the exit status.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace tolvan::cli
