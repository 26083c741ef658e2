// Conversions between the Firebird client's binary values and text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::firebird {

// An exact number stored as value * 10^scale (scale <= 0), e.g. (12345, -2) -> "123.45".
std::string FormatScaled(int64_t value, int scale);
// Days since 1858-11-17 -> "YYYY-MM-DD".
std::string FormatDate(int32_t days);
// Ten-thousandths of a second since midnight -> "HH:MM:SS", with ".ffff" when not whole.
std::string FormatTime(uint32_t ticks);
std::string FormatDouble(double value);
std::string FormatFloat(float value);

// The strings of an isc_info_firebird_version reply item (count byte, then length + text each).
std::vector<std::string> ParseVersionStrings(std::string_view item);

// The server version of a build tag such as "LI-V3.0.11.33637 Firebird 3.0", encoded as
// major * 10^12 + minor * 10^9 + release * 10^6 + build (3000011033637); 0 when unreadable.
int64_t EncodeServerVersion(std::string_view version);

// A text as an SQL string literal body: single quotes doubled.
std::string QuoteSqlLiteral(std::string_view text);

}  // namespace vesk::firebird
