#include "Rotation.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <tuple>

#include "Report.h"
#include "StatusText.h"
#include "platform/Files.h"
#include "tolvan/support/ProductFile.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordSuffix = ".tolvan";
constexpr const char* kUnverifiedSuffix = ".nao-verificado";
constexpr const char* kRecordHeading = "tolvan: registro de backup";

// A name's stem and extension as the dated name splits them: "loja.fbk" is "loja" and ".fbk",
// "loja" is "loja" and "".
struct NameParts {
  std::string stem;
  std::string extension;
};

NameParts SplitName(const std::string& path) {
  const fs::path name = fs::path(path).filename();
  return {name.stem().string(), name.extension().string()};
}

std::string FolderOf(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  return folder.empty() ? std::string(".") : folder.string();
}

std::string Beside(const std::string& path, const std::string& name) {
  const fs::path folder = fs::path(path).parent_path();
  return folder.empty() ? name : (folder / name).string();
}

// Reads exactly `digits` digits of text at `at` as a number in [low, high].
std::optional<int> Number(std::string_view text, std::size_t at, std::size_t digits, int low,
                          int high) {
  if (at + digits > text.size()) {
    return std::nullopt;
  }
  int value = 0;
  const char* first = text.data() + at;
  const auto [end, error] = std::from_chars(first, first + digits, value);
  if (error != std::errc() || end != first + digits || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<std::uint64_t> SizeOf(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(fs::path(path), error);
  if (error) {
    return std::nullopt;
  }
  return size;
}

std::optional<BackupRecord> ReadRecordOf(const std::string& backup) {
  std::ifstream in(fs::path(RecordPath(backup)), std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string text;
  // A record is a few lines: anything much longer is not one.
  text.resize(4096);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return ReadRecordText(text);
}

std::string LocalDate(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  const std::tm* local = std::localtime(&time);
  if (local == nullptr) {
    return "?";
  }
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y %H:%M", local);
  return text;
}

std::string StampDate(const BackupStamp& stamp) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d", stamp.day, stamp.month, stamp.year,
                stamp.hour, stamp.minute);
  return text;
}

std::string StateOf(const DatedBackup& backup) {
  if (backup.failed_verification) {
    return "falhou na verificação";
  }
  if (!backup.record) {
    return "não é do tolvan";
  }
  return backup.record->verified ? "verificado" : "sem verificação";
}

}  // namespace

std::string DatedPath(const std::string& path, const BackupStamp& stamp) {
  const NameParts parts = SplitName(path);
  char date[48];
  std::snprintf(date, sizeof date, "-%04d-%02d-%02d_%02d%02d", stamp.year, stamp.month, stamp.day,
                stamp.hour, stamp.minute);
  std::string name = parts.stem + date;
  if (stamp.run > 1) {
    name += "-" + std::to_string(stamp.run);
  }
  return Beside(path, name + parts.extension);
}

std::optional<BackupStamp> StampOf(const std::string& path, const std::string& file_name) {
  const NameParts parts = SplitName(path);
  const std::string head = parts.stem + "-";
  // "-YYYY-MM-DD_HHMM" after the stem.
  constexpr std::size_t kDateLength = 15;
  if (file_name.size() < head.size() + kDateLength + parts.extension.size() ||
      file_name.compare(0, head.size(), head) != 0 || !EndsWith(file_name, parts.extension)) {
    return std::nullopt;
  }
  const std::string_view dated = std::string_view(file_name).substr(
      head.size(), file_name.size() - head.size() - parts.extension.size());
  if (dated[4] != '-' || dated[7] != '-' || dated[10] != '_') {
    return std::nullopt;
  }
  const auto year = Number(dated, 0, 4, 1970, 9999);
  const auto month = Number(dated, 5, 2, 1, 12);
  const auto day = Number(dated, 8, 2, 1, 31);
  const auto hour = Number(dated, 11, 2, 0, 23);
  const auto minute = Number(dated, 13, 2, 0, 59);
  if (!year || !month || !day || !hour || !minute) {
    return std::nullopt;
  }
  BackupStamp stamp{*year, *month, *day, *hour, *minute, 1};
  const std::string_view rest = dated.substr(kDateLength);
  if (rest.empty()) {
    return stamp;
  }
  // "-N": a later run of the same minute, N from 2 on, without leading zeros.
  if (rest.size() < 2 || rest.size() > 6 || rest[0] != '-' || rest[1] == '0') {
    return std::nullopt;
  }
  const auto run = Number(rest, 1, rest.size() - 1, 2, 99999);
  if (!run) {
    return std::nullopt;
  }
  stamp.run = *run;
  return stamp;
}

