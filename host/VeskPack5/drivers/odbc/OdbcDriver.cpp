// The ODBC driver: a driver manager connection behind vesk::driver::Session. Texts cross the
// driver manager as UTF-16 (the W functions), so UTF-8 inside is kept whatever the code page.
// (On Windows the build force-includes windows.h, which the ODBC headers need first.)
//
// Statements and the connection string go out as UTF-8 through the narrow functions where the
// build says the driver managers take UTF-8 there (unixODBC): it hands the bytes on unchanged to
// drivers that offer only narrow entry points (such as the SQLite one), whereas its conversion of
// wide text for those drivers keeps only the low byte of each character. Windows' narrow functions
// take the ANSI code page, so there everything goes wide.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Names.h"
#include "vesk/host/Driver.h"
#include "vesk/host/Odbc.h"

namespace vesk::odbc {
namespace {

using WString = std::basic_string<SQLWCHAR>;

constexpr bool kNarrowIsUtf8 = VESK_ODBC_NARROW_IS_UTF8;

WString ToWide(const std::string& text) {
  WString wide;
  wide.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    uint32_t code = 0xFFFD;
    size_t length = 1;
    if (byte < 0x80) {
      code = byte;
    } else if ((byte & 0xE0) == 0xC0) {
      length = 2;
    } else if ((byte & 0xF0) == 0xE0) {
      length = 3;
    } else if ((byte & 0xF8) == 0xF0) {
      length = 4;
    }
    if (length > 1) {
      if (i + length > text.size()) {
        length = 1;
      } else {
        code = byte & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
          const auto next = static_cast<unsigned char>(text[i + k]);
          if ((next & 0xC0) != 0x80) {
            code = 0xFFFD;
            length = 1;
            break;
          }
          code = (code << 6) | (next & 0x3F);
        }
      }
    }
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide.push_back(static_cast<SQLWCHAR>(0xD800 + (code >> 10)));
      wide.push_back(static_cast<SQLWCHAR>(0xDC00 + (code & 0x3FF)));
    } else {
      wide.push_back(static_cast<SQLWCHAR>(code));
    }
  }
  return wide;
}

std::string FromWide(const SQLWCHAR* wide, size_t size) {
  std::string text;
  text.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    uint32_t code = wide[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < size && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      text.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      text.push_back(static_cast<char>(0xC0 | (code >> 6)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      text.push_back(static_cast<char>(0xE0 | (code >> 12)));
      text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      text.push_back(static_cast<char>(0xF0 | (code >> 18)));
      text.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return text;
}

bool Succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// The diagnostic records of a handle, one "text (SQLSTATE xxxxx)" each, joined by line ends.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, message,
                                        static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!Succeeded(rc)) {
      break;
    }
    const size_t size = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                         std::size(message) - 1);
    if (!text.empty()) {
      text += "\n";
    }
    text += FromWide(message, size) + " (SQLSTATE " + FromWide(state, 5) + ")";
  }
  return text;
}

[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  std::string text = handle != nullptr ? Diagnostics(type, handle) : std::string();
  if (text.empty()) {
    text = "ODBC: falha sem diagnóstico " + what;
  }
  throw TVeskDriverError(text);
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  if (!Succeeded(rc)) {
    Fail(type, handle, what);
  }
}

