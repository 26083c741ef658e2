// The Firebird driver: the client's C interface behind vesk::driver::Session.
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Names.h"
#include "firebird/FirebirdClient.h"
#include "firebird/FirebirdValues.h"
#include "platform/ConnectLimit.h"
#include "platform/Text.h"
#include "vesk/host/Driver.h"
#include "vesk/host/Firebird.h"

namespace vesk::firebird {

namespace {

using ClientPtr = std::shared_ptr<const Client>;

// Character set ids of CHAR/VARCHAR columns (low byte of sqlsubtype) read as raw bytes.
constexpr int kCharsetOctets = 1;

struct Status {
  IscStatus vector[kStatusLength] = {};
  IscStatus* get() { return vector; }
};

using detail::ParamOf;

uint16_t SqlLength(const std::string& sql) {
  // Longer texts go null-terminated.
  return sql.size() <= 0xFFFF ? static_cast<uint16_t>(sql.size()) : 0;
}

// ---------------------------------------------------------------------------------------------
// Server resources, each released by its owner.

class Attachment {
 public:
  Attachment(ClientPtr client, const std::string& database, const std::string& dpb, bool utf8,
             std::chrono::seconds limit)
      : client_(std::move(client)), utf8_(utf8) {
    if (database.size() > 0x7FFF) {
      throw TVeskDriverError("O nome do banco de dados é longo demais");
    }
    Status status;
    CallWithinConnectLimit(
        ServerOf(database), limit,
        [&] {
          const ClientEntry entry;
          client_->attach_database(status.get(), static_cast<int16_t>(database.size()),
                                   database.data(), &handle_, static_cast<int16_t>(dpb.size()),
                                   dpb.data());
        },
        [this] { Detach(); });
    client_->Check(status.get(), utf8_);
  }
  ~Attachment() { Detach(); }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  const Client& client() const { return *client_; }
  IscHandle* handle() { return &handle_; }
  bool utf8() const { return utf8_; }
  void Check(Status& status) const { client_->Check(status.get(), utf8_); }

 private:
  void Detach() {
    if (handle_ != 0) {
      Status status;
      client_->detach_database(status.get(), &handle_);
    }
  }

  ClientPtr client_;
  IscHandle handle_ = 0;
  bool utf8_;
};

using AttachmentPtr = std::shared_ptr<Attachment>;

class Transaction {
 public:
  Transaction(AttachmentPtr attachment, bool read_committed, bool read_only)
      : attachment_(std::move(attachment)) {
    std::string tpb{api::kTpbVersion3, api::kTpbWait, read_only ? api::kTpbRead : api::kTpbWrite};
    if (read_committed) {
      tpb += api::kTpbReadCommitted;
      tpb += api::kTpbRecVersion;
    } else {
      tpb += api::kTpbConcurrency;
    }
    TransactionBlock block{attachment_->handle(), static_cast<int32_t>(tpb.size()), tpb.data()};
    Status status;
    attachment_->client().start_multiple(status.get(), &handle_, 1, &block);
    attachment_->Check(status);
  }
  ~Transaction() {
    if (handle_ != 0) {
      Status status;
      attachment_->client().rollback_transaction(status.get(), &handle_);
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    Status status;
    attachment_->client().commit_transaction(status.get(), &handle_);
    attachment_->Check(status);
  }
  void Rollback() {
    Status status;
    attachment_->client().rollback_transaction(status.get(), &handle_);
    attachment_->Check(status);
  }
  bool active() const { return handle_ != 0; }
  IscHandle* handle() { return &handle_; }
  Attachment& attachment() { return *attachment_; }

 private:
  AttachmentPtr attachment_;
  IscHandle handle_ = 0;
};

using TransactionPtr = std::shared_ptr<Transaction>;

// An output descriptor with buffers for every column.
class OutputArea {
 public:
  explicit OutputArea(int columns) { Resize(columns); }

  XSqlDa* get() { return reinterpret_cast<XSqlDa*>(storage_.get()); }
  int count() { return get()->sqld; }
  XSqlVar& var(int i) { return get()->sqlvar[i]; }

  void Resize(int columns) {
    const int n = columns < 1 ? 1 : columns;
    storage_ = std::make_unique<unsigned char[]>(sizeof(XSqlDa) +
                                                 sizeof(XSqlVar) * static_cast<size_t>(n - 1));
    auto* da = get();
    da->version = api::kSqlDaVersion1;
    da->sqln = static_cast<int16_t>(n);
  }