std::string NextDatedPath(const std::string& path, const std::tm& local_time) {
  BackupStamp stamp{local_time.tm_year + 1900, local_time.tm_mon + 1, local_time.tm_mday,
                    local_time.tm_hour,        local_time.tm_min,     1};
  // After every run of the same minute, also one whose backup is gone: the new one must sort as
  // the newest.
  for (const DatedBackup& backup : ListDatedBackups(path)) {
    const BackupStamp& other = backup.stamp;
    if (std::tie(other.year, other.month, other.day, other.hour, other.minute) ==
        std::tie(stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute)) {
      stamp.run = std::max(stamp.run, other.run + 1);
    }
  }
  for (;; ++stamp.run) {
    const std::string dated = DatedPath(path, stamp);
    if (!tolvan::platform::PathEntryExists(dated) &&
        !tolvan::platform::PathEntryExists(RecordPath(dated)) &&
        !tolvan::platform::PathEntryExists(dated + kUnverifiedSuffix)) {
      return dated;
    }
  }
}

std::string RecordPath(const std::string& backup) {
  return backup + kRecordSuffix;
}

std::string RecordText(const BackupRecord& record) {
  return std::string(kRecordHeading) + "\nbackup: " + record.file_name +
         "\ntamanho: " + std::to_string(record.size) +
         "\ngravado: " + std::to_string(record.written) +
         "\nverificado: " + (record.verified ? "sim" : "não") + "\n" + [&record] {
           std::string rows;
           for (const auto& [table, count] : record.rows) {
             if (table.find_first_of("\r\n") == std::string::npos) {
               rows += "linhas: " + std::to_string(count) + " " + table + "\n";
             }
           }
           return rows;
         }();
}

std::optional<BackupRecord> ReadRecordText(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kRecordHeading) {
    return std::nullopt;
  }
  BackupRecord record;
  bool name = false;
  bool size = false;
  bool written = false;
  bool verified = false;
  while (std::getline(lines, line)) {
    const auto colon = line.find(": ");
    if (colon == std::string::npos) {
      continue;
    }
    const std::string key = line.substr(0, colon);
    const std::string value = line.substr(colon + 2);
    const auto number = [&value](auto& into) {
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), into);
      return error == std::errc() && end == value.data() + value.size();
    };
    if (key == "backup") {
      record.file_name = value;
      name = !value.empty();
    } else if (key == "tamanho") {
      size = number(record.size);
    } else if (key == "gravado") {
      written = number(record.written);
    } else if (key == "verificado") {
      record.verified = value == "sim";
      verified = value == "sim" || value == "não";
    } else if (const auto blank = value.find(' ');
               key == "linhas" && blank != std::string::npos && blank + 1 < value.size()) {
      std::uint64_t count = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + blank, count);
      if (error == std::errc() && end == value.data() + blank) {
        record.rows[value.substr(blank + 1)] = count;
      }
    }
  }
  if (!name || !size || !written || !verified) {
    return std::nullopt;
  }
  return record;
}

void WriteRecord(const std::string& backup, const BackupRecord& record) {
  const std::string target = RecordPath(backup);
  const std::string temporary = target + ".~novo";
  try {
    {
      std::ofstream out(fs::path(temporary), std::ios::binary | std::ios::trunc);
      out << RecordText(record);
      out.close();
      if (!out) {
        throw std::system_error(std::make_error_code(std::errc::io_error));
      }
    }
    tolvan::platform::ReplaceDurably(temporary, target);
  } catch (const std::system_error& error) {
    tolvan::platform::RemoveFile(temporary);
    throw std::runtime_error("o backup " + backup + " foi gravado, mas o registro " + target +
                             " não (" + tolvan::support::FileErrorReason(error) +
                             "): sem ele a rotação não remove nada desse nome");
  }
}

