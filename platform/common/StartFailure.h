// What a failed start says, the same on every system.
#pragma once

#include <string>

namespace tolvan::platform::internal {

// The program's name and folder only: the rest of the command line may carry a password.
inline std::string StartFailureContext(const std::string& program,
                                       const std::string& working_directory) {
  std::string context = "não foi possível iniciar \"" + program + "\"";
  if (!working_directory.empty()) {
    context += " na pasta \"" + working_directory + "\"";
  }
  return context;
}

}  // namespace tolvan::platform::internal
