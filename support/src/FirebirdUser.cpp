#include "tolvan/support/FirebirdUser.h"

#include "tolvan/support/Text.h"

namespace tolvan::support {

std::string FirebirdLoginName(const std::string& user) {
  if (user.size() >= 2 && user.front() == '"' && user.back() == '"') {
    return user;
  }
  return AsciiUpper(user);
}

}  // namespace tolvan::support
