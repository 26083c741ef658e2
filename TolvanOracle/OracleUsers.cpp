// Sessions, release, database users and schema creation, in plain SQL.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "TolvanOracleUtil.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::oracle {
namespace {

// The code points of a UTF-8 text, or nothing when it is not valid UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
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

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Letters outside ASCII that an unquoted Oracle name may hold: those of Latin-1, of the Latin
// extensions, Greek and Cyrillic.
bool IsWideLetter(char32_t c) {
  return c == 0xAA || c == 0xB5 || c == 0xBA ||
         (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) ||
         (c >= 0x370 && c <= 0x52F && c != 0x37E && c != 0x387);
}

// Oracle keeps names of up to 30 bytes.
constexpr std::size_t kMaxName = 30;

void RequireNotEmpty(const std::string& value, const char* export_name, const char* argument) {
  if (value.empty()) {
    throw std::runtime_error(std::string(export_name) + ": " + argument + " não poder ser nil");
  }
}

std::u32string RequireUtf8WithoutControls(const std::string& value, const std::string& what,
                                          bool controls_allowed) {
  const std::optional<std::u32string> chars = DecodeUtf8(value);
  if (!chars) {
    throw std::runtime_error(what + " não é um texto UTF-8 válido");
  }
  for (const char32_t c : *chars) {
    if (c == 0 || (!controls_allowed && IsControl(c))) {
      throw std::runtime_error(what + " não pode conter caracteres de controle");
    }
  }
  return *chars;
}

// A name or password that goes into a statement unquoted is either an unquoted identifier
// (letters, digits, "_", "$" and "#") or, whole, a quoted one: a double quote, one or more
// characters other than a double quote, a double quote. Anything else would end its place in the
// statement.
void RequireUnquotedIdentifier(const std::string& value, const char* export_name,
                               const char* argument, bool is_name = true) {
  const std::string what = std::string(export_name) + ": " + argument;
  const std::u32string chars = RequireUtf8WithoutControls(value, what, !is_name);
  const bool quoted = chars.size() >= 3 && chars.front() == U'"' && chars.back() == U'"' &&
                      chars.find(U'"', 1) == chars.size() - 1;
  if (!quoted) {
    for (const char32_t c : chars) {
      const bool ok = (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') ||
                      (c >= U'0' && c <= U'9') || c == U'_' || c == U'$' || c == U'#' ||
                      IsWideLetter(c);
      if (!ok) {
        throw std::runtime_error(
            what + " só pode ter letras, dígitos, _, $ e #, ou estar toda entre aspas duplas");
      }
    }
  }
  const std::size_t bytes = quoted ? value.size() - 2 : value.size();
  if (is_name && bytes > kMaxName) {
    throw std::runtime_error(what + " passa de " + std::to_string(kMaxName) +
                             " bytes (uma letra acentuada ocupa dois)");
  }
}

// A value that goes into a statement between double quotes may not hold one (nor a NUL).
void RequireQuotable(const std::string& value, const char* export_name, const char* argument,
                     bool is_name = true) {
  const std::string what = std::string(export_name) + ": " + argument;
  const std::u32string chars = RequireUtf8WithoutControls(value, what, !is_name);
  if (chars.find(U'"') != std::u32string::npos) {
    throw std::runtime_error(what + " não pode ter aspas duplas");
  }
  if (is_name && value.size() > kMaxName) {
    throw std::runtime_error(what + " passa de " + std::to_string(kMaxName) +
                             " bytes (uma letra acentuada ocupa dois)");
  }
}

// Upper case as Oracle gives it to the letters of Latin-1, Latin Extended-A, Greek and Cyrillic.
std::string Upper(const std::string& text) {
  const std::optional<std::u32string> chars = DecodeUtf8(text);
  if (!chars) {
    // Not UTF-8: only what is surely a letter of ASCII changes.
    std::string out = text;
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') {
        c = static_cast<char>(c - 'a' + 'A');
      }
    }
    return out;
  }
  std::string out;
  for (char32_t c : *chars) {
    if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
        (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
      c -= 0x20;
    } else if (c == 0xFF) {
      c = 0x178;
    } else if (c == 0xB5) {
      c = 0x39C;
    } else if (c == 0x3C2) {
      c = 0x3A3;
    } else if (c == 0x3AC) {
      c = 0x386;
    } else if (c >= 0x3AD && c <= 0x3AF) {
      c -= 0x25;
    } else if (c == 0x3CC) {
      c = 0x38C;
    } else if (c == 0x3CD || c == 0x3CE) {
      c -= 0x3F;
    } else if (c >= 0x450 && c <= 0x45F) {
      c -= 0x50;
    } else if (c == 0x131) {
      c = U'I';
    } else if (c == 0x17F) {
      c = U'S';
    } else if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
      c &= ~char32_t{1};  // pairs: the capital even, the small odd
    } else if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && (c % 2 == 0)) {
      c -= 1;  // pairs: the capital odd, the small even
    }
    AppendUtf8(out, c);
  }
  return out;
}

// Frees the query on every way out.
class QueryGuard {
 public:
  explicit QueryGuard(TVeskQuery* query) : query_(query) {}
  ~QueryGuard() { DestruirSQL(query_); }
  QueryGuard(const QueryGuard&) = delete;
  QueryGuard& operator=(const QueryGuard&) = delete;
  TVeskQuery& operator*() const { return *query_; }
  TVeskQuery* get() const { return query_; }

 private:
  TVeskQuery* query_;
};

TVeskQuery* Open(const std::string& sql) {
  return ExecutarSQL(sql, nullptr, false, false, 10, "", nullptr, true);
}

}  // namespace

