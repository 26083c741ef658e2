// The users of the server's security database, through the data-access library's security
// service client.
#include <filesystem>
#include <optional>
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
  throw std::invalid_argument("ação de usuário desconhecida");
}

// The code points of a UTF-8 text, or nothing when it is not valid UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
std::optional<std::u32string> DecodeUtf8(const std::string& text) {
  std::u32string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t c = 0;
    if (lead < 0x80) {
      c = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      c = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (text.size() - i <= static_cast<std::size_t>(extra)) {
      return std::nullopt;
    }
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return std::nullopt;
      }
      c = (c << 6) | (next & 0x3F);
    }
    const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < smallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      return std::nullopt;
    }
    out += c;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

// The security database keeps a user name in 31 bytes and each of the three names in 32.
constexpr std::size_t kMaxUserName = 31;
constexpr std::size_t kMaxPersonName = 32;

// A text that reaches the service as it is: valid UTF-8, no control character, and, for the
// fields of PegarUser's line, no ";" that would shift the fields after it.
void RequireSafeText(const std::string& value, const char* export_name, const char* argument,
                     bool line_field, std::size_t max_bytes) {
  const std::string what = std::string(export_name) + ": " + argument;
  const std::optional<std::u32string> chars = DecodeUtf8(value);
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
  if (value.size() > max_bytes) {
    throw std::runtime_error(what + " passa de " + std::to_string(max_bytes) +
                             " bytes (uma letra acentuada ocupa dois)");
  }
}

// Checks made before any file is copied or the server is reached. ModifyUser refuses an empty
// name with AddUser's text; its empty password keeps the user's password.
void VerificarArgumentos(UserAction action, const std::string& AUserName,
                         const std::string& AUserPass, const std::string& AFirstName,
                         const std::string& AMiddleName, const std::string& ALastName) {
  const char* export_name = action == UserAction::Add      ? "AddUser"
                            : action == UserAction::Delete ? "DeleteUser"
                                                           : "ModifyUser";
  const char* empty_owner = action == UserAction::Delete ? "DeleteUser" : "AddUser";
  if (AUserName.empty()) {
    throw std::runtime_error(std::string(empty_owner) + ": AUserName não poder ser nil");
  }
  if (action == UserAction::Add && AUserPass.empty()) {
    throw std::runtime_error("AddUser: AUserPass não poder ser nil");
  }
  const bool listed = action != UserAction::Delete;
  RequireSafeText(AUserName, export_name, "AUserName", listed, kMaxUserName);
  if (listed) {
    RequireSafeText(AFirstName, export_name, "AFirstName", true, kMaxPersonName);
    RequireSafeText(AMiddleName, export_name, "AMiddleName", true, kMaxPersonName);
    RequireSafeText(ALastName, export_name, "ALastName", true, kMaxPersonName);
  }
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
  VerificarArgumentos(action, AUserName, AUserPass, AFirstName, AMiddleName, ALastName);
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
