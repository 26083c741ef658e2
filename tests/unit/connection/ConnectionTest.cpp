// The connection objects over a small driver of the test's own.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vesk/VeskPack5.h"
#include "vesk/host/DefaultConnection.h"
#include "vesk/host/Driver.h"

namespace {

using Row = std::vector<std::optional<std::string>>;

// What the driver saw, shared by all its sessions.
struct Journal {
  int connects = 0;
  int live_sessions = 0;
  std::vector<std::string> calls;
  std::vector<std::string> params_of_last_connect;
  bool statement_read_only = false;
};

class TableCursor : public vesk::driver::Cursor {
 public:
  TableCursor(std::vector<std::string> columns, std::vector<Row> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}
  std::vector<std::string> Columns() const override { return columns_; }
  std::optional<Row> Fetch() override {
    if (next_ >= rows_.size()) {
      return std::nullopt;
    }
    return rows_[next_++];
  }

 private:
  std::vector<std::string> columns_;
  std::vector<Row> rows_;
  size_t next_ = 0;
};

class UnitSession : public vesk::driver::Session {
 public:
  explicit UnitSession(Journal& journal) : journal_(journal) { ++journal_.live_sessions; }
  ~UnitSession() override { --journal_.live_sessions; }

  std::unique_ptr<vesk::driver::Cursor> Query(const std::string& sql) override {
    journal_.calls.push_back("query " + sql);
    if (sql == "fail") {
      throw TVeskDriverError("server says no");
    }
    return std::make_unique<TableCursor>(
        std::vector<std::string>{"ID", "Name"},
        std::vector<Row>{{"1", "um"}, {"2", std::nullopt}, {"3", "três"}});
  }
  void ExecuteDirect(const std::string& sql) override { journal_.calls.push_back("exec " + sql); }
  void StartTransaction(bool read_committed, bool read_only) override {
    journal_.calls.push_back(std::string("start ") + (read_committed ? "rc" : "snapshot") +
                             (read_only ? " ro" : " rw"));
    in_transaction_ = true;
  }
  void Commit() override {
    journal_.calls.push_back("commit");
    in_transaction_ = false;
  }
  void Rollback() override {
    journal_.calls.push_back("rollback");
    in_transaction_ = false;
  }
  bool InTransaction() const override { return in_transaction_; }
  void SetStatementReadOnly(bool read_only) override { journal_.statement_read_only = read_only; }
  std::vector<std::string> InfoReport(TVeskInfoReportPart) override {
    return {"Server version = Unit 1.0"};
  }
  int64_t ServerVersion() override { return 42; }

 private:
  Journal& journal_;
  bool in_transaction_ = false;
};

class UnitDriver : public vesk::driver::Driver {
 public:
  explicit UnitDriver(Journal& journal) : journal_(journal) {}
  std::string DatabaseKey(const std::vector<std::string>& params) const override {
    return "key:" + (params.empty() ? std::string() : params.front());
  }
  std::unique_ptr<vesk::driver::Session> Connect(
      const vesk::driver::ConnectionSettings& settings) override {
    ++journal_.connects;
    journal_.params_of_last_connect = settings.params;
    return std::make_unique<UnitSession>(journal_);
  }

 private:
  Journal& journal_;
};

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vesk::driver::RegisterDriver("UnitTestDriver", std::make_shared<UnitDriver>(journal));
    connection.DriverName = "unittestdriver";  // found ignoring case
    connection.Params = {"Database=/db/x.fdb", "User_Name=SYSDBA"};
  }
  void TearDown() override {
    vesk::SetDefaultConnection(nullptr);
    vesk::driver::UnregisterDriver("UnitTestDriver");
  }

  TVeskQuery* Open(const std::string& sql, TVeskSQLConnection* on = nullptr) {
    return ExecutarSQL(sql, nullptr, false, false, 10, "", on ? on : &connection, true);
  }

  Journal journal;
  TVeskSQLConnection connection;
};

TEST_F(ConnectionTest, ParamsIgnoreCaseAndMissingReadsEmpty) {
  EXPECT_EQ(connection.GetParam("USER_NAME"), "SYSDBA");
  EXPECT_EQ(connection.GetParam("database"), "/db/x.fdb");
  EXPECT_EQ(connection.GetParam("Password"), "");

  connection.SetParam("user_name", "ana");
  connection.SetParam("PASSWORD", "a=b");
  EXPECT_EQ(connection.Params,
            (std::vector<std::string>{"Database=/db/x.fdb", "user_name=ana", "PASSWORD=a=b"}));
  EXPECT_EQ(connection.GetParam("Password"), "a=b") << "only the first = separates";
  EXPECT_EQ(connection.GetDATABASENAME_KEY(), "key:Database=/db/x.fdb");
}

