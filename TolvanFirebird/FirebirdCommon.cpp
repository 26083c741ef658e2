// Text helpers that several of the plug-in's units share (no connection objects here: the fuzz
// target links this file alone with the reply parser).
#include "TolvanFirebirdUtil.h"

namespace tolvan::firebird {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

bool IsBlankText(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') {
      return false;
    }
  }
  return true;
}

bool IsThisMachine(const std::string& host) {
  // The port, if any, follows a "/".
  const std::string name = host.substr(0, host.find('/'));
  return name.empty() || EqualsIgnoringCase(name, "localhost") || name.rfind("127.", 0) == 0 ||
         name == "::1" || name == "[::1]";
}

}  // namespace tolvan::firebird
