// How far a pg_dump or pg_restore run has gone, read beside the tool from the server's own COPY
// progress (pg_stat_progress_copy, PostgreSQL 14 and later) on a connection of tolvan's own, which
// reads only statistics views and the catalog and so never holds up the tool.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "StatusText.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {

// One table a run copies.
struct CopyTable {
  std::string name;  // "schema.table"
  // Its share of the run: the table's size on the server, or its data's size in the dump.
  std::uint64_t weight = 0;
  // What the COPY of it counts at its end, when known: the bytes of its text (a restore reads
  // them in the dump) or, less exactly, its rows (the server's estimate). With neither, the table
  // counts only once it is done.
  std::optional<std::uint64_t> bytes;
  std::optional<std::uint64_t> rows;
};

// One COPY the server runs for the tool: its table and what it has counted so far.
struct CopyReading {
  std::string table;
  std::uint64_t bytes = 0;
  std::uint64_t tuples = 0;
};

// The percentage of a run from what copies at each reading. The tool copies one table at a time,
// in the plan's order: while a table copies, those before it are done, and a table seen copying
// and no longer is done. The percentage follows the tables' weights, within a table what its COPY
// counted; it only grows, and stays below 100 until Complete().
class CopyProgress {
 public:
  explicit CopyProgress(std::vector<CopyTable> plan);
  void Feed(const std::vector<CopyReading>& copying);
  // The tool ended well: every table is copied, and only what follows the copies is left.
  void AllCopied();
  void Complete();
  // No percentage before the first reading.
  ProgressState State() const;

 private:
  std::vector<CopyTable> plan_;
  std::vector<bool> done_;
  std::size_t done_count_ = 0;
  std::optional<std::size_t> current_;
  std::uint64_t total_ = 0;
  std::optional<int> percent_;
};

// Reads a run's COPY progress four times a second on a thread of its own. Idle until started;
// stopped (its connection closed) by Stop() or when it goes. A failure of any kind leaves it
// without a percentage and never reaches the run.
class CopyProgressPoller {
 public:
  CopyProgressPoller() = default;
  ~CopyProgressPoller();
  CopyProgressPoller(const CopyProgressPoller&) = delete;
  CopyProgressPoller& operator=(const CopyProgressPoller&) = delete;

  // Before pg_dump starts: a connection like `like` (its driver, parameters, client library and
  // connection time limit) to the same database, the plan read there (the user tables in the
  // order pg_dump copies them, by name, each weighed by its size). An interrupt while connecting
  // is raised; any other failure, or a server without the view, gives false.
  bool StartForDump(const TVeskSQLConnection& like);
  // Before pg_restore starts: the same on the database the restore goes into, with the plan the
  // dump gives (its tables' data in the order of its table of contents).
  bool StartForRestore(const TVeskSQLConnection& like, const std::string& database_key,
                       std::vector<CopyTable> plan);
  // Stops reading and closes the connection; after a tool that ended well, every table counts as
  // copied.
  void Stop(bool tool_succeeded = false);
  ProgressState State() const;

 private:
  bool Start(const TVeskSQLConnection& like, const std::string& database_key, bool dump,
             std::optional<std::vector<CopyTable>> plan);
  void Poll();

  std::unique_ptr<TVeskSQLConnection> connection_;
  std::string readings_sql_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool failed_ = false;
  std::optional<CopyProgress> progress_;
  std::thread thread_;
};

// The end of a reading beside a run: waits for its thread, then closes and frees its connection,
// whose failure to close has nothing more to say.
void JoinAndClose(std::thread& thread, std::unique_ptr<TVeskSQLConnection>& connection);

// What a status line asks of the poller: its state while the poller is there, nothing after.
std::function<ProgressState()> ProgressReader(const std::shared_ptr<CopyProgressPoller>& poller);

}  // namespace tolvan::cli
