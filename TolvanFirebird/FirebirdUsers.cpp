// The users of the server's security database, through the data-access library's security
// service client.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "TolvanFirebirdUtil.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {
namespace {

std::filesystem::path Utf8Path(const std::string& s) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(s.data()), s.size()));
}

// The service client loads its own copy of the client library from the program's folder; it is
// refreshed from the client library there before each operation, whatever the outcome. The copy
// goes to a new file that then replaces the old one, so that a copy the process still has loaded
// is never rewritten in place.
void CopiarClientLibrary() {
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
  throw std::invalid_argument("unknown user action");
}

void RequireConnection(TVeskDMConexao* DM, const char* export_name) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error(std::string(export_name) + ": DM não poder ser nil");
  }
}

}  // namespace

void ManterUsuario(UserAction action, TVeskDMConexao* DM, const std::string& AUserName,
                   const std::string& AUserPass, const std::string& /*AGroupName*/,
                   const std::string& AFirstName, const std::string& AMiddleName,
                   const std::string& ALastName) {
  RequireConnection(DM, action == UserAction::Add      ? "AddUser"
                        : action == UserAction::Delete ? "DeleteUser"
                                                       : "ModifyUser");
  CopiarClientLibrary();
  TVeskIBSecurityService service;

  const std::string host = HostOfDatabaseKey(DM->SQLConnection->GetDATABASENAME_KEY());
  service.ServerName = host.empty() ? "localhost" : host;
  service.Protocol = TVeskIBProtocol::TCP;
  AddLoginLines(service, *DM->SQLConnection);
  service.LoginPrompt = false;
  service.Trace = false;
  service.Attach();

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
  RequireConnection(DM, "PegarUser");
  CopiarClientLibrary();
  TVeskIBSecurityService service;

  const std::string host = HostOfDatabaseKey(DM->SQLConnection->GetDATABASENAME_KEY());
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
  service.Attach();

  for (const TVeskIBUserInfo& user : service.DisplayUsers()) {
    _AUsr->push_back(user.UserName + ";" + user.FirstName + ";" + user.MiddleName + ";" +
                     user.LastName);
  }
}

}  // namespace tolvan::firebird
