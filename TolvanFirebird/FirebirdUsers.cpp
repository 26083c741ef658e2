// The users of the server's security database, through the data-access library's security
// service client.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "TolvanFirebirdUtil.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/Text.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {
namespace {

using support::Utf8Path;

// The service client loads its own copy of the client library from the program's folder; it is
// refreshed from the client library there before each operation, whatever the outcome. The copy
// goes to a new file that then replaces the old one, so that a copy the process still has loaded
// is never rewritten in place.
void CopyClientLibraryForTheService() {
  const std::string folder = tolvan::platform::ExecutableDirectory();
  const std::string source = folder + TOLVAN_FIREBIRD_CLIENT_LIBRARY;
  const std::string target = folder + TOLVAN_FIREBIRD_SECURITY_CLIENT_LIBRARY;
  // A name of this call's own: two programs of the same folder may refresh the copy at once.
  const std::string fresh = target + "." + std::to_string(std::random_device{}()) + ".new";
  if (!CopyFile(source, fresh, false)) {
    return;
  }
  std::error_code error;
  std::filesystem::rename(Utf8Path(fresh), Utf8Path(target), error);
  if (error) {
    std::filesystem::remove(Utf8Path(fresh), error);
  }
}

void AddLoginLines(TVeskIBSecurityService& service, const TVeskSQLConnection& connection) {
  service.Params.push_back("USER_NAME=" + connection.GetParam("USER_NAME"));
  service.Params.push_back("PASSWORD=" + connection.GetParam("PASSWORD"));
}

TVeskIBSecurityAction ActionOf(UserAction action) {
  switch (action) {
    case UserAction::Add:
      return TVeskIBSecurityAction::AddUser;
    case UserAction::Delete:
      return TVeskIBSecurityAction::DeleteUser;
    case UserAction::Modify:
      return TVeskIBSecurityAction::ModifyUser;
  }
  throw std::invalid_argument("ação de usuário desconhecida");
}

// How long the names may be. Firebird 3 keeps a user name in 31 bytes and each of the three
// names in 32; Firebird 4 and later count characters: 63 for a user name, 32 for each name.
struct NameLimits {
  std::size_t user_name;
  std::size_t person_name;
  bool in_characters;
};

constexpr NameLimits kFirebird3Limits{31, 32, false};
constexpr NameLimits kFirebird4Limits{63, 32, true};

// The driver's server version is major * 10^12 + minor * 10^9 + release * 10^6 + build.
const NameLimits& NameLimitsOf(int64_t server_version) {
  return server_version >= 4'000'000'000'000 ? kFirebird4Limits : kFirebird3Limits;
}

// A text that reaches the service as it is: valid UTF-8, no control character, and, for the
// fields of PegarUser's line, no ";" that would shift the fields after it.
void RequireSafeText(const std::string& value, const char* export_name, const char* argument,
                     bool line_field, std::size_t max, bool in_characters) {
  const std::string what = std::string(export_name) + ": " + argument;
  const std::optional<std::u32string> chars = tolvan::platform::DecodeUtf8(value);
  if (!chars) {
    throw std::runtime_error(what + " não é um texto UTF-8 válido");
  }
  for (const char32_t c : *chars) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      throw std::runtime_error(what + " não pode conter caracteres de controle");
    }
    if (line_field && c == U';') {
      throw std::runtime_error(what +
                               " não pode conter \";\" (separa os campos da lista de usuários)");
    }
  }
  if (in_characters && chars->size() > max) {
    throw std::runtime_error(what + " passa de " + std::to_string(max) + " caracteres");
  }
  if (!in_characters && value.size() > max) {
    throw std::runtime_error(what + " passa de " + std::to_string(max) +
                             " bytes (uma letra acentuada ocupa dois)");
  }
}

// The names' checks, for the given limits; a limit of 0 checks the text alone.
void CheckNames(UserAction action, const char* export_name, const std::string& AUserName,
                const std::string& AFirstName, const std::string& AMiddleName,
                const std::string& ALastName, const NameLimits& limits) {
  const bool listed = action != UserAction::Delete;
  RequireSafeText(AUserName, export_name, "AUserName", listed, limits.user_name,
                  limits.in_characters);
  if (listed) {
    for (const auto& [value, name] :
         {std::pair{&AFirstName, "AFirstName"}, std::pair{&AMiddleName, "AMiddleName"},
          std::pair{&ALastName, "ALastName"}}) {
      RequireSafeText(*value, export_name, name, true, limits.person_name, limits.in_characters);
    }
  }
}

bool FitsFirebird3(UserAction action, const std::string& AUserName, const std::string& AFirstName,
                   const std::string& AMiddleName, const std::string& ALastName) {
  if (AUserName.size() > kFirebird3Limits.user_name) {
    return false;
  }
  return action == UserAction::Delete || (AFirstName.size() <= kFirebird3Limits.person_name &&
                                          AMiddleName.size() <= kFirebird3Limits.person_name &&
                                          ALastName.size() <= kFirebird3Limits.person_name);
}