// One ODBC handle, freed by its owner.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!Succeeded(SQLAllocHandle(type, parent, &handle_))) {
      const SQLSMALLINT parent_type = type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC;
      if (parent != SQL_NULL_HANDLE) {
        Fail(parent_type, parent, "ao alocar um handle");
      }
      throw TVeskDriverError("ODBC: o gerenciador de drivers não conseguiu alocar um ambiente");
    }
  }
  ~Handle() { SQLFreeHandle(type_, handle_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

class OdbcCursor : public driver::Cursor {
 public:
  OdbcCursor(std::unique_ptr<Handle> statement, std::vector<std::string> columns)
      : statement_(std::move(statement)), columns_(std::move(columns)) {}
  ~OdbcCursor() override { SQLCloseCursor(statement_->get()); }

  std::vector<std::string> Columns() const override { return columns_; }

  std::optional<std::vector<std::optional<std::string>>> Fetch() override {
    if (columns_.empty() || done_) {
      return std::nullopt;
    }
    const SQLRETURN rc = SQLFetch(statement_->get());
    if (rc == SQL_NO_DATA) {
      done_ = true;
      return std::nullopt;
    }
    Check(rc, SQL_HANDLE_STMT, statement_->get(), "ao buscar uma linha");
    std::vector<std::optional<std::string>> row;
    row.reserve(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) {
      row.push_back(Field(static_cast<SQLUSMALLINT>(i + 1)));
    }
    return row;
  }

 private:
  // The field as text, read in pieces as long as the driver has more.
  std::optional<std::string> Field(SQLUSMALLINT column) {
    WString value;
    SQLWCHAR buffer[2048];
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc =
          SQLGetData(statement_->get(), column, SQL_C_WCHAR, buffer, sizeof(buffer), &indicator);
      if (rc == SQL_NO_DATA) {
        break;
      }
      Check(rc, SQL_HANDLE_STMT, statement_->get(), "ao ler um campo");
      if (indicator == SQL_NULL_DATA) {
        return std::nullopt;
      }
      const size_t capacity = std::size(buffer) - 1;
      size_t units = capacity;
      if (indicator != SQL_NO_TOTAL && indicator >= 0 &&
          static_cast<size_t>(indicator) / sizeof(SQLWCHAR) < capacity) {
        units = static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
      }
      value.append(buffer, units);
      if (rc == SQL_SUCCESS) {
        break;
      }
    }
    return FromWide(value.data(), value.size());
  }

  std::unique_ptr<Handle> statement_;
  std::vector<std::string> columns_;
  bool done_ = false;
};

class OdbcSession : public driver::Session {
 public:
  explicit OdbcSession(const std::string& connection_string)
      : environment_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    Check(SQLSetEnvAttr(environment_.get(), SQL_ATTR_ODBC_VERSION,
                        reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0),
          SQL_HANDLE_ENV, environment_.get(), "ao escolher ODBC 3");
    connection_ = std::make_unique<Handle>(SQL_HANDLE_DBC, environment_.get());
    if (connection_string.size() > 0x7FFF) {
      throw TVeskDriverError("ODBC: a cadeia de conexão é longa demais");
    }
    SQLSMALLINT out_length = 0;
    SQLRETURN rc = SQL_ERROR;
    if constexpr (kNarrowIsUtf8) {
      std::string text = connection_string;
      rc = SQLDriverConnect(connection_->get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                            static_cast<SQLSMALLINT>(text.size()), nullptr, 0, &out_length,
                            SQL_DRIVER_NOPROMPT);
    } else {
      WString wide = ToWide(connection_string);
      rc = SQLDriverConnectW(connection_->get(), nullptr, wide.data(),
                             static_cast<SQLSMALLINT>(wide.size()), nullptr, 0, &out_length,
                             SQL_DRIVER_NOPROMPT);
    }
    Check(rc, SQL_HANDLE_DBC, connection_->get(), "ao conectar");
    connected_ = true;
  }

  ~OdbcSession() override {
    if (in_transaction_) {
      SQLEndTran(SQL_HANDLE_DBC, connection_->get(), SQL_ROLLBACK);
    }
    if (connected_) {
      SQLDisconnect(connection_->get());
    }
  }

  std::unique_ptr<driver::Cursor> Query(const std::string& sql) override {
    auto statement = Execute(sql);
    SQLSMALLINT count = 0;
    Check(SQLNumResultCols(statement->get(), &count), SQL_HANDLE_STMT, statement->get(),
          "ao contar as colunas");
    std::vector<std::string> columns;
    for (SQLSMALLINT i = 1; i <= count; ++i) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT length = 0;
      SQLSMALLINT type = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0;
      SQLSMALLINT nullable = 0;
      Check(SQLDescribeColW(statement->get(), static_cast<SQLUSMALLINT>(i), name,
                            static_cast<SQLSMALLINT>(std::size(name)), &length, &type, &size,
                            &digits, &nullable),
            SQL_HANDLE_STMT, statement->get(), "ao descrever uma coluna");
      columns.push_back(
          FromWide(name, std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                          std::size(name) - 1)));
    }
    return std::make_unique<OdbcCursor>(std::move(statement), std::move(columns));
  }

  // A batch gives one result per statement; an error can follow a row count or a message (SQL
  // Server does so), and is only seen by reading on: every result is read, the first error raised.
  void ExecuteDirect(const std::string& sql) override {
    auto statement = Execute(sql);
    for (;;) {
      const SQLRETURN rc = SQLMoreResults(statement->get());
      if (rc == SQL_NO_DATA) {
        break;
      }
      Check(rc, SQL_HANDLE_STMT, statement->get(), "ao ler os resultados de um comando");
    }
  }

  void StartTransaction(bool read_committed, bool read_only) override {
    // Isolation and access mode are requests a driver may decline; the transaction runs anyway.
    if (read_committed) {
      SQLSetConnectAttrW(
          connection_->get(), SQL_ATTR_TXN_ISOLATION,
          reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_TXN_READ_COMMITTED)), 0);
    }
    SQLSetConnectAttrW(connection_->get(), SQL_ATTR_ACCESS_MODE,
                       reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(
                           read_only ? SQL_MODE_READ_ONLY : SQL_MODE_READ_WRITE)),
                       0);
    SetAutocommit(false);
    in_transaction_ = true;
  }

  void Commit() override { EndTransaction(SQL_COMMIT, "Commit", "ao confirmar a transação"); }
  void Rollback() override { EndTransaction(SQL_ROLLBACK, "Rollback", "ao desfazer a transação"); }
  bool InTransaction() const override { return in_transaction_; }

  std::vector<std::string> InfoReport(TVeskInfoReportPart part) override {
    std::vector<std::string> lines = {"DBMS name = " + Info(SQL_DBMS_NAME),
                                      "DBMS version = " + Info(SQL_DBMS_VER)};
    if (part == TVeskInfoReportPart::All) {
      lines.push_back("Driver = " + Info(SQL_DRIVER_NAME));
      lines.push_back("Driver version = " + Info(SQL_DRIVER_VER));
    }
    return lines;
  }

  int64_t ServerVersion() override { return EncodeServerVersion(Info(SQL_DBMS_VER)); }

 private:
  std::unique_ptr<Handle> Execute(const std::string& sql) {
    auto statement = std::make_unique<Handle>(SQL_HANDLE_STMT, connection_->get());
    SQLRETURN rc = SQL_ERROR;
    if constexpr (kNarrowIsUtf8) {
      std::string text = sql;
      rc = SQLExecDirect(statement->get(), reinterpret_cast<SQLCHAR*>(text.data()),
                         static_cast<SQLINTEGER>(text.size()));
    } else {
      WString wide = ToWide(sql);
      rc = SQLExecDirectW(statement->get(), wide.data(), static_cast<SQLINTEGER>(wide.size()));
    }
    // A searched UPDATE or DELETE that touches no row answers SQL_NO_DATA: not a failure.
    if (rc != SQL_NO_DATA) {
      Check(rc, SQL_HANDLE_STMT, statement->get(), "ao executar um comando");
    }
    return statement;
  }

  void SetAutocommit(bool on) {
    Check(SQLSetConnectAttrW(connection_->get(), SQL_ATTR_AUTOCOMMIT,
                             reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(
                                 on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                             0),
          SQL_HANDLE_DBC, connection_->get(), "ao trocar o autocommit");
  }

  void EndTransaction(SQLSMALLINT completion, const char* name, const char* doing) {
    if (!in_transaction_) {
      throw TVeskDriverError(std::string("ODBC: ") + name + " sem transação em andamento");
    }
    Check(SQLEndTran(SQL_HANDLE_DBC, connection_->get(), completion), SQL_HANDLE_DBC,
          connection_->get(), doing);
    in_transaction_ = false;
    SetAutocommit(true);
  }

  std::string Info(SQLUSMALLINT item) {
    SQLWCHAR buffer[512] = {};
    SQLSMALLINT length = 0;
    Check(SQLGetInfoW(connection_->get(), item, buffer, sizeof(buffer), &length), SQL_HANDLE_DBC,
          connection_->get(), "ao ler as informações da conexão");
    const size_t units =
        std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR),
                         std::size(buffer) - 1);
    return FromWide(buffer, units);
  }

  Handle environment_;
  std::unique_ptr<Handle> connection_;
  bool connected_ = false;
  bool in_transaction_ = false;
};

