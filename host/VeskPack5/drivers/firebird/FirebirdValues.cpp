#include "firebird/FirebirdValues.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace vesk::firebird {

std::string FormatScaled(int64_t value, int scale) {
  if (scale >= 0) {
    std::string text = std::to_string(value);
    if (value != 0) {
      text.append(static_cast<size_t>(scale), '0');
    }
    return text;
  }
  const bool negative = value < 0;
  // Through the unsigned magnitude so that INT64_MIN does not overflow.
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  const size_t places = static_cast<size_t>(-scale);
  if (digits.size() <= places) {
    digits.insert(0, places - digits.size() + 1, '0');
  }
  digits.insert(digits.size() - places, 1, '.');
  return negative ? "-" + digits : digits;
}

std::string FormatDate(int32_t days) {
  // Howard Hinnant's civil-from-days, from the 1970-01-01 epoch (day 40587 of the client's).
  int64_t z = static_cast<int64_t>(days) - 40587 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) {
    ++year;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day));
  return buffer;
}

std::string FormatTime(uint32_t ticks) {
  const uint32_t seconds = ticks / 10000;
  const uint32_t fraction = ticks % 10000;
  char buffer[64];
  if (fraction == 0) {
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u.%04u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60, fraction);
  }
  return buffer;
}

namespace {
template <typename T>
std::string Shortest(T value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}
}  // namespace

std::string FormatDouble(double value) {
  return Shortest(value);
}
std::string FormatFloat(float value) {
  return Shortest(value);
}

std::vector<std::string> ParseVersionStrings(std::string_view item) {
  std::vector<std::string> strings;
  if (item.empty()) {
    return strings;
  }
  size_t count = static_cast<unsigned char>(item[0]);
  size_t pos = 1;
  while (count-- > 0 && pos < item.size()) {
    size_t length = static_cast<unsigned char>(item[pos++]);
    if (pos + length > item.size()) {
      length = item.size() - pos;
    }
    strings.emplace_back(item.substr(pos, length));
    pos += length;
  }
  return strings;
}

int64_t EncodeServerVersion(std::string_view version) {
  auto dash = version.find('-');
  if (dash == std::string_view::npos || dash + 2 >= version.size()) {
    return 0;
  }
  // After the platform and the build kind letter: major.minor.release.build
  const char* p = version.data() + dash + 2;
  const char* end = version.data() + version.size();
  int64_t parts[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    auto [next, ec] = std::from_chars(p, end, parts[i]);
    if (ec != std::errc() || parts[i] < 0) {
      return 0;
    }
    p = next;
    if (i < 3) {
      if (p == end || *p != '.') {
        return 0;
      }
      ++p;
    }
  }
  if (parts[1] > 999 || parts[2] > 999 || parts[3] > 999999) {
    return 0;
  }
  return parts[0] * 1000000000000LL + parts[1] * 1000000000LL + parts[2] * 1000000LL + parts[3];
}

std::string QuoteSqlLiteral(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size());
  for (char c : text) {
    quoted += c;
    if (c == '\'') {
      quoted += '\'';
    }
  }
  return quoted;
}

}  // namespace vesk::firebird
