// Queries the plug-ins open through the host's toolkit, freed on every way out.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "vesk/VeskPack5.h"

namespace tolvan::common {

// Frees the query when the scope ends. A failure to free goes to the caller, unless the scope
// ends by a failure already: that one is the news.
class QueryGuard {
 public:
  QueryGuard() = default;
  explicit QueryGuard(TVeskQuery* opened) : query(opened) {}
  ~QueryGuard() noexcept(false) {
    if (query == nullptr) {
      return;
    }
    if (std::uncaught_exceptions() > exceptions_) {
      try {
        DestruirSQL(query);
      } catch (...) {
      }
    } else {
      DestruirSQL(query);
    }
  }
  QueryGuard(const QueryGuard&) = delete;
  QueryGuard& operator=(const QueryGuard&) = delete;

  TVeskQuery* get() const { return query; }
  TVeskQuery& operator*() const { return *query; }

  TVeskQuery* query = nullptr;

 private:
  int exceptions_ = std::uncaught_exceptions();
};

// Appends the USERNAME of each row of sql, read on the toolkit's default connection inside the
// module's transaction 1 (committed, or rolled back after a failure). Nothing fails the caller:
// a report of who is connected is never worth it, and the lines read so far stay.
inline void AppendSessionsQuietly(TVeskDMConexao* DM, const std::string& sql,
                                  std::vector<std::string>& list) {
  try {
    if (DM == nullptr) {
      return;
    }
    DM->StartTransaction(1, true, false);
    try {
      {
        QueryGuard guard(ExecutarSQL(sql, nullptr, false, false, 10, "", nullptr, true));
        SDS(guard.query)->FetchAll = true;
        const int field = guard.query->FieldIndex("USERNAME");
        while (!guard.query->Eof()) {
          list.push_back(guard.query->FieldAsString(field));
          guard.query->Next();
        }
      }
      DM->Commit(1);
    } catch (...) {
      try {
        DM->RollBack(1);
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

}  // namespace tolvan::common
