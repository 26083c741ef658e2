// What one command line asks of tolvan: the plug-in, the export and the values of its options.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tolvan::cli {

struct Options {
  std::string plugin;
  std::string export_name;
  bool help = false;
  bool version = false;

  // The connection.
  std::optional<std::string> database;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::string client_library;
  std::string expected_client_version;
  std::string driver;
  std::string odbc;
  // Seconds a connection attempt may wait for a server that does not answer; unset: the default.
  std::optional<int32_t> connect_timeout;

  // The exports' own arguments.
  std::string sql;
  std::string user_name;
  std::string user_password;
  std::string group_name;
  std::string first_name;
  std::string middle_name;
  std::string last_name;
  std::string target;
  std::string new_user;
  std::string new_password;
  bool inactive_indexes = false;
  std::string server;
  int32_t port = 0;
  std::string file;
  bool service = false;
  bool circular = false;
  bool quiet = false;
  bool metadata_only = false;
  std::optional<std::string> restore_password;
  bool no_frame = false;
  bool progress = false;
  bool yes = false;
  bool quiet_result = false;
  bool verify = false;
  // Dated backups of the --file name to keep; 0: the name itself, no rotation.
  int32_t keep = 0;
  bool no_wait = false;
  // The rows of each table the newest backup of the name recorded: the percentage of a Firebird
  // backup follows them.
  std::map<std::string, std::uint64_t, std::less<>> table_rows;
  // Where a verified Firebird backup puts the rows of each table it wrote, for its record.
  std::shared_ptr<std::map<std::string, std::uint64_t>> rows_written =
      std::make_shared<std::map<std::string, std::uint64_t>>();

  // When tolvan started: the elapsed time shown is the whole run's.
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

}  // namespace tolvan::cli
