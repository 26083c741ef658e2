// Text conversions at the edges of the system: all texts inside are UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/Export.h"

namespace tolvan::platform {

// Decodes bytes that should be UTF-8; each byte that is not part of a valid sequence becomes
// U+FFFD. Valid parts are kept as they are.
TOLVAN_PLATFORM_API std::string SanitizeUtf8(std::string_view bytes);

// Converts 8-bit text of the system code page (Windows: the ANSI code page; POSIX: UTF-8, with
// invalid bytes read as Latin-1) to UTF-8.
TOLVAN_PLATFORM_API std::string FromSystemCodePage(std::string_view bytes);

// Decodes a line a tool printed: as it is when it is valid UTF-8. Otherwise on Windows from the
// ANSI code page (GetACP), in which tools built on the C runtime's narrow calls get their
// arguments and print file names; on POSIX each byte that is not UTF-8 becomes U+FFFD.
TOLVAN_PLATFORM_API std::string DecodeToolOutput(std::string_view bytes);

}  // namespace tolvan::platform
