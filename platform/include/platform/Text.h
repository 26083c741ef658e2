// Text conversions at the edges of the system: all texts inside are UTF-8.
#pragma once

#include <optional>
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

// The code points of a UTF-8 text; nullopt when it is not valid UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
TOLVAN_PLATFORM_API std::optional<std::u32string> DecodeUtf8(std::string_view bytes);

// Makes the program's character classification (LC_CTYPE) UTF-8, so that libraries that convert
// file names by it (the Firebird client does, for every database path and user name) take our
// UTF-8 texts as they are. On POSIX the environment's locale is used when it is UTF-8, "C.UTF-8"
// otherwise, and when the environment names none; the other categories stay "C", so numbers are
// read and written with a point whatever the environment. Returns the locale now in effect for
// LC_CTYPE, or nullopt when none UTF-8 could be set. Windows changes nothing and gives nullopt:
// the client converts there through the system's own calls. A program calls it once, at start,
// before any thread.
TOLVAN_PLATFORM_API std::optional<std::string> UseUtf8CharacterType();

// For its lifetime, the calling thread classifies characters as UTF-8 ("C.UTF-8") when the
// program's LC_CTYPE is not UTF-8 (a host that never set a locale); nothing changes when it is,
// and nothing on Windows. The Firebird client picks its file-name conversion on its first call by
// the calling thread's locale and keeps it: calls into it go inside one of these, so accented
// paths open in any host.
class TOLVAN_PLATFORM_API Utf8CharacterTypeScope {
 public:
  Utf8CharacterTypeScope();
  ~Utf8CharacterTypeScope();
  Utf8CharacterTypeScope(const Utf8CharacterTypeScope&) = delete;
  Utf8CharacterTypeScope& operator=(const Utf8CharacterTypeScope&) = delete;

 private:
  void* own_ = nullptr;       // the UTF-8 locale this scope made, or null
  void* previous_ = nullptr;  // the thread's locale before it
};

}  // namespace tolvan::platform