TEST_F(ConnectionTest, OpensOnceAndReconnectsWhenAQueryOpensOnAClosedConnection) {
  connection.Open();
  connection.Open();
  EXPECT_EQ(journal.connects, 1);
  EXPECT_EQ(journal.params_of_last_connect, connection.Params);

  connection.Close();
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(journal.live_sessions, 0);
  TVeskQuery* query = Open("select 1");
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(journal.connects, 2);
  DestruirSQL(query);
  EXPECT_EQ(query, nullptr);

  connection.Close();
  connection.ExecuteDirect("update x");
  EXPECT_EQ(journal.connects, 3);
}

TEST_F(ConnectionTest, UnknownDriverIsAClearError) {
  TVeskSQLConnection other;
  other.DriverName = "NoSuchDriver";
  try {
    other.Open();
    FAIL() << "opened without a driver";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("NoSuchDriver"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(other.Connected());
}

TEST_F(ConnectionTest, CloneIsOwnedByItsConnectionAndFreedWithIt) {
  {
    TVeskSQLConnection parent;
    parent.DriverName = "UnitTestDriver";
    parent.Params = connection.Params;
    TVeskSQLConnection* clone = parent.CloneConnection();
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, &parent);
    EXPECT_TRUE(clone->Connected());
    EXPECT_FALSE(parent.Connected()) << "cloning does not open the parent";
    EXPECT_EQ(clone->GetParam("User_Name"), "SYSDBA");
    EXPECT_EQ(parent.CloneConnection(), clone) << "one clone per connection";
    EXPECT_EQ(journal.live_sessions, 1);

    clone->Close();
    EXPECT_EQ(parent.CloneConnection(), clone);
    EXPECT_TRUE(clone->Connected()) << "handed out open again";

    parent.Open();
    parent.Close();
    EXPECT_FALSE(clone->Connected()) << "closing a connection closes its clone";
    EXPECT_EQ(journal.live_sessions, 0);
    clone->ExecuteDirect("update x");
    EXPECT_TRUE(clone->Connected()) << "the clone opens again on its next use";

    parent.SetParam("Database", "/db/other.fdb");
    TVeskSQLConnection* fresh = parent.CloneConnection();
    EXPECT_EQ(fresh->GetParam("Database"), "/db/other.fdb");
    EXPECT_EQ(journal.live_sessions, 1) << "the stale clone is freed";
  }
  EXPECT_EQ(journal.live_sessions, 0);
}

TEST_F(ConnectionTest, DefaultConnectionServesExecutarSQLAndExecutarSQLDireto) {
  EXPECT_THROW(ExecutarSQLDireto("update y"), std::runtime_error);
  EXPECT_THROW(ExecutarSQL("select", nullptr, false, false, 10, "", nullptr, true),
               std::runtime_error);

  vesk::SetDefaultConnection(&connection);
  EXPECT_EQ(vesk::DefaultConnection(), &connection);
  ExecutarSQLDireto("update y");
  TVeskQuery* query = ExecutarSQL("select z", nullptr, false, false, 10, "", nullptr, true);
  EXPECT_EQ(query->SQLConnection, &connection);
  SDS(query)->FetchAll = true;
  DestruirSQL(query);
  EXPECT_EQ(journal.calls, (std::vector<std::string>{"exec update y", "query select z"}));

  // Not opened when asked not to; parameters it cannot bind are refused.
  query = ExecutarSQL("select w", nullptr, false, false, 10, "", nullptr, false);
  EXPECT_FALSE(query->Active());
  DestruirSQL(query);
  std::vector<std::string> params{"ID=1"};
  EXPECT_THROW(ExecutarSQL("select :ID", &params, false, false, 10, "", nullptr, true),
               std::invalid_argument);
  EXPECT_EQ(journal.calls.size(), 2u);
}

TEST_F(ConnectionTest, QueryReadsRowsFieldsAndNulls) {
  TVeskQuery* query = Open("select");
  ASSERT_TRUE(query->Active());
  EXPECT_EQ(query->FieldCount(), 2);
  EXPECT_EQ(query->FieldIndex("name"), 1);
  EXPECT_THROW(query->FieldIndex("Missing"), std::runtime_error);

  std::vector<std::string> names;
  for (; !query->Eof(); query->Next()) {
    names.push_back(query->FieldByName("NAME"));
    EXPECT_EQ(query->FieldIsNull(1), names.back().empty());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"um", "", "três"}));
  EXPECT_THROW(query->FieldAsString(0), std::runtime_error) << "no row past the end";
  query->Next();
  EXPECT_TRUE(query->Eof());

  query->First();
  EXPECT_EQ(query->FieldAsString(0), "1");
  EXPECT_THROW(query->FieldAsString(2), std::out_of_range);
  DestruirSQL(query);

  TVeskQuery* failing = nullptr;
  try {
    failing = Open("fail");
  } catch (const TVeskDriverError& e) {
    EXPECT_STREQ(e.what(), "server says no");
  }
  EXPECT_EQ(failing, nullptr);
}

