// What a proven dump reads from text, and the names it gives the server and the tools.
#include <cstdio>
#include <regex>
#include <set>
#include <sstream>

#include "VerifyPostgres.h"
#include "tolvan/support/Quoting.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::cli {

void CopyRowCounter::Feed(std::string_view piece) {
  std::size_t begin = 0;
  while (!ended_ && begin < piece.size()) {
    const std::size_t end = piece.find('\n', begin);
    const std::string_view part =
        piece.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (line_bytes_ < 3) {
      line_head_.append(part.substr(0, 3 - line_bytes_));
    }
    line_bytes_ += part.size();
    if (end == std::string_view::npos) {
      return;
    }
    if (line_bytes_ == 2 && line_head_ == "\\.") {
      ended_ = true;
      return;
    }
    ++rows_;
    line_head_.clear();
    line_bytes_ = 0;
    begin = end + 1;
  }
}

std::uint64_t CopyRowCounter::Rows() const {
  const bool open_row = !ended_ && line_bytes_ > 0 && !(line_bytes_ == 2 && line_head_ == "\\.");
  return rows_ + (open_row ? 1 : 0);
}

std::uint64_t CountCopyRows(std::string_view data) {
  CopyRowCounter counter;
  counter.Feed(data);
  return counter.Rows();
}

std::vector<TocEntry> ReadTocListing(const std::string& listing) {
  // Every type whose name begins like one read here, longest first, so that "TABLE DATA" and
  // "TABLE ATTACH" are not read as "TABLE" of a schema "DATA" or "ATTACH".
  static const char* const kDescs[] = {"MATERIALIZED VIEW DATA",
                                       "SEQUENCE OWNED BY",
                                       "MATERIALIZED VIEW",
                                       "CHECK CONSTRAINT",
                                       "FK CONSTRAINT",
                                       "INDEX ATTACH",
                                       "SEQUENCE SET",
                                       "TABLE ATTACH",
                                       "TABLE DATA",
                                       "CONSTRAINT",
                                       "PROCEDURE",
                                       "FUNCTION",
                                       "SEQUENCE",
                                       "TRIGGER",
                                       "SCHEMA",
                                       "INDEX",
                                       "TABLE",
                                       "VIEW"};
  static const std::regex head("^([0-9]+); [0-9]+ [0-9]+ (.*)$");
  struct Line {
    int id;
    std::string desc;
    std::string tail;  // "<schema> <tag...> <owner>"
  };
  std::vector<Line> lines;
  std::set<std::string> schemas;
  std::istringstream in(listing);
  for (std::string text; std::getline(in, text);) {
    // A Windows pg_restore ends its lines with "\r\n".
    if (!text.empty() && text.back() == '\r') {
      text.pop_back();
    }
    std::smatch match;
    if (!std::regex_match(text, match, head)) {
      continue;
    }
    const std::string rest = match[2].str();
    for (const char* desc : kDescs) {
      const std::string d = desc;
      if (rest.rfind(d + " ", 0) != 0) {
        continue;
      }
      Line line{std::stoi(match[1].str()), d, rest.substr(d.size() + 1)};
      if (d == "SCHEMA") {
        // "- <name> <owner>"
        const auto owner_start = line.tail.rfind(' ');
        if (line.tail.rfind("- ", 0) == 0 && owner_start > 1) {
          schemas.insert(line.tail.substr(2, owner_start - 2));
        }
      } else {
        lines.push_back(std::move(line));
      }
      break;
    }
  }
  std::vector<TocEntry> entries;
  for (const Line& line : lines) {
    std::size_t schema_end = line.tail.find(' ');
    // The longest schema of the dump that the line begins with, when its name holds a blank.
    for (const std::string& schema : schemas) {
      if (schema.size() > schema_end && line.tail.rfind(schema + " ", 0) == 0) {
        schema_end = schema.size();
      }
    }
    const auto owner_start = line.tail.rfind(' ');
    if (schema_end == std::string::npos || owner_start == std::string::npos ||
        owner_start <= schema_end) {
      continue;
    }
    entries.push_back({line.id, line.desc, line.tail.substr(0, schema_end),
                       line.tail.substr(schema_end + 1, owner_start - schema_end - 1)});
  }
  return entries;
}

std::string AsciiTag(const std::string& name) {
  std::string tag;
  std::uint32_t hash = 2166136261u;
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (tag.size() < 16 && ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9'))) {
      tag += lower;
    }
  }
  char hex[5];
  std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(hash & 0xffffu));
  return tag + hex;
}

std::string ScratchDatabaseName(const std::string& machine_tag, std::uint64_t pid,
                                std::uint32_t random) {
  char tail[9];
  std::snprintf(tail, sizeof tail, "%08x", static_cast<unsigned>(random));
  return std::string(kScratchPrefix) + machine_tag + "_" + std::to_string(pid) + "_" + tail;
}

std::optional<ScratchNameParts> ReadScratchDatabaseName(const std::string& name) {
  static const std::regex shape("tolvan_verificar_([a-z0-9]{4,20})_([0-9]{1,20})_[0-9a-f]{8}");
  std::smatch match;
  if (!std::regex_match(name, match, shape)) {
    return std::nullopt;
  }
  try {
    return ScratchNameParts{match[1].str(), std::stoull(match[2].str())};
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

std::string ToolDatabaseArgument(const std::string& database) {
  const auto begins = [&database](std::string_view prefix) {
    if (database.size() < prefix.size()) {
      return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      const char c = database[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != prefix[i]) {
        return false;
      }
    }
    return true;
  };
  if (database.find('=') == std::string::npos && !begins("postgresql://") &&
      !begins("postgres://") && !begins("-")) {
    return "-d " + tolvan::support::QuoteArgument(database);
  }
  // The tools expand a connection string given as the database, and read the dbname of that
  // one as a plain name.
  std::string connection = "dbname='";
  for (const char c : database) {
    if (c == '\\' || c == '\'') {
      connection += '\\';
    }
    connection += c;
  }
  return tolvan::support::QuoteArgument("--dbname=" + connection + "'");
}

}  // namespace tolvan::cli
