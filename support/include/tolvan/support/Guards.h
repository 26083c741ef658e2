// What is put back on every way out of an export: a scope's last action, a query freed, the
// host's connection opened again.
#pragma once

#include <exception>
#include <functional>
#include <utility>

#include "vesk/VeskPack5.h"

namespace tolvan::support {

// Runs the action when the scope ends, on every way out. A failure of the action goes to the
// caller, unless the scope ends by a failure already: that one is the news.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F action) : action_(std::move(action)) {}
  ~ScopeExit() noexcept(false) {
    if (std::uncaught_exceptions() > exceptions_) {
      try {
        action_();
      } catch (...) {
      }
    } else {
      action_();
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F action_;
  int exceptions_ = std::uncaught_exceptions();
};

// Frees the query (DestruirSQL) when the scope ends, by ScopeExit's rule.
class QueryGuard {
 public:
  explicit QueryGuard(TVeskQuery* opened) : query(opened), free_([this] { Free(); }) {}
  QueryGuard(const QueryGuard&) = delete;
  QueryGuard& operator=(const QueryGuard&) = delete;

  TVeskQuery* get() const { return query; }
  TVeskQuery& operator*() const { return *query; }
  TVeskQuery* operator->() const { return query; }

  TVeskQuery* query = nullptr;

 private:
  void Free() {
    if (query != nullptr) {
      DestruirSQL(query);
    }
  }
  ScopeExit<std::function<void()>> free_;
};

// Runs body with the connection closed (a failure to close goes to the caller at once, and body
// does not run) and opens it again on every way out. One failure rule: when body fails, its
// failure is the one that goes on, with a failure to open the connection again told after its
// message; when body succeeded, a failure to open goes to the caller as it is.
void WithConnectionClosed(TVeskSQLConnection& connection, const std::function<void()>& body);

// The module's SQL connection; a module without one is refused in the export's name.
TVeskSQLConnection& ConnectionOf(TVeskDMConexao* DM, const char* export_name);

}  // namespace tolvan::support
