#include "tolvan/support/Sessions.h"

#include "tolvan/support/Guards.h"

namespace tolvan::support {

void AppendSessionsQuietly(TVeskDMConexao* DM, const std::string& sql,
                           std::vector<std::string>& list) {
  try {
    if (DM == nullptr) {
      return;
    }
    DM->StartTransaction(1, true, false);
    try {
      {
        const QueryGuard query(ExecutarSQL(sql, nullptr, false, false, 10, "", nullptr, true));
        SDS(query.get())->FetchAll = true;
        const int field = query->FieldIndex("USERNAME");
        for (query->First(); !query->Eof(); query->Next()) {
          list.push_back(query->FieldAsString(field));
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

}  // namespace tolvan::support
