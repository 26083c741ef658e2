#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Names.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Driver.h"

TVeskDriverError::~TVeskDriverError() = default;

struct TVeskSQLConnection::Impl {
  std::unique_ptr<vesk::driver::Session> session;
  std::unique_ptr<TVeskTransaction> transaction;
  // Number of the module transaction running on the session; 0: none.
  int module_transaction = 0;
  // The clone handed out by CloneConnection; freed with this connection.
  std::unique_ptr<TVeskSQLConnection> clone;
};

namespace {

std::shared_ptr<vesk::driver::Driver> DriverFor(const std::string& name) {
  auto driver = vesk::driver::FindDriver(name);
  if (!driver) {
    throw std::runtime_error("Não há driver de banco de dados chamado \"" + name + "\"");
  }
  return driver;
}

}  // namespace

TVeskSQLConnection::TVeskSQLConnection() : impl_(std::make_unique<Impl>()) {
  impl_->transaction = std::make_unique<TVeskTransaction>();
}

TVeskSQLConnection::~TVeskSQLConnection() = default;

std::string TVeskSQLConnection::GetParam(const std::string& Name) const {
  for (const auto& line : Params) {
    auto [name, value] = vesk::detail::SplitParam(line);
    if (vesk::detail::EqualsIgnoringCase(name, Name)) {
      return std::string(value);
    }
  }
  return {};
}

void TVeskSQLConnection::SetParam(const std::string& Name, const std::string& Value) {
  for (auto& line : Params) {
    if (vesk::detail::EqualsIgnoringCase(vesk::detail::SplitParam(line).first, Name)) {
      line = Name + "=" + Value;
      return;
    }
  }
  Params.push_back(Name + "=" + Value);
}

std::string TVeskSQLConnection::GetDATABASENAME_KEY() const {
  return DriverFor(DriverName)->DatabaseKey(Params);
}

void TVeskSQLConnection::Open() {
  if (impl_->session) {
    return;
  }
  impl_->session = DriverFor(DriverName)->Connect({Params, ClientLibrary});
}

void TVeskSQLConnection::Close() {
  // The clone's attachment goes too: an embedded engine refuses a tool or a second engine
  // instance while any attachment of this process holds the file. It opens again on next use.
  if (impl_->clone) {
    impl_->clone->Close();
  }
  impl_->module_transaction = 0;
  // The session rolls back whatever transaction is still running.
  impl_->session.reset();
}

bool TVeskSQLConnection::Connected() const {
  return impl_->session != nullptr;
}

// One clone per connection: a second call gives the same clone, opened again if it was closed,
// or a new one when the connection's settings changed since. Repeated reports on a long-lived
// host connection thus hold one extra attachment, not one per call.
TVeskSQLConnection* TVeskSQLConnection::CloneConnection() {
  auto& clone = impl_->clone;
  if (clone && (clone->DriverName != DriverName || clone->Params != Params ||
                clone->ClientLibrary != ClientLibrary)) {
    clone.reset();
  }
  if (!clone) {
    auto fresh = std::make_unique<TVeskSQLConnection>();
    fresh->DriverName = DriverName;
    fresh->Params = Params;
    fresh->ClientLibrary = ClientLibrary;
    fresh->ReadOnlyTransaction = ReadOnlyTransaction;
    fresh->SetHasTransaction(Transaction() != nullptr);
    clone = std::move(fresh);
  }
  clone->Open();
  return clone.get();
}

void TVeskSQLConnection::ExecuteDirect(const std::string& SQL) {
  Session().ExecuteDirect(SQL);
}

TVeskTransaction* TVeskSQLConnection::Transaction() {
  return impl_->transaction.get();
}

void TVeskSQLConnection::SetHasTransaction(bool Value) {
  if (!Value) {
    impl_->transaction.reset();
  } else if (!impl_->transaction) {
    impl_->transaction = std::make_unique<TVeskTransaction>();
    impl_->transaction->Options.ReadOnly = ReadOnlyTransaction;
  }
}

void TVeskSQLConnection::GetInfoReport(std::vector<std::string>& List, TVeskInfoReportPart Part) {
  auto lines = Session().InfoReport(Part);
  List.insert(List.end(), lines.begin(), lines.end());
}

int64_t TVeskSQLConnection::GetServerVersion() {
  return Session().ServerVersion();
}

vesk::driver::Session& TVeskSQLConnection::Session() {
  Open();
  auto& session = *impl_->session;
  session.SetStatementReadOnly(impl_->transaction && impl_->transaction->Options.ReadOnly);
  return session;
}

// ---------------------------------------------------------------------------------------------

namespace {

TVeskSQLConnection& ModuleConnection(TVeskSQLConnection* connection, std::string_view operation) {
  if (connection == nullptr) {
    throw std::runtime_error(std::string(operation) + ": o módulo de conexão não tem conexão SQL");
  }
  return *connection;
}

std::string TransactionName(int id) {
  return "a transação " + std::to_string(id);
}

}  // namespace

void TVeskDMConexao::StartTransaction(int Id, bool ReadCommitted, bool ReadOnly) {
  auto& connection = ModuleConnection(SQLConnection, "StartTransaction");
  auto& state = *connection.impl_;
  if (state.module_transaction != 0 && connection.Connected() && state.session->InTransaction()) {
    throw std::runtime_error("StartTransaction: " + TransactionName(state.module_transaction) +
                             " ainda está ativa");
  }
  state.module_transaction = 0;
  connection.Session().StartTransaction(ReadCommitted, ReadOnly);
  state.module_transaction = Id;
}

namespace {

// The session running module transaction Id (open_session gives the connection's); throws when
// that transaction is not active.
template <typename OpenSession>
vesk::driver::Session& ActiveSession(TVeskSQLConnection& connection, int active, int id,
                                     std::string_view operation, OpenSession&& open_session) {
  if (active != id || !connection.Connected()) {
    throw std::runtime_error(std::string(operation) + ": " + TransactionName(id) +
                             " não foi iniciada");
  }
  vesk::driver::Session& session = open_session();
  if (!session.InTransaction()) {
    throw std::runtime_error(std::string(operation) + ": " + TransactionName(id) +
                             " não foi iniciada");
  }
  return session;
}

}  // namespace

void TVeskDMConexao::Commit(int Id) {
  auto& connection = ModuleConnection(SQLConnection, "Commit");
  auto& state = *connection.impl_;
  auto& session = ActiveSession(
      connection, state.module_transaction, Id,
      "Commit", [&]() -> auto& { return connection.Session(); });
  // A failed commit leaves the transaction to the server; a roll-back may still end it.
  session.Commit();
  state.module_transaction = 0;
}

void TVeskDMConexao::RollBack(int Id) {
  auto& connection = ModuleConnection(SQLConnection, "RollBack");
  auto& state = *connection.impl_;
  auto& session = ActiveSession(
      connection, state.module_transaction, Id,
      "RollBack", [&]() -> auto& { return connection.Session(); });
  state.module_transaction = 0;
  session.Rollback();
}
