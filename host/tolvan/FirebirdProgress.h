// The rows of each table of a Firebird database, counted while gbak backs it up, on a connection of
// tolvan's own, or estimated from the pages of a database file on this machine before gbak opens
// it. gbak tells a table's rows only as it writes them; without every table's rows from the start,
// the percentage counts tables, which runs far ahead of the bytes when one table holds most of the
// data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "vesk/VeskPack5.h"

namespace tolvan::cli {

using TableRows = std::map<std::string, std::uint64_t, std::less<>>;

// The rows of each user table of a database file on this machine, estimated before gbak opens it
// (its embedded engine then holds the file alone, so nothing can count beside it): the data pages
// of each table, as its pointer pages list them (the pages the catalog names, read from the file
// itself), times the records a page holds, averaged over up to kSampledDataPages of them spread
// over the table. connection is open on that file. Nothing when the catalog or the file cannot be
// read or does not hold what a pointer or data page holds.
inline constexpr std::size_t kSampledDataPages = 16;
std::optional<TableRows> EstimateLocalTableRows(TVeskSQLConnection& connection,
                                                const std::string& file);

class TableRowCounter {
 public:
  // A new connection to the database, not yet open.
  using Connect = std::function<std::unique_ptr<TVeskSQLConnection>()>;
  // Takes the rows of every user table (views, system, external and temporary tables left out),
  // or nothing when a count failed.
  using Deliver = std::function<void(std::optional<TableRows>)>;

  // Opens the counting connection here, before the tool starts: the client library's first
  // connection in a process swaps the process's interrupt handlers, which must not happen while
  // the tool's runner puts its own in place. The connection's time limit and the operator's
  // interrupt bound it, as the driver's every connection. Then counts on a thread of its own and
  // hands deliver the rows once all are in. Nothing when the connection cannot be made; an
  // interrupt while connecting is raised.
  static std::unique_ptr<TableRowCounter> Start(Connect connect, Deliver deliver);

  // Ends the counting and its connection. A count still running (a large table's takes a while)
  // is cut short by ending its connection from another one; nothing is delivered after.
  ~TableRowCounter();
  TableRowCounter(const TableRowCounter&) = delete;
  TableRowCounter& operator=(const TableRowCounter&) = delete;

 private:
  TableRowCounter(Connect connect, Deliver deliver)
      : connect_(std::move(connect)), deliver_(std::move(deliver)) {}
  void Count();
  void EndCountingConnection() const;

  Connect connect_;
  Deliver deliver_;
  std::unique_ptr<TVeskSQLConnection> connection_;
  // The counting connection's number on the server (CURRENT_CONNECTION).
  std::string attachment_;
  std::mutex mutex_;
  bool stopping_ = false;
  bool counted_ = false;
  std::thread thread_;
};

}  // namespace tolvan::cli
