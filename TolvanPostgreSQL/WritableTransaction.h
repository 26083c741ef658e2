// The connection's transaction object made writable for one scope.
#pragma once

#include "vesk/VeskPack5.h"

namespace tolvan::postgresql {

// Clears the read-only option of the connection's transaction object and, on every way out, sets
// it to the connection's ReadOnlyTransaction value.
class WritableTransaction {
 public:
  explicit WritableTransaction(TVeskSQLConnection* connection) : connection_(connection) {
    if (auto* transaction = connection_->Transaction()) {
      transaction->Options.ReadOnly = false;
    }
  }
  ~WritableTransaction() {
    if (auto* transaction = connection_->Transaction()) {
      transaction->Options.ReadOnly = connection_->ReadOnlyTransaction;
    }
  }
  WritableTransaction(const WritableTransaction&) = delete;
  WritableTransaction& operator=(const WritableTransaction&) = delete;

 private:
  TVeskSQLConnection* connection_;
};

}  // namespace tolvan::postgresql
