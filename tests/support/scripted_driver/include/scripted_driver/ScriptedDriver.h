// A driver for tests: answers each SQL text from a script, records what it was asked in order, and
// fails on request at the n-th call of any operation. Register it under a name and give a
// TVeskSQLConnection that DriverName.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vesk/host/Driver.h"

namespace tolvan::testing {

enum class Operation {
  Connect,
  Close,
  Query,
  Fetch,
  Execute,
  StartTransaction,
  Commit,
  Rollback,
  InfoReport,
  ServerVersion,
};

std::string ToString(Operation op);

using Row = std::vector<std::optional<std::string>>;

// What a statement answers: rows under columns, or a driver error with the given text.
struct Answer {
  std::vector<std::string> columns;
  std::vector<Row> rows;
  std::optional<std::string> error;

  static Answer Rows(std::vector<std::string> columns, std::vector<Row> rows);
  static Answer Error(std::string message);
  // One column, one row per value.
  static Answer Column(std::string column, std::vector<std::optional<std::string>> values);
};

// One recorded call. Fetches are counted but not recorded, to keep the record readable.
struct Event {
  Operation op;
  // The SQL of a query or statement; "read_committed=0|1 read_only=0|1" of a transaction start;
  // "All" or "Connection" of an information report; empty otherwise.
  std::string text;
  // Which session it happened on, numbered from 1 in the order of connecting.
  int session = 0;

  bool operator==(const Event&) const = default;
};

std::string ToString(const Event& event);

class ScriptedDriver : public vesk::driver::Driver {
 public:
  ScriptedDriver();
  ~ScriptedDriver() override;

  // A query whose text is exactly sql gives this answer (the last one set wins).
  void OnQuery(const std::string& sql, Answer answer);
  // Any query that no exact text matched goes to the handler; without one it fails with
  // "scripted driver: no answer for: " and the text.
  void OnOtherQuery(std::function<Answer(const std::string& sql)> handler);
  // A statement run with ExecuteDirect succeeds unless an error is scripted for its text.
  void OnExecuteError(const std::string& sql, std::string message);

  void SetInfoReport(std::vector<std::string> lines);
  void SetServerVersion(int64_t version);
  // The database key of every connection; empty: the "Database" parameter.
  void SetDatabaseKey(std::string key);

  // The n-th call (counted from 1 over all sessions) of op throws TVeskDriverError(message).
  void FailAt(Operation op, int n, std::string message = "scripted failure");

  std::vector<Event> Events() const;
  // The record as readable lines, for failure messages.
  std::string Describe() const;
  // The SQL of every query and statement, in order.
  std::vector<std::string> Statements() const;
  int Count(Operation op) const;
  // Sessions connected and not yet closed.
  int OpenSessions() const;
  // Settings the last connect was given.
  vesk::driver::ConnectionSettings LastSettings() const;
  void ClearRecord();

  std::string DatabaseKey(const std::vector<std::string>& params) const override;
  std::unique_ptr<vesk::driver::Session> Connect(
      const vesk::driver::ConnectionSettings& settings) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Registers a new scripted driver under name for the life of the object.
class ScopedScriptedDriver {
 public:
  explicit ScopedScriptedDriver(std::string name = "Scripted");
  ~ScopedScriptedDriver();
  ScopedScriptedDriver(const ScopedScriptedDriver&) = delete;
  ScopedScriptedDriver& operator=(const ScopedScriptedDriver&) = delete;

  ScriptedDriver& driver() { return *driver_; }
  ScriptedDriver* operator->() { return driver_.get(); }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::shared_ptr<ScriptedDriver> driver_;
};

}  // namespace tolvan::testing
