#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Names.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/DefaultConnection.h"
#include "vesk/host/Driver.h"

// The rows are read whole when the query opens: the driver's own transaction then ends at once,
// and First can go back. DataSet().FetchAll is kept for the callers that set it.
struct TVeskQuery::Impl {
  TVeskDataSet data_set;
  bool active = false;
  std::vector<std::string> columns;
  std::vector<std::vector<std::optional<std::string>>> rows;
  size_t position = 0;

  const std::optional<std::string>& Field(int index) const {
    if (!active) {
      throw std::runtime_error("A consulta não está aberta");
    }
    if (index < 0 || static_cast<size_t>(index) >= columns.size()) {
      throw std::out_of_range("O índice de campo " + std::to_string(index) +
                              " está fora do intervalo");
    }
    if (position >= rows.size()) {
      throw std::runtime_error("A consulta não tem linha corrente");
    }
    return rows[position][static_cast<size_t>(index)];
  }
};

TVeskQuery::TVeskQuery() : impl_(std::make_unique<Impl>()) {}
TVeskQuery::~TVeskQuery() = default;

void TVeskQuery::Open() {
  if (SQLConnection == nullptr) {
    throw std::runtime_error("A consulta não tem conexão SQL");
  }
  Close();
  auto cursor = SQLConnection->Session().Query(SQL);
  auto columns = cursor->Columns();
  std::vector<std::vector<std::optional<std::string>>> rows;
  while (auto row = cursor->Fetch()) {
    row->resize(columns.size());
    rows.push_back(std::move(*row));
  }
  impl_->columns = std::move(columns);
  impl_->rows = std::move(rows);
  impl_->position = 0;
  impl_->active = true;
}

void TVeskQuery::Close() {
  impl_->active = false;
  impl_->columns.clear();
  impl_->rows.clear();
  impl_->position = 0;
}

bool TVeskQuery::Active() const {
  return impl_->active;
}

void TVeskQuery::First() {
  impl_->position = 0;
}

void TVeskQuery::Next() {
  if (impl_->position < impl_->rows.size()) {
    ++impl_->position;
  }
}

bool TVeskQuery::Eof() const {
  return !impl_->active || impl_->position >= impl_->rows.size();
}

int TVeskQuery::FieldCount() const {
  return static_cast<int>(impl_->columns.size());
}

int TVeskQuery::FieldIndex(const std::string& Name) const {
  for (size_t i = 0; i < impl_->columns.size(); ++i) {
    if (vesk::detail::EqualsIgnoringCase(impl_->columns[i], Name)) {
      return static_cast<int>(i);
    }
  }
  throw std::runtime_error("Campo '" + Name + "' não encontrado");
}

std::string TVeskQuery::FieldAsString(int Index) const {
  const auto& value = impl_->Field(Index);
  return value ? *value : std::string();
}

std::string TVeskQuery::FieldByName(const std::string& Name) const {
  return FieldAsString(FieldIndex(Name));
}

bool TVeskQuery::FieldIsNull(int Index) const {
  return !impl_->Field(Index).has_value();
}

TVeskDataSet& TVeskQuery::DataSet() {
  return impl_->data_set;
}

// ---------------------------------------------------------------------------------------------

namespace {
TVeskSQLConnection* default_connection = nullptr;

TVeskSQLConnection& ConnectionOrDefault(TVeskSQLConnection* connection, const char* operation) {
  if (connection == nullptr) {
    connection = default_connection;
  }
  if (connection == nullptr) {
    throw std::runtime_error(std::string(operation) +
                             ": nenhuma conexão informada e nenhuma conexão padrão definida");
  }
  return *connection;
}
}  // namespace

namespace vesk {
void SetDefaultConnection(TVeskSQLConnection* Connection) {
  default_connection = Connection;
}
TVeskSQLConnection* DefaultConnection() {
  return default_connection;
}
}  // namespace vesk

TVeskQuery* ExecutarSQL(const std::string& SQL, const std::vector<std::string>* Params, bool, bool,
                        int, const std::string&, TVeskSQLConnection* Connection, bool Open) {
  // Parameters are not bound by the drivers; running the text without them would be wrong.
  if (Params != nullptr && !Params->empty()) {
    throw std::invalid_argument("ExecutarSQL: parâmetros de consulta não são suportados");
  }
  auto query = std::make_unique<TVeskQuery>();
  query->SQLConnection = &ConnectionOrDefault(Connection, "ExecutarSQL");
  query->SQL = SQL;
  if (Open) {
    query->Open();
  }
  return query.release();
}

TVeskDataSet* SDS(TVeskQuery* Query) {
  if (Query == nullptr) {
    throw std::invalid_argument("SDS: nenhuma consulta informada");
  }
  return &Query->DataSet();
}

void DestruirSQL(TVeskQuery*& Query) {
  delete Query;
  Query = nullptr;
}

void ExecutarSQLDireto(const std::string& SQL) {
  ConnectionOrDefault(nullptr, "ExecutarSQLDireto").ExecuteDirect(SQL);
}

void ConfigurarSQLConnection(TVeskSQLConnection* Connection, int Kind) {
  if (Connection == nullptr) {
    throw std::invalid_argument("ConfigurarSQLConnection: nenhuma conexão informada");
  }
  if (Kind != 3) {
    throw std::invalid_argument("ConfigurarSQLConnection: tipo de conexão desconhecido " +
                                std::to_string(Kind));
  }
  Connection->DriverName = "PostgreSQL";
}
