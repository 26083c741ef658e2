// PegarUsuarios, AddUser and PegarUser.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TolvanPostgreSQLUtil.h"
#include "WritableTransaction.h"
#include "platform/Text.h"
#include "tolvan/support/Sessions.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {

namespace {

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// The server reads every character outside ASCII as a letter of an identifier.
bool IsLetter(char32_t c) {
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'_' ||
         (c > 0x7F && !IsControl(c));
}

bool IsDigit(char32_t c) {
  return c >= U'0' && c <= U'9';
}

// The server keeps 63 bytes of a name and cuts the rest off without an error.
constexpr std::size_t kMaxRoleName = 63;

enum class NameFault { None, NotUtf8, Control, TooLong, Shape };

NameFault RoleNameFault(const std::string& name) {
  const std::optional<std::u32string> chars = tolvan::platform::DecodeUtf8(name);
  if (!chars) {
    return NameFault::NotUtf8;
  }
  for (const char32_t c : *chars) {
    if (IsControl(c)) {
      return NameFault::Control;
    }
  }
  if (name.size() > kMaxRoleName) {
    return NameFault::TooLong;
  }
  if (chars->empty() || !IsLetter(chars->front())) {
    return NameFault::Shape;
  }
  for (const char32_t c : *chars) {
    if (!IsLetter(c) && !IsDigit(c) && c != U'$') {
      return NameFault::Shape;
    }
  }
  return NameFault::None;
}

}  // namespace

bool IsPlainIdentifier(const std::string& name) {
  return RoleNameFault(name) == NameFault::None;
}

std::string RoleStatement(const std::string& user_name, const std::string& password,
                          bool standard_strings) {
  return "CREATE ROLE " + user_name + " WITH " + "LOGIN " + "NOSUPERUSER " + "NOCREATEDB " +
         "NOCREATEROLE " + "INHERIT " + "NOREPLICATION " + "CONNECTION LIMIT -1 " + "PASSWORD " +
         Literal(password, standard_strings) + " ";
}

std::string RoleCommentStatement(const std::string& user_name, const std::string& comment,
                                 bool standard_strings) {
  return "COMMENT ON ROLE " + user_name + " IS " + Literal(comment, standard_strings) + " ";
}

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  if (_AUser == nullptr) {
    throw std::runtime_error("PegarUsuarios: _AUser não poder ser nil");
  }
  support::AppendSessionsQuietly(DM, std::string(kSessionsSql), *_AUser);
}

void AddUser(TVeskDMConexao* DM, const std::string& UserName, const std::string& Password,
             const std::string& FirstName, const std::string& MiddleName,
             const std::string& LastName) {
  // The role name goes into the statements as a plain identifier; anything else could change
  // what they do.
  switch (RoleNameFault(UserName)) {
    case NameFault::None:
      break;
    case NameFault::NotUtf8:
      throw std::runtime_error("AddUser: AUserName não é um texto UTF-8 válido");
    case NameFault::Control:
      throw std::runtime_error("AddUser: AUserName não pode conter caracteres de controle");
    case NameFault::TooLong:
      throw std::runtime_error("AddUser: AUserName passa de " + std::to_string(kMaxRoleName) +
                               " bytes (uma letra acentuada ocupa dois)");
    case NameFault::Shape:
      throw std::runtime_error("AddUser: AUserName \"" + UserName +
                               "\" não é um nome de usuário válido (uma letra ou _, seguida de "
                               "letras, dígitos, _ ou $)");
  }
  TVeskSQLConnection* conn = DM->SQLConnection;
  const WritableTransaction writable(conn);
  const bool standard = StandardConformingStrings(conn);
  conn->ExecuteDirect(RoleStatement(UserName, Password, standard));
  conn->ExecuteDirect(
      RoleCommentStatement(UserName, FirstName + ";" + MiddleName + ";" + LastName, standard));
}

void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr) {
  if (_AUsr == nullptr) {
    throw std::runtime_error("PegarUser: _AUsr não poder ser nil");
  }
  TVeskSQLConnection* conn = DM->SQLConnection;
  const WritableTransaction writable(conn);
  auto query = std::make_unique<TVeskQuery>();
  query->SQLConnection = conn;
  query->SQL = std::string(kRolesSql);
  query->Open();
  query->First();
  while (!query->Eof()) {
    _AUsr->push_back(query->FieldByName("rolname") + ";" + query->FieldByName("description"));
    query->Next();
  }
  query->Close();
}

}  // namespace tolvan::postgresql