using detail::ParamOf;

// The attributes of a connection string as written: name and raw value, braces kept.
std::vector<std::pair<std::string, std::string>> Attributes(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> attributes;
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find('=', i);
    const size_t semicolon = text.find(';', i);
    if (eq == std::string::npos || (semicolon != std::string::npos && semicolon < eq)) {
      i = semicolon == std::string::npos ? text.size() : semicolon + 1;
      continue;
    }
    std::string name(detail::TrimBlanks(std::string_view(text).substr(i, eq - i)));
    size_t j = eq + 1;
    std::string value;
    if (j < text.size() && text[j] == '{') {
      ++j;
      while (j < text.size()) {
        if (text[j] == '}') {
          if (j + 1 < text.size() && text[j + 1] == '}') {
            value.push_back('}');
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value.push_back(text[j++]);
      }
      const size_t end = text.find(';', j);
      j = end == std::string::npos ? text.size() : end;
    } else {
      const size_t end = text.find(';', j);
      const size_t stop = end == std::string::npos ? text.size() : end;
      value = text.substr(j, stop - j);
      j = stop;
    }
    attributes.emplace_back(std::move(name), std::move(value));
    i = j + 1;
  }
  return attributes;
}

class OdbcDriver : public driver::Driver {
 public:
  std::string DatabaseKey(const std::vector<std::string>& params) const override {
    std::string key = ParamOf(params, "Database");
    if (!key.empty()) {
      return key;
    }
    const std::string connection_string = ParamOf(params, "ConnectionString");
    key = ConnectionStringAttribute(connection_string, "DATABASE");
    return key.empty() ? ConnectionStringAttribute(connection_string, "DBQ") : key;
  }

  std::unique_ptr<driver::Session> Connect(const driver::ConnectionSettings& settings) override {
    return std::make_unique<OdbcSession>(ConnectionStringFor(settings.params));
  }

  std::vector<std::string> InstalledDrivers() const override {
    Handle environment(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    Check(SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                        reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0),
          SQL_HANDLE_ENV, environment.get(), "ao escolher ODBC 3");
    std::vector<std::string> names;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT length = 0;
      SQLWCHAR attributes[2] = {};
      SQLSMALLINT attributes_length = 0;
      const SQLRETURN rc = SQLDriversW(
          environment.get(), direction, name, static_cast<SQLSMALLINT>(std::size(name)), &length,
          attributes, static_cast<SQLSMALLINT>(std::size(attributes)), &attributes_length);
      if (!Succeeded(rc)) {
        break;
      }
      names.push_back(
          FromWide(name, std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                          std::size(name) - 1)));
      direction = SQL_FETCH_NEXT;
    }
    return names;
  }
};