std::string SessionsSql(const std::string& user_literal) {
  return "SELECT USERNAME || ' em ' || MACHINE || ' no ' || PROGRAM USERNAME FROM SYS.V_$SESSION "
         "WHERE USERNAME IS NOT NULL and USERNAME <> 'SYSMAN' and USERNAME <> 'DBSNMP'and SCHEMA# "
         "IN (SELECT SCHEMA# FROM SYS.V_$SESSION WHERE USERNAME = " +
         user_literal + ")";
}

std::vector<std::string> AddUserStatements(const std::string& user, const std::string& password,
                                           const std::string& tablespace) {
  return {"CREATE USER " + user + " PROFILE DEFAULT IDENTIFIED BY " + password +
              " DEFAULT TABLESPACE " + tablespace + " ACCOUNT UNLOCK ",
          "GRANT CONNECT TO " + user + " WITH ADMIN OPTION ",
          "GRANT DBA TO " + user + " WITH ADMIN OPTION "};
}

std::string DeleteUserStatement(const std::string& user) {
  return "DROP USER " + user;
}

std::string ModifyUserStatement(const std::string& user, const std::string& password) {
  return "ALTER USER " + user + " IDENTIFIED BY " + password;
}

std::vector<std::string> CriarDataBaseStatements(const std::string& user,
                                                 const std::string& password,
                                                 const std::string& tablespace) {
  const std::string to = " TO \"" + user + "\"";
  return {
      "CREATE USER \"" + user + "\" PROFILE \"DEFAULT\" IDENTIFIED BY \"" + password +
          "\" DEFAULT TABLESPACE \"" + tablespace +
          "\" TEMPORARY TABLESPACE \"TEMP\" ACCOUNT UNLOCK",
      "GRANT \"CONNECT\"" + to,
      "GRANT \"RESOURCE\"" + to,
      "GRANT alter SESSION" + to,
      "GRANT CREATE PROCEDURE" + to,
      "GRANT CREATE SEQUENCE" + to,
      "GRANT CREATE SESSION" + to,
      "GRANT CREATE TABLE" + to,
      "GRANT CREATE TRIGGER" + to,
      "GRANT CREATE TYPE" + to,
      "GRANT CREATE VIEW " + to,
      "GRANT UNLIMITED TABLESPACE" + to,
      "GRANT SELECT ON V_$DATABASE" + to,
      "GRANT SELECT ON V_$DATAFILE" + to,
      "GRANT SELECT ON V_$INSTANCE" + to,
      "GRANT SELECT ON V_$SESSION" + to,
      "GRANT SELECT ON V_$TABLESPACE" + to,
      "GRANT SELECT ON V_$VERSION" + to,
  };
}

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  if (_AUser == nullptr) {
    throw std::runtime_error("PegarUsuarios: _AUser não poder ser nil");
  }
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error("PegarUsuarios: DM não poder ser nil");
  }
  const std::string user = Upper(DM->SQLConnection->GetParam("USER_NAME"));
  QueryGuard query(Open(SessionsSql(ValorParaSQL(user))));
  SDS(query.get())->FetchAll = true;
  const int field = (*query).FieldIndex("USERNAME");
  for ((*query).First(); !(*query).Eof(); (*query).Next()) {
    _AUser->push_back((*query).FieldAsString(field));
  }
}

std::string Versao() {
  QueryGuard query(Open(std::string(kVersaoSql)));
  SDS(query.get())->FetchAll = true;
  return (*query).FieldByName("PROPERTY_VALUE");
}

void AddUser(const std::string& AUserName, const std::string& AUserPass,
             const std::string& AGroupName) {
  RequireNotEmpty(AUserName, "AddUser", "AUserName");
  RequireNotEmpty(AUserPass, "AddUser", "AUserPass");
  RequireNotEmpty(AGroupName, "AddUser", "AGroupName");
  RequireUnquotedIdentifier(AUserName, "AddUser", "AUserName");
  RequireUnquotedIdentifier(AUserPass, "AddUser", "AUserPass", false);
  RequireUnquotedIdentifier(AGroupName, "AddUser", "AGroupName");
  for (const auto& statement : AddUserStatements(AUserName, AUserPass, AGroupName)) {
    ExecutarSQLDireto(statement);
  }
}

void DeleteUser(const std::string& AUserName) {
  RequireNotEmpty(AUserName, "DeleteUser", "AUserName");
  RequireUnquotedIdentifier(AUserName, "DeleteUser", "AUserName");
  ExecutarSQLDireto(DeleteUserStatement(AUserName));
}

void ModifyUser(const std::string& AUserName, const std::string& AUserPass) {
  // The same texts as AddUser's.
  RequireNotEmpty(AUserName, "AddUser", "AUserName");
  RequireNotEmpty(AUserPass, "AddUser", "AUserPass");
  RequireUnquotedIdentifier(AUserName, "ModifyUser", "AUserName");
  RequireUnquotedIdentifier(AUserPass, "ModifyUser", "AUserPass", false);
  ExecutarSQLDireto(ModifyUserStatement(AUserName, AUserPass));
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                   const std::string& Password) {
  RequireQuotable(Database, "CriarDataBase", "Database");
  RequireQuotable(User, "CriarDataBase", "User");
  RequireQuotable(Password, "CriarDataBase", "Password", false);
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error("CriarDataBase: DM não poder ser nil");
  }
  for (const auto& statement : CriarDataBaseStatements(Upper(User), Password, Upper(Database))) {
    DM->SQLConnection->ExecuteDirect(statement);
  }
}

}  // namespace tolvan::oracle
