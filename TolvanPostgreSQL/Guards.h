// Small helpers shared by the plug-in's implementation files.
#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <utility>

#include "tolvan/support/Queries.h"
#include "vesk/VeskPack5.h"

namespace tolvan::postgresql::detail {

// Runs the action when the scope ends, on every way out.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F action) : action_(std::move(action)) {}
  ~ScopeExit() noexcept(false) {
    // While an exception is on its way, the action's own failure must not end the program.
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

// Runs body, then last on every way out. A failure of last replaces the body's own (a connection
// that cannot be opened again is the news the caller needs).
template <typename Body, typename Last>
void WithFinally(Body&& body, Last&& last) {
  try {
    body();
  } catch (...) {
    last();
    throw;
  }
  last();
}

using tolvan::common::QueryGuard;

// Clears the read-only option of the connection's transaction object and, on every way out, sets
// it to the connection's ReadOnlyTransaction value.
class WritableBracket {
 public:
  explicit WritableBracket(TVeskSQLConnection* conn) : conn_(conn) {
    if (auto* t = conn_->Transaction()) {
      t->Options.ReadOnly = false;
    }
  }
  ~WritableBracket() {
    if (auto* t = conn_->Transaction()) {
      t->Options.ReadOnly = conn_->ReadOnlyTransaction;
    }
  }
  WritableBracket(const WritableBracket&) = delete;
  WritableBracket& operator=(const WritableBracket&) = delete;

 private:
  TVeskSQLConnection* conn_;
};

// Blanks and control characters, as the host's own trim removes them.
inline std::string Trim(const std::string& s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ') {
    ++begin;
  }
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ') {
    --end;
  }
  return s.substr(begin, end - begin);
}

// Texts are UTF-8; std::filesystem reads a plain std::string in the narrow code page on Windows.
inline std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace tolvan::postgresql::detail
