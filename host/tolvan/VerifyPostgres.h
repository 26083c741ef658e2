// The parts of CriarBackup's proven dump: the dump's table of contents and data members, the
// scratch databases and their names, the files a run keeps beside the final name, and the
// database argument of a tool's command line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {

// Counts the rows of a table's data member of a tar dump (COPY text: one line a row, ended by a
// line "\."), fed in pieces of any size, so that a member is never held whole.
class CopyRowCounter {
 public:
  void Feed(std::string_view piece);
  // The rows up to the end marker; a last line without its line end counts.
  std::uint64_t Rows() const;

 private:
  std::uint64_t rows_ = 0;
  std::string line_head_;  // the first bytes of the line being read, enough to know "\."
  std::uint64_t line_bytes_ = 0;
  bool ended_ = false;
};

std::uint64_t CountCopyRows(std::string_view data);

// One entry of a dump's table of contents as `pg_restore -l` lists it.
struct TocEntry {
  int id = 0;
  std::string desc;    // "TABLE", "TABLE DATA", "TABLE ATTACH", "FK CONSTRAINT", ...
  std::string schema;  // "-" for none
  std::string tag;     // the name; "table name" for a trigger or a constraint
};
// The listing's entries of the types a verification reads. A schema whose name holds a blank is
// told from the tag by the listing's own SCHEMA entries.
std::vector<TocEntry> ReadTocListing(const std::string& listing);

// A name (a machine's, a server's) as lower-case ASCII letters and digits: at most 16 of its own,
// then 4 hexadecimal digits of a hash of it whole, so that names that differ only in what is left
// out still differ.
std::string AsciiTag(const std::string& name);

// The scratch database of a verification: "tolvan_verificar_<machine>_<pid>_<8 hex digits>",
// ASCII letters, digits and "_" only, at most 63 bytes. <machine> is the machine's AsciiTag.
inline constexpr std::string_view kScratchPrefix = "tolvan_verificar_";
std::string ScratchDatabaseName(const std::string& machine_tag, std::uint64_t pid,
                                std::uint32_t random);
struct ScratchNameParts {
  std::string machine_tag;
  std::uint64_t pid = 0;
};
// The parts of a name of that shape; nullopt for any other name.
std::optional<ScratchNameParts> ReadScratchDatabaseName(const std::string& name);

// A new connection, not yet open, with the driver, parameters and client library of `like`, to
// `database_key` when one is given (to like's database otherwise).
std::unique_ptr<TVeskSQLConnection> ConnectionLike(const TVeskSQLConnection& like,
                                                   const std::string& database_key = {});

// The rows of a query, each its fields as text.
std::vector<std::vector<std::string>> QueryRows(TVeskSQLConnection& connection,
                                                const std::string& sql);

// A database of a scratch name nobody has, created from template0 on the server of the
// connection for one verification; dropped when the object goes. One that exists already is never
// used nor dropped. It is made on a connection of its own, on a thread, from the moment the object
// is: the server copies the template while the caller goes on (pg_dump runs meanwhile), and Name
// waits for it. The caller's connection, which drops it, may be closed and opened again meanwhile,
// but is open when Name, Drop or the destructor runs.
class ScratchDatabase {
 public:
  ScratchDatabase(TVeskSQLConnection& connection, const std::string& machine_tag);
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  // Its name once it is made; what kept it from being made is thrown.
  const std::string& Name();

  // Drops it now, waiting for and ending what holds it where this user may: why it could not, or
  // nothing when it is gone (or was never made).
  std::optional<std::string> Drop();

 private:
  void Make(TVeskSQLConnection& maker, const std::string& machine_tag);
  void WaitForMaker();

  TVeskSQLConnection& connection_;
  std::string name_;
  std::string failure_;
  bool dropped_ = false;
  std::unique_ptr<TVeskSQLConnection> maker_connection_;
  std::thread maker_;
};

// Drops the scratch databases this user may drop whose run, on this machine, is gone (no process
// of its id runs here); says on err which it could not.
void DropScratchDatabasesOfGoneRuns(TVeskSQLConnection& connection, const std::string& machine_tag,
                                    std::ostream& err);

// The piece of a pg_restore or pg_dump command line that names the database: "-d <name>", or,
// for a name the tools would read as a connection string or an option (it holds "=", begins with
// "postgresql://" or "postgres://", or with "-"), "--dbname=dbname='<name>'" with \ and ' escaped,
// which names only that database.
std::string ToolDatabaseArgument(const std::string& database);

// The files of one run to a final name, beside it so that only that folder needs to be
// writable: "<final>.~pg_dump-<server>-<hex>", an empty file the run holds while it lasts, and
// the dump, "<final>.~pg_dump-<server>-<hex>.dump" (<server>: the AsciiTag of the server the run
// dumps). Throws std::system_error when the folder cannot take them.
class DumpRunFiles {
 public:
  DumpRunFiles(const std::string& final_path, const std::string& server_tag);
  // Removes the dump unless it was put elsewhere or kept, then lets go of the run's file.
  ~DumpRunFiles();
  DumpRunFiles(const DumpRunFiles&) = delete;
  DumpRunFiles& operator=(const DumpRunFiles&) = delete;

  const std::string& Dump() const { return dump_; }
  // Leaves the dump where it is, read-only, so that no later run takes it for a leftover.
  void KeepDump();

 private:
  std::string marker_;
  std::string dump_;
  tolvan::platform::FileHold hold_ = tolvan::platform::kNoFileHold;
  bool kept_ = false;
};

// Removes what the runs to final_path that are gone left beside it (a run is gone when no process
// holds its file): their dumps, whole or not, and the tool's temporaries. A dump an earlier
// version kept aside ("<final>.~anterior-<hex>") is put back at final_path, or removed when
// final_path is that same file.
void RemoveWhatGoneRunsLeft(const std::string& final_path);

}  // namespace tolvan::cli
