// The data-access library's Firebird components: database creation and connection, transaction
// and script runner, on the client's C interface.
#include "firebird/IBComponents.h"

#include <cctype>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Names.h"
#include "firebird/FirebirdClient.h"
#include "firebird/FirebirdValues.h"
#include "platform/DynamicLibrary.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"

namespace vesk::firebird {

namespace {

struct Status {
  IscStatus vector[kStatusLength] = {};
  IscStatus* get() { return vector; }
};

uint16_t TextLength(const std::string& text) {
  // Longer texts go null-terminated.
  return text.size() <= 0xFFFF ? static_cast<uint16_t>(text.size()) : 0;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

bool StartsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && text.substr(0, word.size()) == word &&
         (text.size() == word.size() || text[word.size()] == ' ');
}

// The value of a quoted clause ("USER 'x'", quotes doubled inside) or of a name=value line.
std::string ClauseValue(const std::vector<std::string>& params, std::string_view clause,
                        std::string_view key) {
  for (const auto& line : params) {
    const std::string_view trimmed = detail::TrimBlanks(line);
    const std::string upper = Upper(trimmed);
    if (StartsWithWord(upper, clause)) {
      std::string_view rest = detail::TrimBlanks(trimmed.substr(clause.size()));
      if (rest.size() >= 2 && rest.front() == '\'' && rest.back() == '\'') {
        rest = rest.substr(1, rest.size() - 2);
        std::string value;
        for (std::size_t i = 0; i < rest.size(); ++i) {
          value += rest[i];
          if (rest[i] == '\'' && i + 1 < rest.size() && rest[i + 1] == '\'') {
            ++i;
          }
        }
        return value;
      }
      return std::string(rest);
    }
    auto [name, value] = detail::SplitParam(line);
    if (detail::EqualsIgnoringCase(name, key)) {
      return std::string(value);
    }
  }
  return {};
}

void AddDpbText(std::string& dpb, char tag, const std::string& value, const char* what) {
  if (value.size() > 255) {
    throw TVeskDriverError(std::string(what) + " passa de 255 bytes");
  }
  dpb += tag;
  dpb += static_cast<char>(value.size());
  dpb += value;
}

}  // namespace

std::string ComponentsClientLibrary() {
  const std::string copy = tolvan::platform::ExecutableDirectory() +
                           tolvan::platform::SharedLibraryFileName("ibclient64");
  // Without the copy, the system's client library, where the system has one.
  return tolvan::platform::FileExists(copy) || !tolvan::platform::ClientLibrariesComeWithTheSystem()
             ? copy
             : std::string();
}

std::string CreateDatabaseStatement(const std::string& database_name,
                                    const std::vector<std::string>& params) {
  std::string sql = "CREATE DATABASE '" + QuoteSqlLiteral(database_name) + "'";
  for (const auto& line : params) {
    sql += "\n";
    sql += line;
  }
  return sql;
}

namespace {

// One statement, prepared and executed: unlike an immediate execution, the client does not read
// the text itself first, and so takes q'...' texts as the server does.
void ExecuteStatement(const Client& client, IscHandle* database, IscHandle* transaction,
                      const std::string& sql, int dialect) {
  Status status;
  IscHandle statement = 0;
  client.allocate_statement(status.get(), database, &statement);
  client.Check(status.get());
  struct Release {
    const Client& client;
    IscHandle& handle;
    ~Release() {
      Status ignored;
      client.free_statement(ignored.get(), &handle, api::kDsqlDrop);
    }
  } release{client, statement};
  client.prepare(status.get(), transaction, &statement, TextLength(sql), sql.c_str(),
                 static_cast<uint16_t>(dialect), nullptr);
  client.Check(status.get());
  client.execute(status.get(), transaction, &statement, api::kSqlDaVersion1, nullptr);
  client.Check(status.get());
}

}  // namespace

}  // namespace vesk::firebird

using vesk::firebird::Client;
using vesk::firebird::ExecuteStatement;
using vesk::firebird::IscHandle;
using vesk::firebird::Status;

// ---------------------------------------------------------------------------------------------

struct TVeskIBTransaction::Impl {
  std::shared_ptr<const Client> client;
  IscHandle* database = nullptr;  // the handle of the database that uses it as its default
  IscHandle handle = 0;
};

TVeskIBTransaction::TVeskIBTransaction() : impl_(std::make_unique<Impl>()) {}

TVeskIBTransaction::~TVeskIBTransaction() {
  if (impl_->handle != 0) {
    Status status;
    impl_->client->rollback_transaction(status.get(), &impl_->handle);
  }
}

