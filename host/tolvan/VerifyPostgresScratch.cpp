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

}  // namespace

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
    : connection_(connection) {
  std::random_device random;
  for (int attempt = 0; attempt < 8 && name_.empty(); ++attempt) {
    const std::string name = ScratchDatabaseName(machine_tag, tolvan::platform::CurrentProcessId(),
                                                 static_cast<std::uint32_t>(random()));
    if (!QueryRows(connection_, "select 1 from pg_database where datname = " + Enclosed(name, '\''))
             .empty()) {
      continue;
    }
    try {
      connection_.ExecuteDirect("create database " + Enclosed(name, '"') + " template template0");
      name_ = name;
    } catch (const std::exception&) {
      // Taken in between, or refused: tried again under another name, never dropped.
      if (attempt == 7) {
        throw;
      }
    }
  }
  if (name_.empty()) {
    throw std::runtime_error("não foi possível criar um banco de dados de verificação");
  }
}

ScratchDatabase::~ScratchDatabase() {
  if (!dropped_) {
    DropScratchDatabase(connection_, name_, kDropRounds);
  }
}

std::optional<std::string> ScratchDatabase::Drop() {
  dropped_ = true;
  return DropScratchDatabase(connection_, name_, kDropRounds);
}

// Drops the scratch databases this user may drop whose run, on this machine, is gone, trying each
// once (the next run tries again); says which it could not.
void DropScratchDatabasesOfGoneRuns(TVeskSQLConnection& connection, const std::string& machine_tag,
                                    std::ostream& err) {
  const auto names = QueryRows(connection, "select datname from pg_database where left(datname, " +
                                               std::to_string(kScratchPrefix.size()) + ") = " +
                                               Enclosed(std::string(kScratchPrefix), '\'') +
                                               " and pg_has_role(datdba, 'MEMBER')");
  for (const auto& row : names) {
    const auto parts = ReadScratchDatabaseName(row[0]);
    // This run has made none yet: one of its own id is an earlier process's.
    if (!parts || parts->machine_tag != machine_tag ||
        (parts->pid != tolvan::platform::CurrentProcessId() &&
         tolvan::platform::ProcessExists(parts->pid))) {
      continue;
    }
    if (const auto why = DropScratchDatabase(connection, row[0], 1)) {
      err << "aviso: o banco de dados de verificação \"" << row[0]
          << "\", de uma execução que terminou, não pôde ser excluído: " << *why << "\n";
    }
  }
}

}  // namespace tolvan::cli
