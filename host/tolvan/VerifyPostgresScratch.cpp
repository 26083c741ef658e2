// The scratch databases of the verification on the server: made under a name of one shape, dropped
// whatever holds them, and those of runs that are gone found again.
#include <chrono>
#include <exception>
#include <random>
#include <stdexcept>
#include <thread>

#include "Verify.h"
#include "VerifyPostgres.h"
#include "platform/Interrupt.h"
#include "platform/Machine.h"

namespace tolvan::cli {
namespace {

constexpr int kDropRounds = 3;
constexpr const char* kNotMade = "não foi possível criar um banco de dados de verificação";

// Drops a scratch database, waiting for and ending what holds it where this user may: WITH
// (FORCE) ends the sessions this user may end, but is refused when one it may not end is there
// (an autovacuum worker on a fresh copy, for a user who is not superuser); a plain DROP asks
// such workers to end and waits for them (up to 5 s). Tried `rounds` times, a second apart.
// Why it could not, or nothing when it is gone.
std::optional<std::string> DropScratchDatabase(TVeskSQLConnection& connection,
                                               const std::string& name, int rounds) {
  std::string why;
  for (int round = 0; round < rounds; ++round) {
    if (round > 0) {
      if (tolvan::platform::InterruptSignal() != 0) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::seconds(1));
      try {
        // Opened anew, in case the server lost it (a restart after a full disk).
        connection.Close();
        connection.Open();
        QueryRows(connection,
                  "select pg_terminate_backend(pid) from pg_stat_activity where datname = " +
                      Enclosed(name, '\'') +
                      " and usename = current_user and pid <> pg_backend_pid()");
      } catch (const std::exception& e) {
        why = e.what();
      }
    }
    for (const char* how : {" with (force)", ""}) {
      try {
        connection.ExecuteDirect("drop database if exists " + Enclosed(name, '"') + how);
        return std::nullopt;
      } catch (const std::exception& e) {
        why = e.what();
      }
    }
  }
  return why;
}

// Whether the name is of a scratch database of a run of this machine that is gone (no process of
// its id runs here any more). Asked before this run makes its own: one of this run's id is an
// earlier process's.
bool IsScratchOfGoneRun(const std::string& name, const std::string& machine_tag) {
  const auto parts = ReadScratchDatabaseName(name);
  return parts && parts->machine_tag == machine_tag &&
         (parts->pid == tolvan::platform::CurrentProcessId() ||
          !tolvan::platform::ProcessExists(parts->pid));
}

// The server goes on making a scratch database after the run that asked for it was killed: the
// database appears when it is made, after a later run has looked for those of gone runs. The
// sessions of this user still making one for a gone run of this machine are ended, and waited
// for (the server removes what an ended making wrote).
void EndMakingsOfGoneRuns(TVeskSQLConnection& connection, const std::string& machine_tag) {
  const std::string making = "create database \"";
  std::vector<std::string> sessions;
  for (const auto& row :
       QueryRows(connection,
                 "select pid::text, query from pg_stat_activity where usename = "
                 "current_user and pid <> pg_backend_pid() and state = 'active' and "
                 "left(query, " +
                     std::to_string(making.size() + kScratchPrefix.size()) +
                     ") = " + Enclosed(making + std::string(kScratchPrefix), '\''))) {
    const std::string& query = row[1];
    const auto end = query.find('"', making.size());
    if (IsScratchOfGoneRun(
            query.substr(making.size(),
                         end == std::string::npos ? std::string::npos : end - making.size()),
            machine_tag)) {
      sessions.push_back(row[0]);
    }
  }
  if (sessions.empty()) {
    return;
  }
  std::string list;
  for (const std::string& pid : sessions) {
    list += (list.empty() ? "" : ", ") + pid;
  }
  QueryRows(connection,
            "select pg_terminate_backend(pid) from pg_stat_activity where pid in (" + list + ")");
  for (int wait = 0; wait < 100 && tolvan::platform::InterruptSignal() == 0; ++wait) {
    if (QueryRows(connection, "select 1 from pg_stat_activity where pid in (" + list + ")")
            .empty()) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

std::unique_ptr<TVeskSQLConnection> ConnectionLike(const TVeskSQLConnection& like,
                                                   const std::string& database_key) {
  auto connection = std::make_unique<TVeskSQLConnection>();
  connection->DriverName = like.DriverName;
  connection->Params = like.Params;
  connection->ClientLibrary = like.ClientLibrary;
  if (!database_key.empty()) {
    connection->SetParam("Database", database_key);
  }
  return connection;
}

std::vector<std::vector<std::string>> QueryRows(TVeskSQLConnection& connection,
                                                const std::string& sql) {
  TVeskQuery query;
  query.SQLConnection = &connection;
  query.SQL = sql;
  query.Open();
  std::vector<std::vector<std::string>> rows;
  for (; !query.Eof(); query.Next()) {
    std::vector<std::string> row;
    for (int i = 0; i < query.FieldCount(); ++i) {
      row.push_back(query.FieldAsString(i));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

ScratchDatabase::ScratchDatabase(TVeskSQLConnection& connection, const std::string& machine_tag)
    : connection_(connection), maker_connection_(ConnectionLike(connection)) {
  maker_ = std::thread([this, machine_tag] {
    try {
      maker_connection_->Open();
      Make(*maker_connection_, machine_tag);
    } catch (const std::exception& e) {
      failure_ = e.what();
    }
    try {
      maker_connection_->Close();
    } catch (const std::exception&) {
      // The database is made or not whatever the closing does.
    }
  });
}

void ScratchDatabase::Make(TVeskSQLConnection& maker, const std::string& machine_tag) {
  std::random_device random;
  for (int attempt = 0; attempt < 8 && name_.empty(); ++attempt) {
    const std::string name = ScratchDatabaseName(machine_tag, tolvan::platform::CurrentProcessId(),
                                                 static_cast<std::uint32_t>(random()));
    if (!QueryRows(maker, "select 1 from pg_database where datname = " + Enclosed(name, '\''))
             .empty()) {
      continue;
    }
    try {
      maker.ExecuteDirect("create database " + Enclosed(name, '"') + " template template0");
      name_ = name;
    } catch (const std::exception&) {
      // Taken in between, or refused: tried again under another name, never dropped.
      if (attempt == 7) {
        throw;
      }
    }
  }
  if (name_.empty()) {
    throw std::runtime_error(kNotMade);
  }
}

void ScratchDatabase::WaitForMaker() {
  if (maker_.joinable()) {
    maker_.join();
  }
}

ScratchDatabase::~ScratchDatabase() {
  WaitForMaker();
  if (!dropped_ && !name_.empty()) {
    DropScratchDatabase(connection_, name_, kDropRounds);
  }
}

const std::string& ScratchDatabase::Name() {
  WaitForMaker();
  if (name_.empty()) {
    throw std::runtime_error(failure_.empty() ? kNotMade : failure_);
  }
  return name_;
}

std::optional<std::string> ScratchDatabase::Drop() {
  WaitForMaker();
  dropped_ = true;
  if (name_.empty()) {
    return std::nullopt;
  }
  return DropScratchDatabase(connection_, name_, kDropRounds);
}

// Drops the scratch databases this user may drop whose run, on this machine, is gone, trying each
// once (the next run tries again); says which it could not.
void DropScratchDatabasesOfGoneRuns(TVeskSQLConnection& connection, const std::string& machine_tag,
                                    std::ostream& err) {
  EndMakingsOfGoneRuns(connection, machine_tag);
  const auto names = QueryRows(connection, "select datname from pg_database where left(datname, " +
                                               std::to_string(kScratchPrefix.size()) + ") = " +
                                               Enclosed(std::string(kScratchPrefix), '\'') +
                                               " and pg_has_role(datdba, 'MEMBER')");
  for (const auto& row : names) {
    if (!IsScratchOfGoneRun(row[0], machine_tag)) {
      continue;
    }
    if (const auto why = DropScratchDatabase(connection, row[0], 1)) {
      err << "aviso: o banco de dados de verificação \"" << row[0]
          << "\", de uma execução que terminou, não pôde ser excluído: " << *why << "\n";
    }
  }
}

}  // namespace tolvan::cli
