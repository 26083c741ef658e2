#include "scripted_driver/ScriptedDriver.h"

#include <map>
#include <mutex>
#include <sstream>
#include <utility>

namespace tolvan::testing {

using vesk::driver::ConnectionSettings;
using vesk::driver::Cursor;
using vesk::driver::Session;

std::string ToString(Operation op) {
  switch (op) {
    case Operation::Connect:
      return "connect";
    case Operation::Close:
      return "close";
    case Operation::Query:
      return "query";
    case Operation::Fetch:
      return "fetch";
    case Operation::Execute:
      return "execute";
    case Operation::StartTransaction:
      return "start";
    case Operation::Commit:
      return "commit";
    case Operation::Rollback:
      return "rollback";
    case Operation::InfoReport:
      return "info report";
    case Operation::ServerVersion:
      return "server version";
  }
  return "?";
}

std::string ToString(const Event& event) {
  std::string s = "#" + std::to_string(event.session) + " " + ToString(event.op);
  if (!event.text.empty()) {
    s += ": " + event.text;
  }
  return s;
}

Answer Answer::Rows(std::vector<std::string> columns, std::vector<Row> rows) {
  Answer a;
  a.columns = std::move(columns);
  a.rows = std::move(rows);
  return a;
}

Answer Answer::Error(std::string message) {
  Answer a;
  a.error = std::move(message);
  return a;
}

Answer Answer::Column(std::string column, std::vector<std::optional<std::string>> values) {
  Answer a;
  a.columns.push_back(std::move(column));
  for (auto& v : values) {
    a.rows.push_back(Row{std::move(v)});
  }
  return a;
}

struct ScriptedDriver::State {
  mutable std::mutex mutex;
  std::map<std::string, Answer> queries;
  std::function<Answer(const std::string&)> other_query;
  std::map<std::string, std::string> execute_errors;
  std::vector<std::string> info_report;
  int64_t server_version = 0;
  std::string database_key;
  std::map<Operation, std::map<int, std::string>> failures;
  std::map<Operation, int> counts;
  std::vector<Event> events;
  ConnectionSettings last_settings;
  int sessions = 0;
  int open_sessions = 0;

  // Counts the call, records it (fetches excepted) and throws when a failure is scripted for it.
  // Called with the mutex held.
  void Enter(Operation op, const std::string& text, int session) {
    const int n = ++counts[op];
    if (op != Operation::Fetch) {
      events.push_back(Event{op, text, session});
    }
    auto by_op = failures.find(op);
    if (by_op == failures.end()) {
      return;
    }
    auto at = by_op->second.find(n);
    if (at != by_op->second.end()) {
      throw TVeskDriverError(at->second);
    }
  }
};

namespace {

class ScriptedCursor : public Cursor {
 public:
  ScriptedCursor(std::shared_ptr<ScriptedDriver::State> state, int session, Answer answer)
      : state_(std::move(state)), session_(session), answer_(std::move(answer)) {}

  std::vector<std::string> Columns() const override { return answer_.columns; }

  std::optional<Row> Fetch() override {
    std::lock_guard lock(state_->mutex);
    state_->Enter(Operation::Fetch, "", session_);
    if (next_ >= answer_.rows.size()) {
      return std::nullopt;
    }
    return answer_.rows[next_++];
  }

 private:
  std::shared_ptr<ScriptedDriver::State> state_;
  int session_;
  Answer answer_;
  std::size_t next_ = 0;
};

class ScriptedSession : public Session {
 public:
  ScriptedSession(std::shared_ptr<ScriptedDriver::State> state, int id)
      : state_(std::move(state)), id_(id) {}

  ~ScriptedSession() override {
    std::lock_guard lock(state_->mutex);
    --state_->open_sessions;
    // A close cannot fail: a failure scripted for it is recorded and not raised.
    try {
      state_->Enter(Operation::Close, "", id_);
    } catch (const TVeskDriverError&) {
    }
  }

  std::unique_ptr<Cursor> Query(const std::string& sql) override {
    Answer answer;
    std::function<Answer(const std::string&)> other;
    {
      std::lock_guard lock(state_->mutex);
      state_->Enter(Operation::Query, sql, id_);
      auto it = state_->queries.find(sql);
      if (it != state_->queries.end()) {
        answer = it->second;
      } else if (state_->other_query) {
        other = state_->other_query;
      } else {
        throw TVeskDriverError("scripted driver: no answer for: " + sql);
      }
    }
    // The handler runs unlocked so that it may script the driver itself.
    if (other) {
      answer = other(sql);
    }
    if (answer.error) {
      throw TVeskDriverError(*answer.error);
    }
    return std::make_unique<ScriptedCursor>(state_, id_, std::move(answer));
  }

  void ExecuteDirect(const std::string& sql) override {
    std::lock_guard lock(state_->mutex);
    state_->Enter(Operation::Execute, sql, id_);
    auto it = state_->execute_errors.find(sql);
    if (it != state_->execute_errors.end()) {
      throw TVeskDriverError(it->second);
    }
  }