TEST_F(ConnectionTest, ModuleTransactionsReachTheSession) {
  TVeskDMConexao module;
  EXPECT_THROW(module.StartTransaction(1, true, false), std::runtime_error) << "no connection";
  module.SQLConnection = &connection;

  EXPECT_THROW(module.Commit(1), std::runtime_error) << "not started";
  EXPECT_THROW(module.RollBack(1), std::runtime_error) << "not started";
  EXPECT_FALSE(connection.Connected()) << "a refused commit does not connect";

  module.StartTransaction(1, true, false);
  EXPECT_THROW(module.StartTransaction(1, true, false), std::runtime_error);
  connection.ExecuteDirect("insert");
  EXPECT_THROW(module.Commit(2), std::runtime_error) << "another number";
  module.Commit(1);
  EXPECT_THROW(module.Commit(1), std::runtime_error) << "already ended";

  module.StartTransaction(1, false, true);
  module.RollBack(1);

  module.StartTransaction(1, true, false);
  connection.Close();
  EXPECT_THROW(module.Commit(1), std::runtime_error) << "ended with the connection";

  EXPECT_EQ(journal.calls,
            (std::vector<std::string>{"start rc rw", "exec insert", "commit", "start snapshot ro",
                                      "rollback", "start rc rw"}));
}

TEST_F(ConnectionTest, InfoReportAppendsAndTransactionObjectIsOptional) {
  std::vector<std::string> report{"kept"};
  connection.GetInfoReport(report, TVeskInfoReportPart::Connection);
  EXPECT_EQ(report, (std::vector<std::string>{"kept", "Server version = Unit 1.0"}));
  EXPECT_EQ(connection.GetServerVersion(), 42);

  ASSERT_NE(connection.Transaction(), nullptr);
  connection.SetHasTransaction(false);
  EXPECT_EQ(connection.Transaction(), nullptr);
  connection.ReadOnlyTransaction = true;
  connection.SetHasTransaction(true);
  ASSERT_NE(connection.Transaction(), nullptr);
  EXPECT_TRUE(connection.Transaction()->Options.ReadOnly);

  // The option reaches the session before each statement.
  connection.ExecuteDirect("update");
  EXPECT_TRUE(journal.statement_read_only);
  connection.Transaction()->Options.ReadOnly = false;
  TVeskQuery* query = Open("select");
  DestruirSQL(query);
  EXPECT_FALSE(journal.statement_read_only);
}

TEST(ConfigurarSQLConnection, KindThreeIsPostgreSQL) {
  TVeskSQLConnection connection;
  ConfigurarSQLConnection(&connection, 3);
  EXPECT_EQ(connection.DriverName, "PostgreSQL");
  EXPECT_THROW(ConfigurarSQLConnection(&connection, 99), std::invalid_argument);
  EXPECT_THROW(ConfigurarSQLConnection(nullptr, 3), std::invalid_argument);
}

class ShowingFrame : public TVeskFraProgresso {
 public:
  std::vector<std::string> shown;

 protected:
  void ShowLine(const std::string& Line) override { shown.push_back(Line); }
};

TEST(FraProgresso, ShowsEveryLineAndKeepsThemOnlyWhenAsked) {
  ShowingFrame frame;
  bool stop = false;
  frame.DoCaptureLine("before", stop);
  frame.SetCaptureGuardar(true);
  frame.DoCaptureLine("gbak: one", stop);
  frame.DoCaptureLine("gbak: two", stop);
  EXPECT_EQ(frame.GetCaptureText(), "gbak: one\r\ngbak: two");
  frame.SetCaptureGuardar(false);
  frame.DoCaptureLine("after", stop);
  EXPECT_EQ(frame.GetCaptureText(), "gbak: one\r\ngbak: two");
  EXPECT_EQ(frame.shown, (std::vector<std::string>{"before", "gbak: one", "gbak: two", "after"}));
  EXPECT_FALSE(stop);

  frame.SetCaptureGuardar(true);
  EXPECT_EQ(frame.GetCaptureText(), "") << "a new capture starts empty";
}

TEST(FraProgresso, EachRunOfAReusedFrameCapturesOnlyItsOwnLines) {
  // A run switches keeping on and never off: the next run on the same frame must not see the
  // lines of the one before.
  ShowingFrame frame;
  bool stop = false;
  frame.SetCaptureGuardar(true);
  frame.DoCaptureLine("gbak: primeiro", stop);
  frame.SetCaptureGuardar(true);
  frame.DoCaptureLine("gbak: segundo", stop);
  EXPECT_EQ(frame.GetCaptureText(), "gbak: segundo");
  frame.SetCaptureGuardar(true);
  EXPECT_EQ(frame.GetCaptureText(), "");
}

}  // namespace
