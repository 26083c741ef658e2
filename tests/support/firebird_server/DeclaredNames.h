// What a declarations script declares, as the tests of the embedded scripts and of the databases
// made with them read it. The includer gives the host's drivers folder (firebird/IBComponents.h).
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "firebird/IBComponents.h"

namespace tolvan::test {

// The names the statements of a script declare as external functions, upper case, in order.
inline std::vector<std::string> DeclaredNames(std::string_view script) {
  std::vector<std::string> names;
  const std::string prefix = "DECLARE EXTERNAL FUNCTION ";
  for (const auto& s : vesk::firebird::SplitScript(script)) {
    std::string upper = s.bare;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper.rfind(prefix, 0) == 0) {
      const std::string rest = upper.substr(prefix.size());
      names.push_back(rest.substr(0, rest.find(' ')));
    }
  }
  return names;
}

}  // namespace tolvan::test