// Registered when the library loads.
struct Registrar {
  Registrar() { driver::RegisterDriver(kDriverName, std::make_shared<OdbcDriver>()); }
} registrar;

}  // namespace

std::string ConnectionStringAttribute(const std::string& connection_string,
                                      const std::string& name) {
  for (const auto& [key, value] : Attributes(connection_string)) {
    if (detail::EqualsIgnoringCase(key, name)) {
      return value;
    }
  }
  return {};
}

std::string BracedValue(const std::string& value) {
  const bool plain = value.find_first_of(";{}=") == std::string::npos &&
                     (value.empty() || (value.front() != ' ' && value.back() != ' '));
  if (plain) {
    return value;
  }
  std::string braced = "{";
  for (const char c : value) {
    braced.push_back(c);
    if (c == '}') {
      braced.push_back('}');
    }
  }
  return braced + "}";
}

std::string ConnectionStringFor(const std::vector<std::string>& params) {
  std::string text(detail::TrimBlanks(ParamOf(params, "ConnectionString")));
  if (text.empty()) {
    throw TVeskDriverError(
        "ODBC: a conexão não tem cadeia de conexão (parâmetro ConnectionString, \"Driver=...;"
        "...\")");
  }
  bool has_user = false;
  bool has_password = false;
  for (const auto& [key, value] : Attributes(text)) {
    has_user = has_user || detail::EqualsIgnoringCase(key, "UID");
    has_password = has_password || detail::EqualsIgnoringCase(key, "PWD");
  }
  const std::string user = ParamOf(params, "USER_NAME");
  const std::string password = ParamOf(params, "PASSWORD");
  const auto add = [&text](const char* key, const std::string& value) {
    if (text.back() != ';') {
      text += ';';
    }
    text += key;
    text += BracedValue(value);
  };
  if (!has_user && !user.empty()) {
    add("UID=", user);
  }
  if (!has_password && !password.empty()) {
    add("PWD=", password);
  }
  return text;
}

int64_t EncodeServerVersion(const std::string& dbms_ver) {
  int64_t parts[3] = {0, 0, 0};
  size_t i = 0;
  size_t count = 0;
  while (count < 3 && i < dbms_ver.size() && dbms_ver[i] >= '0' && dbms_ver[i] <= '9') {
    int64_t number = 0;
    while (i < dbms_ver.size() && dbms_ver[i] >= '0' && dbms_ver[i] <= '9') {
      number = number * 10 + (dbms_ver[i] - '0');
      if (number > 999999999) {
        break;
      }
      ++i;
    }
    parts[count++] = number;
    if (i < dbms_ver.size() && dbms_ver[i] == '.') {
      ++i;
    } else {
      break;
    }
  }
  if (count == 0 || parts[0] > 9999999 || parts[1] > 9999 || parts[2] > 999999) {
    throw TVeskDriverError(
        "ODBC: a versão do servidor \"" + dbms_ver +
        "\" não está na forma maior.menor.release dentro do intervalo codificável");
  }
  return parts[0] * 10000000000LL + parts[1] * 1000000LL + parts[2];
}

}  // namespace vesk::odbc