// The limits of the server behind the host's connection. A connection that cannot tell its
// server's version keeps the tighter limits of Firebird 3.
const NameLimits& LimitsOfConnection(TVeskDMConexao* DM) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    return kFirebird3Limits;
  }
  try {
    return NameLimitsOf(DM->SQLConnection->GetServerVersion());
  } catch (const std::exception&) {
    return kFirebird3Limits;
  }
}

// Checks made before any file is copied or the service is reached. ModifyUser refuses an empty
// name with AddUser's text; its empty password keeps the user's password. Names that fit
// Firebird 3's limits fit every server's; only longer ones make the server's version matter.
void CheckUserArguments(UserAction action, TVeskDMConexao* DM, const std::string& AUserName,
                        const std::string& AUserPass, const std::string& AFirstName,
                        const std::string& AMiddleName, const std::string& ALastName) {
  const char* export_name = action == UserAction::Add      ? "AddUser"
                            : action == UserAction::Delete ? "DeleteUser"
                                                           : "ModifyUser";
  const char* empty_owner = action == UserAction::Delete ? "DeleteUser" : "AddUser";
  if (AUserName.empty()) {
    throw std::runtime_error(std::string(empty_owner) + ": AUserName não poder ser nil");
  }
  // The server would take a name of blanks alone and make a user nobody can name. An existing
  // one may still be changed or removed.
  if (action == UserAction::Add && AUserName.find_first_not_of(' ') == std::string::npos) {
    throw std::runtime_error(
        "AddUser: AUserName está em branco (só espaços); informe o nome do usuário");
  }
  if (action == UserAction::Add && AUserPass.empty()) {
    throw std::runtime_error("AddUser: AUserPass não poder ser nil");
  }
  constexpr NameLimits kTextOnly{SIZE_MAX, SIZE_MAX, false};
  CheckNames(action, export_name, AUserName, AFirstName, AMiddleName, ALastName, kTextOnly);
  if (!FitsFirebird3(action, AUserName, AFirstName, AMiddleName, ALastName)) {
    CheckNames(action, export_name, AUserName, AFirstName, AMiddleName, ALastName,
               LimitsOfConnection(DM));
  }
}

}  // namespace

void RunUserAction(UserAction action, TVeskDMConexao* DM, const std::string& AUserName,
                   const std::string& AUserPass, const std::string& /*AGroupName*/,
                   const std::string& AFirstName, const std::string& AMiddleName,
                   const std::string& ALastName) {
  CheckUserArguments(action, DM, AUserName, AUserPass, AFirstName, AMiddleName, ALastName);
  support::ConnectionOf(DM, action == UserAction::Add      ? "AddUser"
                            : action == UserAction::Delete ? "DeleteUser"
                                                           : "ModifyUser");
  CopyClientLibraryForTheService();
  TVeskIBSecurityService service;

  const std::string host =
      support::SplitDatabaseKey(DM->SQLConnection->GetDATABASENAME_KEY()).Server();
  service.ServerName = host.empty() ? "localhost" : host;
  service.Protocol = TVeskIBProtocol::TCP;
  AddLoginLines(service, *DM->SQLConnection);
  service.LoginPrompt = false;
  service.Trace = false;
  AttachWithinLimit(service.ServerName, ConnectLimitOf(DM), [&] { service.Attach(); });

  service.SecurityAction = ActionOf(action);
  service.UserName = AUserName;
  service.Password = AUserPass;
  service.FirstName = AFirstName;
  service.MiddleName = AMiddleName;
  service.LastName = ALastName;
  service.Run();
}

void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr) {
  if (_AUsr == nullptr) {
    throw std::runtime_error("PegarUser: _AUsr não poder ser nil");
  }
  support::ConnectionOf(DM, "PegarUser");
  CopyClientLibraryForTheService();
  TVeskIBSecurityService service;

  const std::string host =
      support::SplitDatabaseKey(DM->SQLConnection->GetDATABASENAME_KEY()).Server();
  if (host.empty()) {
    service.Protocol = TVeskIBProtocol::Local;
  } else {
    service.ServerName = host;
    service.Protocol = TVeskIBProtocol::TCP;
  }
  service.Params.clear();
  AddLoginLines(service, *DM->SQLConnection);
  service.LoginPrompt = false;
  service.Trace = false;
  AttachWithinLimit(host, ConnectLimitOf(DM), [&] { service.Attach(); });

  for (const TVeskIBUserInfo& user : service.DisplayUsers()) {
    _AUsr->push_back(user.UserName + ";" + user.FirstName + ";" + user.MiddleName + ";" +
                     user.LastName);
  }
}

}  // namespace tolvan::firebird