  void StartTransaction(bool read_committed, bool read_only) override {
    std::lock_guard lock(state_->mutex);
    state_->Enter(Operation::StartTransaction,
                  std::string("read_committed=") + (read_committed ? "1" : "0") +
                      " read_only=" + (read_only ? "1" : "0"),
                  id_);
    in_transaction_ = true;
  }

  void Commit() override {
    std::lock_guard lock(state_->mutex);
    state_->Enter(Operation::Commit, "", id_);
    in_transaction_ = false;
  }

  void Rollback() override {
    std::lock_guard lock(state_->mutex);
    // Whatever happens, a rollback ends the transaction.
    in_transaction_ = false;
    state_->Enter(Operation::Rollback, "", id_);
  }

  bool InTransaction() const override { return in_transaction_; }

  std::vector<std::string> InfoReport(TVeskInfoReportPart part) override {
    std::lock_guard lock(state_->mutex);
    state_->Enter(Operation::InfoReport,
                  part == TVeskInfoReportPart::Connection ? "Connection" : "All", id_);
    return state_->info_report;
  }

  int64_t ServerVersion() override {
    std::lock_guard lock(state_->mutex);
    state_->Enter(Operation::ServerVersion, "", id_);
    return state_->server_version;
  }

 private:
  std::shared_ptr<ScriptedDriver::State> state_;
  int id_;
  bool in_transaction_ = false;
};

}  // namespace

ScriptedDriver::ScriptedDriver() : state_(std::make_shared<State>()) {}

ScriptedDriver::~ScriptedDriver() = default;

void ScriptedDriver::OnQuery(const std::string& sql, Answer answer) {
  std::lock_guard lock(state_->mutex);
  state_->queries[sql] = std::move(answer);
}

void ScriptedDriver::OnOtherQuery(std::function<Answer(const std::string&)> handler) {
  std::lock_guard lock(state_->mutex);
  state_->other_query = std::move(handler);
}

void ScriptedDriver::OnExecuteError(const std::string& sql, std::string message) {
  std::lock_guard lock(state_->mutex);
  state_->execute_errors[sql] = std::move(message);
}

void ScriptedDriver::SetInfoReport(std::vector<std::string> lines) {
  std::lock_guard lock(state_->mutex);
  state_->info_report = std::move(lines);
}

void ScriptedDriver::SetServerVersion(int64_t version) {
  std::lock_guard lock(state_->mutex);
  state_->server_version = version;
}

void ScriptedDriver::SetDatabaseKey(std::string key) {
  std::lock_guard lock(state_->mutex);
  state_->database_key = std::move(key);
}

void ScriptedDriver::FailAt(Operation op, int n, std::string message) {
  std::lock_guard lock(state_->mutex);
  state_->failures[op][n] = std::move(message);
}

std::vector<Event> ScriptedDriver::Events() const {
  std::lock_guard lock(state_->mutex);
  return state_->events;
}

std::string ScriptedDriver::Describe() const {
  std::ostringstream out;
  for (const Event& e : Events()) {
    out << ToString(e) << "\n";
  }
  return out.str();
}

std::vector<std::string> ScriptedDriver::Statements() const {
  std::vector<std::string> sql;
  for (const Event& e : Events()) {
    if (e.op == Operation::Query || e.op == Operation::Execute) {
      sql.push_back(e.text);
    }
  }
  return sql;
}

int ScriptedDriver::Count(Operation op) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->counts.find(op);
  return it == state_->counts.end() ? 0 : it->second;
}

int ScriptedDriver::OpenSessions() const {
  std::lock_guard lock(state_->mutex);
  return state_->open_sessions;
}

ConnectionSettings ScriptedDriver::LastSettings() const {
  std::lock_guard lock(state_->mutex);
  return state_->last_settings;
}

void ScriptedDriver::ClearRecord() {
  std::lock_guard lock(state_->mutex);
  state_->events.clear();
  state_->counts.clear();
}

std::string ScriptedDriver::DatabaseKey(const std::vector<std::string>& params) const {
  std::lock_guard lock(state_->mutex);
  if (!state_->database_key.empty()) {
    return state_->database_key;
  }
  for (const std::string& line : params) {
    if (line.rfind("Database=", 0) == 0) {
      return line.substr(9);
    }
  }
  return "";
}

std::unique_ptr<Session> ScriptedDriver::Connect(const ConnectionSettings& settings) {
  std::lock_guard lock(state_->mutex);
  const int id = state_->sessions + 1;
  state_->last_settings = settings;
  state_->Enter(Operation::Connect, "", id);
  state_->sessions = id;
  ++state_->open_sessions;
  return std::make_unique<ScriptedSession>(state_, id);
}

ScopedScriptedDriver::ScopedScriptedDriver(std::string name)
    : name_(std::move(name)), driver_(std::make_shared<ScriptedDriver>()) {
  vesk::driver::RegisterDriver(name_, driver_);
}

ScopedScriptedDriver::~ScopedScriptedDriver() {
  vesk::driver::UnregisterDriver(name_);
}

}  // namespace tolvan::testing
