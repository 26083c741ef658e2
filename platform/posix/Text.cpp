#include "platform/Text.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

#include "common/Utf8.h"

namespace tolvan::platform {

std::string FromSystemCodePage(std::string_view bytes) {
  if (internal::IsValidUtf8(bytes)) {
    return std::string(bytes);
  }
  // Not UTF-8: read every byte as Latin-1, so nothing is lost.
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

std::string DecodeToolOutput(std::string_view bytes) {
  return SanitizeUtf8(bytes);
}

namespace {

bool CharacterTypeIsUtf8() {
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr &&
         (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

}  // namespace

std::optional<std::string> UseUtf8CharacterType() {
  if (const char* chosen = ::setlocale(LC_CTYPE, ""); chosen != nullptr && CharacterTypeIsUtf8()) {
    return std::string(chosen);
  }
  for (const char* name : {"C.UTF-8", "C.utf8"}) {
    if (const char* chosen = ::setlocale(LC_CTYPE, name);
        chosen != nullptr && CharacterTypeIsUtf8()) {
      return std::string(chosen);
    }
  }
  ::setlocale(LC_CTYPE, "C");
  return std::nullopt;
}

Utf8CharacterTypeScope::Utf8CharacterTypeScope() {
  if (CharacterTypeIsUtf8()) {
    return;
  }
  const locale_t current = ::uselocale(static_cast<locale_t>(0));
  const locale_t base =
      current == LC_GLOBAL_LOCALE ? ::duplocale(LC_GLOBAL_LOCALE) : ::duplocale(current);
  if (base == static_cast<locale_t>(0)) {
    return;
  }
  locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
  if (utf8 == static_cast<locale_t>(0)) {
    ::freelocale(base);
    return;
  }
  previous_ = current;
  own_ = utf8;
  ::uselocale(utf8);
}

Utf8CharacterTypeScope::~Utf8CharacterTypeScope() {
  if (own_ != nullptr) {
    ::uselocale(static_cast<locale_t>(previous_));
    ::freelocale(static_cast<locale_t>(own_));
  }
}

}  // namespace tolvan::platform