void TVeskIBTransaction::StartTransaction() {
  if (impl_->handle != 0) {
    throw TVeskDriverError("A transação já está ativa");
  }
  if (impl_->database == nullptr || *impl_->database == 0) {
    throw TVeskDriverError("A transação não tem banco de dados conectado");
  }
  namespace api = vesk::firebird::api;
  const std::string tpb{api::kTpbVersion3, api::kTpbWrite, api::kTpbConcurrency, api::kTpbWait};
  vesk::firebird::TransactionBlock block{impl_->database, static_cast<int32_t>(tpb.size()),
                                         tpb.data()};
  Status status;
  impl_->client->start_multiple(status.get(), &impl_->handle, 1, &block);
  impl_->client->Check(status.get());
}

void TVeskIBTransaction::Commit() {
  if (impl_->handle == 0) {
    throw TVeskDriverError("Commit: a transação não está ativa");
  }
  Status status;
  impl_->client->commit_transaction(status.get(), &impl_->handle);
  impl_->client->Check(status.get());
}

void TVeskIBTransaction::Rollback() {
  if (impl_->handle == 0) {
    throw TVeskDriverError("Rollback: a transação não está ativa");
  }
  Status status;
  impl_->client->rollback_transaction(status.get(), &impl_->handle);
  impl_->client->Check(status.get());
}

bool TVeskIBTransaction::InTransaction() const {
  return impl_->handle != 0;
}

// ---------------------------------------------------------------------------------------------

struct TVeskIBDatabase::Impl {
  std::shared_ptr<const Client> client;
  IscHandle handle = 0;
  TVeskIBTransaction* linked = nullptr;  // the default transaction given this handle
};

TVeskIBDatabase::TVeskIBDatabase() : impl_(std::make_unique<Impl>()) {}

TVeskIBDatabase::~TVeskIBDatabase() {
  try {
    Close();
  } catch (...) {
    // Releasing never fails; the server ends a lost attachment itself.
  }
}

void TVeskIBDatabase::CreateDatabase() {
  if (impl_->handle != 0) {
    throw TVeskDriverError("CreateDatabase: o banco de dados está conectado");
  }
  impl_->client = Client::Get(vesk::firebird::ComponentsClientLibrary());
  const std::string sql = vesk::firebird::CreateDatabaseStatement(DatabaseName, Params);
  IscHandle transaction = 0;
  Status status;
  {
    const vesk::firebird::ClientEntry entry;
    impl_->client->execute_immediate(status.get(), &impl_->handle, &transaction,
                                     vesk::firebird::TextLength(sql), sql.c_str(),
                                     static_cast<uint16_t>(SQLDialect), nullptr);
  }
  impl_->client->Check(status.get());
  // The statement leaves the new database attached.
  impl_->linked = DefaultTransaction;
  if (DefaultTransaction != nullptr && !DefaultTransaction->InTransaction()) {
    DefaultTransaction->impl_->client = impl_->client;
    DefaultTransaction->impl_->database = &impl_->handle;
  }
}

void TVeskIBDatabase::Open() {
  if (impl_->handle != 0) {
    return;
  }
  namespace api = vesk::firebird::api;
  if (DatabaseName.size() > 0x7FFF) {
    throw TVeskDriverError("O nome do banco de dados é longo demais");
  }
  impl_->client = Client::Get(vesk::firebird::ComponentsClientLibrary());
  std::string dpb{api::kDpbVersion1, api::kDpbUtf8Filename, 0};
  const std::string user =
      vesk::firebird::FirebirdLoginName(vesk::firebird::ClauseValue(Params, "USER", "USER_NAME"));
  const std::string password = vesk::firebird::ClauseValue(Params, "PASSWORD", "PASSWORD");
  if (!user.empty()) {
    vesk::firebird::AddDpbText(dpb, api::kDpbUserName, user, "O nome de usuário");
  }
  if (!password.empty()) {
    vesk::firebird::AddDpbText(dpb, api::kDpbPassword, password, "A senha");
  }
  Status status;
  {
    const vesk::firebird::ClientEntry entry;
    impl_->client->attach_database(status.get(), static_cast<int16_t>(DatabaseName.size()),
                                   DatabaseName.data(), &impl_->handle,
                                   static_cast<int16_t>(dpb.size()), dpb.data());
  }
  impl_->client->Check(status.get());
  impl_->linked = DefaultTransaction;
  if (DefaultTransaction != nullptr && !DefaultTransaction->InTransaction()) {
    DefaultTransaction->impl_->client = impl_->client;
    DefaultTransaction->impl_->database = &impl_->handle;
  }
}

void TVeskIBDatabase::Close() {
  if (impl_->handle == 0) {
    return;
  }
  // Work not committed by its owner is rolled back, never committed on its behalf.
  // A failed rollback does not keep the attachment: detaching ends the transaction too.
  if (impl_->linked != nullptr && impl_->linked == DefaultTransaction &&
      impl_->linked->impl_->database == &impl_->handle) {
    if (impl_->linked->InTransaction()) {
      try {
        impl_->linked->Rollback();
      } catch (const TVeskDriverError&) {
        impl_->linked->impl_->handle = 0;
      }
    }
    impl_->linked->impl_->database = nullptr;
  }
  impl_->linked = nullptr;
  Status status;
  impl_->client->detach_database(status.get(), &impl_->handle);
  impl_->handle = 0;
  impl_->client->Check(status.get());
}

