// Dated backups of one name, for a nightly job: the name each run writes under
// ("loja-2026-12-09_0230.fbk" for --file loja.fbk), the record tolvan keeps beside each one it
// wrote, which of them a run with --keep removes, and the listing of `tolvan <plug-in> backups`.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tolvan::cli {

// When a dated backup was started, in local time to the minute, and which run of that minute it
// is (1 for the first; later runs of the same minute add "-2", "-3", ...).
struct BackupStamp {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int run = 1;
  auto operator<=>(const BackupStamp&) const = default;
};

// The dated name of path in its own folder: "/bk/loja.fbk" gives "/bk/loja-2026-12-09_0230.fbk"
// (run 2: "/bk/loja-2026-12-09_0230-2.fbk"); a name without extension gets the date at its end.
std::string DatedPath(const std::string& path, const BackupStamp& stamp);

// The stamp of a file name of path's folder that has exactly the shape DatedPath gives path;
// nothing for any other name (another name, a date that cannot be, "-1", leading zeros, more).
std::optional<BackupStamp> StampOf(const std::string& path, const std::string& file_name);

// The first dated name of that local time at which nothing stands, nor its record, nor its
// unverified copy.
std::string NextDatedPath(const std::string& path, const std::tm& local_time);

// What tolvan notes beside a dated backup it put in place: "<backup>.tolvan".
struct BackupRecord {
  std::string file_name;  // the backup's own name, so that a record moved to another is not read
  std::uint64_t size = 0;
  std::int64_t written = 0;  // seconds since 1970 (UTC)
  bool verified = false;
  // The rows of each table, as the backup's tool counted them (a verified Firebird backup).
  std::map<std::string, std::uint64_t> rows;
};

std::string RecordPath(const std::string& backup);
std::string RecordText(const BackupRecord& record);
std::optional<BackupRecord> ReadRecordText(const std::string& text);

// Writes the record of backup beside it durably (flushed, renamed, its folder flushed). Throws
// std::runtime_error with the operator's message.
void WriteRecord(const std::string& backup, const BackupRecord& record);

struct DatedBackup {
  std::string path;
  BackupStamp stamp;
  std::uint64_t size = 0;
  // Present when the file is the one tolvan wrote: a record of its name and of its size.
  std::optional<BackupRecord> record;
  // "<dated name>.nao-verificado": a backup whose verification failed.
  bool failed_verification = false;
};

// The dated backups of path's name in its folder (and their unverified copies), newest first.
std::vector<DatedBackup> ListDatedBackups(const std::string& path);

// The backups a rotation that keeps `keep` removes: only those tolvan wrote (with a matching
// record), the oldest beyond the `keep` newest of them, never the newest verified one nor the one
// just written; never an unverified copy, never a file of another shape or one tolvan did not
// write.
std::vector<std::string> BackupsBeyond(const std::vector<DatedBackup>& newest_first,
                                       std::size_t keep, const std::string& written = {});

// What a run that put `written` in place (a dated name of path) does last: notes it as tolvan's
// and removes the backups of the name beyond the `keep` newest. Nothing else is removed when the
// record cannot be written.
struct Rotation {
  std::vector<std::string> removed;  // file names
  std::vector<std::string> failed;   // "name (reason)"
  std::size_t kept = 0;
};
Rotation KeepNewest(const std::string& path, const std::string& written, std::size_t keep,
                    bool verified, const std::map<std::string, std::uint64_t>& rows = {});

// "Rotação (--keep 3): removido loja-2026-12-06_0230.fbk", "Rotação (--keep 3): nada a
// remover, 2 backups", and what could not be removed.
std::string RotationLine(std::size_t keep, const Rotation& rotation);

// The listing of `tolvan <plug-in> backups --file <name>`: one entry a backup, with its size, the
// date it was written and whether it was verified, in a table when the width allows.
std::string ListingText(const std::vector<DatedBackup>& newest_first, std::size_t columns);

}  // namespace tolvan::cli