std::vector<DatedBackup> ListDatedBackups(const std::string& path) {
  std::vector<DatedBackup> backups;
  std::error_code error;
  for (fs::directory_iterator it(fs::path(FolderOf(path)), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    const bool failed = EndsWith(name, kUnverifiedSuffix);
    const std::string dated_name =
        failed ? name.substr(0, name.size() - std::string(kUnverifiedSuffix).size()) : name;
    const auto stamp = StampOf(path, dated_name);
    const std::string full = Beside(path, name);
    if (!stamp || !tolvan::platform::IsPlainFile(full)) {
      continue;
    }
    DatedBackup backup{full, *stamp, SizeOf(full).value_or(0), std::nullopt, failed};
    if (!failed) {
      const auto record = ReadRecordOf(full);
      if (record && record->file_name == name && record->size == backup.size) {
        backup.record = record;
      }
    }
    backups.push_back(std::move(backup));
  }
  // By the date in the name: the local time of each run's start.
  std::sort(backups.begin(), backups.end(), [](const DatedBackup& a, const DatedBackup& b) {
    return a.stamp != b.stamp ? a.stamp > b.stamp : a.path > b.path;
  });
  return backups;
}

std::vector<std::string> BackupsBeyond(const std::vector<DatedBackup>& newest_first,
                                       std::size_t keep, const std::string& written) {
  std::vector<std::string> beyond;
  std::size_t ours = 0;
  bool verified_kept = false;
  for (const DatedBackup& backup : newest_first) {
    if (!backup.record || backup.failed_verification) {
      continue;
    }
    ++ours;
    const bool newest_verified = backup.record->verified && !verified_kept;
    verified_kept = verified_kept || backup.record->verified;
    // The backup just written stays whatever its name says (a clock put back an hour).
    if (ours > keep && !newest_verified && backup.path != written) {
      beyond.push_back(backup.path);
    }
  }
  return beyond;
}

Rotation KeepNewest(const std::string& path, const std::string& written, std::size_t keep,
                    bool verified, const std::map<std::string, std::uint64_t>& rows) {
  const auto size = SizeOf(written);
  if (!size) {
    throw std::runtime_error("o backup " + written + " não está mais lá para ser registrado");
  }
  WriteRecord(written, BackupRecord{fs::path(written).filename().string(), *size,
                                    static_cast<std::int64_t>(std::time(nullptr)), verified, rows});
  Rotation rotation;
  const std::vector<DatedBackup> backups = ListDatedBackups(path);
  for (const DatedBackup& backup : backups) {
    rotation.kept += backup.record && !backup.failed_verification ? 1 : 0;
  }
  for (const std::string& old : BackupsBeyond(backups, keep, written)) {
    const std::string name = fs::path(old).filename().string();
    std::error_code error;
    if (fs::remove(fs::path(old), error) && !error) {
      tolvan::platform::RemoveFile(RecordPath(old));
      rotation.removed.push_back(name);
      --rotation.kept;
    } else {
      rotation.failed.push_back(name + " (" +
                                (error ? error.message() : std::string("não estava lá")) + ")");
    }
  }
  return rotation;
}

std::string RotationLine(std::size_t keep, const Rotation& rotation) {
  std::string line = "Rotação (--keep " + std::to_string(keep) + "): ";
  if (rotation.removed.empty()) {
    line += "nada a remover";
  } else {
    line += rotation.removed.size() == 1 ? "removido " : "removidos ";
    for (std::size_t i = 0; i < rotation.removed.size(); ++i) {
      line += (i == 0 ? "" : ", ") + rotation.removed[i];
    }
  }
  line += rotation.kept == 1 ? "; fica 1 backup do tolvan"
                             : "; ficam " + std::to_string(rotation.kept) + " backups do tolvan";
  if (!rotation.failed.empty()) {
    line += "; não foi possível remover ";
    for (std::size_t i = 0; i < rotation.failed.size(); ++i) {
      line += (i == 0 ? "" : ", ") + rotation.failed[i];
    }
  }
  return line + "\n";
}

std::string ListingText(const std::vector<DatedBackup>& newest_first, std::size_t columns) {
  struct Row {
    std::string name;
    std::string size;
    std::string rest;
  };
  std::vector<Row> rows;
  std::size_t widest_name = 0;
  std::size_t widest_size = 0;
  for (const DatedBackup& backup : newest_first) {
    const std::string when =
        backup.record ? LocalDate(backup.record->written) : StampDate(backup.stamp);
    rows.push_back({fs::path(backup.path).filename().string(), FormatSize(backup.size),
                    when + "  " + StateOf(backup)});
    widest_name = std::max(widest_name, DisplayWidth(rows.back().name));
    widest_size = std::max(widest_size, DisplayWidth(rows.back().size));
  }
  bool table = true;
  for (const Row& row : rows) {
    table = table && widest_name + 2 + widest_size + 2 + DisplayWidth(row.rest) <= columns;
  }
  std::string text;
  for (const Row& row : rows) {
    const std::string size = std::string(widest_size - DisplayWidth(row.size), ' ') + row.size;
    if (table) {
      text += row.name + std::string(widest_name - DisplayWidth(row.name) + 2, ' ') + size + "  " +
              row.rest + "\n";
    } else {
      // Too narrow for a table: each name on a line of its own, what is known of it under it.
      text += Wrap("", row.name, columns, 0) + Wrap("    ", row.size + "  " + row.rest, columns, 4);
    }
  }
  return text;
}

}  // namespace tolvan::cli