bool TVeskIBDatabase::Connected() const {
  return impl_->handle != 0;
}

// ---------------------------------------------------------------------------------------------

TVeskIBScript::TVeskIBScript() = default;
TVeskIBScript::~TVeskIBScript() = default;

void TVeskIBScript::ExecuteScript() {
  using vesk::firebird::ScriptCommand;
  if (Database == nullptr || !Database->Connected()) {
    throw TVeskDriverError("ExecuteScript: o banco de dados não está conectado");
  }
  TVeskIBTransaction* transaction =
      Transaction != nullptr ? Transaction : Database->DefaultTransaction;
  if (transaction == nullptr) {
    throw TVeskDriverError("ExecuteScript: não há transação");
  }
  if (transaction->impl_->database != &Database->impl_->handle) {
    if (transaction->InTransaction()) {
      throw TVeskDriverError("ExecuteScript: a transação está ativa em outro banco de dados");
    }
    transaction->impl_->client = Database->impl_->client;
    transaction->impl_->database = &Database->impl_->handle;
  }

  std::string text;
  for (const auto& line : Script) {
    text += line;
    text += "\r\n";
  }
  const auto statements = vesk::firebird::SplitScript(text);

  // Every command is checked before anything runs: a script the runner cannot carry out whole
  // changes nothing.
  std::vector<ScriptCommand> commands;
  commands.reserve(statements.size());
  for (const auto& statement : statements) {
    const ScriptCommand command = vesk::firebird::ClassifyStatement(statement.bare);
    const std::string where = "Linha " + std::to_string(statement.line) + " do script: ";
    if (command == ScriptCommand::Unsupported) {
      throw TVeskDriverError(
          where + "o comando \"" + statement.bare +
          "\" não pode ser executado aqui: é próprio da ferramenta isql ou mudaria a "
          "conexão ou a transação do script.");
    }
    if (command == ScriptCommand::Dialect) {
      const std::string value(
          vesk::detail::TrimBlanks(std::string_view(statement.bare).substr(15)));
      if (value != "1" && value != "2" && value != "3") {
        throw TVeskDriverError(where + "dialeto SQL desconhecido em \"" + statement.bare +
                               "\" (use 1, 2 ou 3).");
      }
    }
    commands.push_back(command);
  }

  const bool was_active = transaction->InTransaction();
  if (!was_active) {
    transaction->StartTransaction();
  }
  // Ends the script's work and leaves the transaction as the caller had it.
  auto commit = [&] {
    transaction->Commit();
    if (was_active) {
      transaction->StartTransaction();
    }
  };
  const Client& client = *Database->impl_->client;
  int dialect = Database->SQLDialect;
  // With AUTODDL on (the default, as in isql) DDL is committed before any other statement
  // runs, so that later statements see the new metadata (a snapshot started before the DDL's
  // commit would not) and a later ROLLBACK cannot take it back. Consecutive DDL shares one
  // commit.
  bool autoddl = true;
  bool ddl_pending = false;
  try {
    for (std::size_t i = 0; i < statements.size(); ++i) {
      const auto& statement = statements[i];
      const ScriptCommand command = commands[i];
      if (ddl_pending && command != ScriptCommand::Ddl) {
        transaction->Commit();
        transaction->StartTransaction();
        ddl_pending = false;
      }
      switch (command) {
        case ScriptCommand::Dialect:
          dialect = statement.bare.back() - '0';
          continue;
        case ScriptCommand::AutoDdl: {
          const std::string value = statement.bare.substr(statement.bare.rfind(' ') + 1);
          autoddl = vesk::detail::EqualsIgnoringCase(value, "ON")    ? true
                    : vesk::detail::EqualsIgnoringCase(value, "OFF") ? false
                                                                     : !autoddl;
          continue;
        }
        case ScriptCommand::Display:
          continue;
        case ScriptCommand::Commit:
          transaction->Commit();
          transaction->StartTransaction();
          continue;
        case ScriptCommand::Rollback:
          transaction->Rollback();
          transaction->StartTransaction();
          continue;
        default:
          break;
      }
      ExecuteStatement(client, &Database->impl_->handle, &transaction->impl_->handle,
                       statement.text, dialect);
      ddl_pending = autoddl && command == ScriptCommand::Ddl;
    }
  } catch (...) {
    // The statements before the failing one stay done.
    try {
      if (transaction->InTransaction()) {
        commit();
      }
    } catch (...) {
      if (transaction->InTransaction()) {
        Status status;
        client.rollback_transaction(status.get(), &transaction->impl_->handle);
      }
    }
    throw;
  }
  commit();
}
