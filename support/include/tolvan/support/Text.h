// Text helpers the plug-ins share: blanks, letter case, doubled quotes, UTF-8 paths.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tolvan::support {

// Blanks and control characters (every byte up to the blank), as the host's own trim removes them.
bool IsBlankChar(char c);
// The text without its leading and trailing blanks and control characters.
std::string Trim(std::string_view text);
// Empty once blanks and control characters are left out.
bool IsBlank(std::string_view text);

// Equal when they differ at most in the case of the letters A to Z.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// The letters A to Z made small (AsciiLower) or a to z made capital (AsciiUpper); every other
// byte, those of an accented letter included, stays as it is.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// Every occurrence of quote doubled, so that the text stays inside its quotes or brackets.
std::string Doubled(std::string_view text, char quote);

// The text with CR LF added, unless it is empty or ends with a line break already.
std::string EndedWithLineBreak(std::string text);

// A server's version number as its version text: the decimal digits with "." inserted at
// positions 3, 8 and 11 (counted from 1 in the text each insertion leaves), appended where a
// position lies past the end: 150020000000 gives "15.0020.00.0000", 0 gives "0...".
std::string DottedVersion(int64_t number);

// UTF-8 text as a path that std::filesystem reads whole on every system (on Windows a plain
// std::string would be read in the narrow code page), and a path back as UTF-8 text.
std::filesystem::path Utf8Path(std::string_view text);
std::string PathText(const std::filesystem::path& path);

// True when the path names a folder (followed through a link).
bool IsFolder(std::string_view path);

}  // namespace tolvan::support