  // Gives every described column a buffer and a null indicator.
  void Bind() {
    const int n = count();
    buffers_.assign(static_cast<size_t>(n), {});
    indicators_.assign(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
      auto& v = var(i);
      size_t size = static_cast<size_t>(v.sqllen);
      if ((v.sqltype & ~1) == api::kSqlVarying) {
        size += 2;
      }
      buffers_[static_cast<size_t>(i)].assign(size + 8, 0);
      v.sqldata = buffers_[static_cast<size_t>(i)].data();
      v.sqlind = &indicators_[static_cast<size_t>(i)];
      v.sqltype = static_cast<int16_t>(v.sqltype | 1);
    }
  }

 private:
  // new[] storage is aligned for any fundamental type, the descriptor's pointers included.
  std::unique_ptr<unsigned char[]> storage_;
  std::vector<std::vector<char>> buffers_;
  std::vector<int16_t> indicators_;
};

class Statement {
 public:
  explicit Statement(Attachment& attachment) : attachment_(attachment) {
    Status status;
    attachment_.client().allocate_statement(status.get(), attachment_.handle(), &handle_);
    attachment_.Check(status);
  }
  ~Statement() {
    if (handle_ != 0) {
      Status status;
      attachment_.client().free_statement(status.get(), &handle_, api::kDsqlDrop);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Prepares sql and describes its output columns into out.
  void Prepare(Transaction& transaction, const std::string& sql, OutputArea& out) {
    Status status;
    attachment_.client().prepare(status.get(), transaction.handle(), &handle_, SqlLength(sql),
                                 sql.c_str(), api::kDialect3, out.get());
    attachment_.Check(status);
    if (out.count() > out.get()->sqln) {
      out.Resize(out.count());
      attachment_.client().describe(status.get(), &handle_, api::kSqlDaVersion1, out.get());
      attachment_.Check(status);
    }
    out.Bind();
  }

  int Type() {
    const char items[] = {api::kInfoSqlStmtType};
    char buffer[16] = {};
    Status status;
    attachment_.client().sql_info(status.get(), &handle_, sizeof items, items, sizeof buffer,
                                  buffer);
    attachment_.Check(status);
    if (buffer[0] != api::kInfoSqlStmtType) {
      return 0;
    }
    const int length =
        static_cast<unsigned char>(buffer[1]) | (static_cast<unsigned char>(buffer[2]) << 8);
    int value = 0;
    for (int i = 0; i < length && i < 4; ++i) {
      value |= static_cast<unsigned char>(buffer[3 + i]) << (8 * i);
    }
    return value;
  }

  void Execute(Transaction& transaction) {
    Status status;
    attachment_.client().execute(status.get(), transaction.handle(), &handle_, api::kSqlDaVersion1,
                                 nullptr);
    attachment_.Check(status);
  }

  // Runs a statement that gives one row at most (a procedure, or DML with RETURNING) into out.
  void ExecuteSingleton(Transaction& transaction, OutputArea& out) {
    Status status;
    attachment_.client().execute2(status.get(), transaction.handle(), &handle_, api::kSqlDaVersion1,
                                  nullptr, out.get());
    attachment_.Check(status);
  }

  // False at the end of the rows.
  bool Fetch(OutputArea& out) {
    Status status;
    auto rc = attachment_.client().fetch(status.get(), &handle_, api::kSqlDaVersion1, out.get());
    if (rc == 100) {
      return false;
    }
    attachment_.Check(status);
    return true;
  }

 private:
  Attachment& attachment_;
  IscHandle handle_ = 0;
};

class Blob {
 public:
  Blob(Transaction& transaction, IscQuad id) : attachment_(transaction.attachment()) {
    Status status;
    attachment_.client().open_blob2(status.get(), attachment_.handle(), transaction.handle(),
                                    &handle_, &id, 0, nullptr);
    attachment_.Check(status);
  }
  ~Blob() {
    if (handle_ != 0) {
      Status status;
      attachment_.client().close_blob(status.get(), &handle_);
    }
  }
  Blob(const Blob&) = delete;
  Blob& operator=(const Blob&) = delete;

  std::string ReadAll() {
    std::string data;
    char segment[32768];
    for (;;) {
      Status status;
      uint16_t length = 0;
      attachment_.client().get_segment(status.get(), &handle_, &length, sizeof segment, segment);
      const IscStatus code = status.vector[0] == 1 ? status.vector[1] : 0;
      if (code == api::kErrSegstrEof) {
        break;
      }
      if (code != 0 && code != api::kErrSegment) {
        attachment_.Check(status);
      }
      data.append(segment, length);
    }
    return data;
  }

 private:
  Attachment& attachment_;
  IscHandle handle_ = 0;
};

// ---------------------------------------------------------------------------------------------

std::string ServerText(const Attachment& attachment, std::string bytes) {
  return attachment.utf8() ? tolvan::platform::SanitizeUtf8(bytes)
                           : tolvan::platform::FromSystemCodePage(bytes);
}

template <typename T>
T Read(const char* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

std::string TrimTrailingBlanks(std::string text) {
  auto end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

// The column's value as text. CHAR values lose their padding: in multi-byte character sets the
// server pads to the byte length, which would add blanks no one stored.
std::optional<std::string> ColumnText(const XSqlVar& v, Transaction& transaction) {
  if ((v.sqltype & 1) && *v.sqlind < 0) {
    return std::nullopt;
  }
  const char* data = v.sqldata;
  const int charset = v.sqlsubtype & 0xFF;
  auto& attachment = transaction.attachment();
  switch (v.sqltype & ~1) {
    case api::kSqlVarying: {
      std::string bytes(data + 2, Read<uint16_t>(data));
      return charset == kCharsetOctets ? bytes : ServerText(attachment, std::move(bytes));
    }
    case api::kSqlText: {
      std::string bytes(data, static_cast<size_t>(v.sqllen));
      return charset == kCharsetOctets ? bytes : ServerText(attachment, TrimTrailingBlanks(bytes));
    }
    case api::kSqlShort:
      return FormatScaled(Read<int16_t>(data), v.sqlscale);
    case api::kSqlLong:
      return FormatScaled(Read<int32_t>(data), v.sqlscale);
    case api::kSqlInt64:
      return FormatScaled(Read<int64_t>(data), v.sqlscale);
    case api::kSqlFloat:
      return FormatFloat(Read<float>(data));
    case api::kSqlDouble:
    case api::kSqlDFloat:
      return FormatDouble(Read<double>(data));
    case api::kSqlTypeDate:
      return FormatDate(Read<int32_t>(data));
    case api::kSqlTypeTime:
      return FormatTime(Read<uint32_t>(data));
    case api::kSqlTimestamp:
      return FormatDate(Read<int32_t>(data)) + " " + FormatTime(Read<uint32_t>(data + 4));
    case api::kSqlBoolean:
      return std::string(data[0] != 0 ? "true" : "false");
    case api::kSqlBlob: {
      Blob blob(transaction, Read<IscQuad>(data));
      auto bytes = blob.ReadAll();
      return v.sqlsubtype == 1 ? ServerText(attachment, std::move(bytes)) : bytes;
    }
    case api::kSqlNull:
      return std::nullopt;
    default:
      throw TVeskDriverError("A coluna " + std::string(v.aliasname, v.aliasname_length) +
                             " tem um tipo que o driver não sabe ler (" +
                             std::to_string(v.sqltype & ~1) + ")");
  }
}

// Rows of one statement. A transaction of its own is committed when the last row has been read
// and rolled back when the cursor goes earlier.
class FirebirdCursor : public driver::Cursor {
 public:
  FirebirdCursor(AttachmentPtr attachment, TransactionPtr transaction, bool own_transaction,
                 const std::string& sql)
      : attachment_(std::move(attachment)),
        transaction_(std::move(transaction)),
        own_transaction_(own_transaction),
        statement_(*attachment_),
        out_(20) {
    statement_.Prepare(*transaction_, sql, out_);
    for (int i = 0; i < out_.count(); ++i) {
      const auto& v = out_.var(i);
      columns_.push_back(ServerText(*attachment_, std::string(v.aliasname, v.aliasname_length)));
    }
    const int type = statement_.Type();
    if (type == api::kStmtSelect || type == api::kStmtSelectForUpdate) {
      has_rows_ = true;
      statement_.Execute(*transaction_);
    } else if (out_.count() > 0) {
      has_rows_ = true;
      statement_.ExecuteSingleton(*transaction_, out_);
      singleton_ = CurrentRow();
      Finish();
    } else {
      statement_.Execute(*transaction_);
      Finish();
    }
  }

  std::vector<std::string> Columns() const override {
    return has_rows_ ? columns_ : std::vector<std::string>();
  }

  std::optional<std::vector<std::optional<std::string>>> Fetch() override {
    if (singleton_) {
      return std::exchange(singleton_, std::nullopt);
    }
    if (done_) {
      return std::nullopt;
    }
    if (!statement_.Fetch(out_)) {
      Finish();
      return std::nullopt;
    }
    return CurrentRow();
  }

 private:
  std::vector<std::optional<std::string>> CurrentRow() {
    std::vector<std::optional<std::string>> row;
    row.reserve(columns_.size());
    for (int i = 0; i < out_.count(); ++i) {
      row.push_back(ColumnText(out_.var(i), *transaction_));
    }
    return row;
  }

  void Finish() {
    done_ = true;
    if (own_transaction_) {
      transaction_->Commit();
    }
  }

  AttachmentPtr attachment_;
  TransactionPtr transaction_;
  bool own_transaction_;
  Statement statement_;
  OutputArea out_;
  std::vector<std::string> columns_;
  bool has_rows_ = false;
  bool done_ = false;
  std::optional<std::vector<std::optional<std::string>>> singleton_;
};

std::string BuildDpb(const std::vector<std::string>& params, std::chrono::seconds limit) {
  std::string dpb{api::kDpbVersion1, api::kDpbUtf8Filename, 0};
  AppendConnectTimeout(dpb, api::kDpbConnectTimeout,
                       tolvan::platform::LibraryConnectTimeout(limit));
  auto add = [&dpb](char tag, const std::string& value, const char* what) {
    if (value.size() > 255) {
      throw TVeskDriverError(std::string(what) + " passa de 255 bytes");
    }
    dpb += tag;
    dpb += static_cast<char>(value.size());
    dpb += value;
  };
  add(api::kDpbUserName, FirebirdLoginName(ParamOf(params, "User_Name")), "O nome de usuário");
  add(api::kDpbPassword, ParamOf(params, "Password"), "A senha");
  auto charset = ParamOf(params, "lc_ctype");
  add(api::kDpbLcCtype, charset.empty() ? "UTF8" : charset, "O conjunto de caracteres");
  auto role = ParamOf(params, "RoleName");
  if (!role.empty()) {
    add(api::kDpbSqlRoleName, role, "O nome da role");
  }
  return dpb;
}

class FirebirdSession : public driver::Session {
 public:
  FirebirdSession(ClientPtr client, const std::vector<std::string>& params)
      : database_(ParamOf(params, "Database")) {
    auto charset = ParamOf(params, "lc_ctype");
    const bool utf8 = charset.empty() || detail::EqualsIgnoringCase(charset, "UTF8");
    const auto limit = tolvan::platform::ConnectTimeoutFrom(
        ParamOf(params, std::string(tolvan::platform::kConnectTimeoutParameter)));
    attachment_ = std::make_shared<Attachment>(std::move(client), database_,
                                               BuildDpb(params, limit), utf8, limit);
  }

  std::unique_ptr<driver::Cursor> Query(const std::string& sql) override {
    if (InTransaction()) {
      return std::make_unique<FirebirdCursor>(attachment_, explicit_, false, sql);
    }
    return std::make_unique<FirebirdCursor>(attachment_, OwnTransaction(), true, sql);
  }

  void ExecuteDirect(const std::string& sql) override {
    auto transaction = InTransaction() ? explicit_ : OwnTransaction();
    Status status;
    attachment_->client().execute_immediate(status.get(), attachment_->handle(),
                                            transaction->handle(), SqlLength(sql), sql.c_str(),
                                            api::kDialect3, nullptr);
    attachment_->Check(status);
    if (transaction != explicit_) {
      transaction->Commit();
    }
  }

  void StartTransaction(bool read_committed, bool read_only) override {
    if (InTransaction()) {
      throw std::runtime_error("Já há uma transação ativa nesta conexão");
    }
    explicit_ = std::make_shared<Transaction>(attachment_, read_committed, read_only);
  }

  void Commit() override {
    RequireTransaction("Commit");
    explicit_->Commit();
    explicit_.reset();
  }

  void Rollback() override {
    RequireTransaction("Rollback");
    auto transaction = std::move(explicit_);
    transaction->Rollback();
  }

  bool InTransaction() const override { return explicit_ && explicit_->active(); }

  void SetStatementReadOnly(bool read_only) override { statement_read_only_ = read_only; }

  std::vector<std::string> InfoReport(TVeskInfoReportPart part) override {
    std::vector<std::string> lines;
    lines.push_back("Database = " + database_);
    std::string version;
    for (const auto& line : VersionStrings()) {
      version += (version.empty() ? "" : "\r\n") + line;
    }
    lines.push_back("Server version = " + version);
    if (part == TVeskInfoReportPart::All) {
      auto info =
          DatabaseInfo({api::kInfoOdsVersion, api::kInfoOdsMinorVersion, api::kInfoPageSize});
      lines.push_back("ODS version = " + std::to_string(info[0]) + "." + std::to_string(info[1]));
      lines.push_back("Page size = " + std::to_string(info[2]));
    }
    return lines;
  }

  int64_t ServerVersion() override {
    auto strings = VersionStrings();
    return strings.empty() ? 0 : EncodeServerVersion(strings.front());
  }

 private:
  TransactionPtr OwnTransaction() {
    return std::make_shared<Transaction>(attachment_, true, statement_read_only_);
  }

  void RequireTransaction(const char* operation) const {
    if (!InTransaction()) {
      throw std::runtime_error(std::string(operation) + ": nenhuma transação está ativa");
    }
  }

  // The raw isc_database_info reply.
  std::string InfoReply(const std::string& items) {
    std::string buffer(1024, '\0');
    Status status;
    attachment_->client().database_info(status.get(), attachment_->handle(),
                                        static_cast<int16_t>(items.size()), items.data(),
                                        static_cast<int16_t>(buffer.size()), buffer.data());
    attachment_->Check(status);
    return buffer;
  }

  // Walks the reply items: tag, 2-byte length, value.
  template <typename F>
  void ForEachItem(const std::string& reply, F&& f) {
    size_t pos = 0;
    while (pos + 3 <= reply.size()) {
      const char tag = reply[pos];
      if (tag == api::kInfoEnd || tag == api::kInfoTruncated) {
        break;
      }
      const size_t length = static_cast<unsigned char>(reply[pos + 1]) |
                            (static_cast<size_t>(static_cast<unsigned char>(reply[pos + 2])) << 8);
      if (pos + 3 + length > reply.size()) {
        break;
      }
      f(tag, std::string_view(reply).substr(pos + 3, length));
      pos += 3 + length;
    }
  }

  std::vector<std::string> VersionStrings() {
    std::vector<std::string> strings;
    ForEachItem(InfoReply(std::string(1, api::kInfoFirebirdVersion)),
                [&](char tag, std::string_view value) {
                  if (tag == api::kInfoFirebirdVersion) {
                    for (auto& s : ParseVersionStrings(value)) {
                      strings.push_back(tolvan::platform::FromSystemCodePage(s));
                    }
                  }
                });
    return strings;
  }

  std::vector<int64_t> DatabaseInfo(const std::vector<char>& items) {
    std::vector<int64_t> values(items.size(), 0);
    ForEachItem(InfoReply(std::string(items.begin(), items.end())),
                [&](char tag, std::string_view value) {
                  int64_t number = 0;
                  for (size_t i = 0; i < value.size() && i < 8; ++i) {
                    number |= static_cast<int64_t>(static_cast<unsigned char>(value[i])) << (8 * i);
                  }
                  for (size_t i = 0; i < items.size(); ++i) {
                    if (items[i] == tag) {
                      values[i] = number;
                    }
                  }
                });
    return values;
  }

  std::string database_;
  AttachmentPtr attachment_;
  TransactionPtr explicit_;
  bool statement_read_only_ = false;
};

class FirebirdDriver : public driver::Driver {
 public:
  std::string DatabaseKey(const std::vector<std::string>& params) const override {
    return ParamOf(params, "Database");
  }

  std::unique_ptr<driver::Session> Connect(const driver::ConnectionSettings& settings) override {
    return std::make_unique<FirebirdSession>(Client::Get(settings.client_library), settings.params);
  }
};

// Registered when the library loads.
struct Registrar {
  Registrar() { driver::RegisterDriver(kDriverName, std::make_shared<FirebirdDriver>()); }
} registrar;

}  // namespace

std::string CreateDatabaseSql(const std::string& database_key, const std::string& user,
                              const std::string& password) {
  return "CREATE DATABASE '" + QuoteSqlLiteral(database_key) + "' USER '" + QuoteSqlLiteral(user) +
         "' PASSWORD '" + QuoteSqlLiteral(password) + "' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8";
}

void CreateDatabase(const std::string& database_key, const std::string& user,
                    const std::string& password, const std::string& client_library) {
  auto client = Client::Get(client_library);
  const auto sql = CreateDatabaseSql(database_key, user, password);
  IscHandle database = 0;
  IscHandle transaction = 0;
  Status status;
  const auto detach = [&] {
    if (database != 0) {
      Status ignored;
      client->detach_database(ignored.get(), &database);
    }
  };
  CallWithinConnectLimit(
      ServerOf(database_key), tolvan::platform::kDefaultConnectTimeout,
      [&] {
        const ClientEntry entry;
        client->execute_immediate(status.get(), &database, &transaction, SqlLength(sql),
                                  sql.c_str(), api::kDialect3, nullptr);
      },
      detach);
  client->Check(status.get());
  // The statement leaves the new database attached.
  Status detached;
  client->detach_database(detached.get(), &database);
  client->Check(detached.get());
}

}  // namespace vesk::firebird
