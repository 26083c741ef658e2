// The Firebird user name as a login gives it, for the plug-in's gbak runs and the host's driver.
#pragma once

#include <string>

namespace tolvan::support {

// The security database keeps a user name with only its ASCII letters in upper case ("joão" is
// kept as "JOãO"), and the server folds a login name the same way only when it is all ASCII: an
// accented name is given already folded, so that it logs in as typed. A name between double
// quotes is exact and stays as it is.
std::string FirebirdLoginName(const std::string& user);

}  // namespace tolvan::support
