#include "platform/Text.h"

#include "common/Utf8.h"

namespace tolvan::platform {

namespace internal {

std::size_t ValidUtf8SequenceLength(std::string_view bytes, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length;
  unsigned char low = 0x80;   // allowed range of the second byte: excludes overlong forms,
  unsigned char high = 0xBF;  // surrogates and code points above U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) {
      low = 0xA0;
    } else if (lead == 0xED) {
      high = 0x9F;
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) {
      low = 0x90;
    } else if (lead == 0xF4) {
      high = 0x8F;
    }
  } else {
    return 0;
  }
  if (at + length > bytes.size()) {
    return 0;
  }
  if (byte(at + 1) < low || byte(at + 1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
      return 0;
    }
  }
  return length;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t length = ValidUtf8SequenceLength(bytes, i);
    if (length == 0) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace internal

std::string SanitizeUtf8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t length = internal::ValidUtf8SequenceLength(bytes, i);
    if (length == 0) {
      text += kReplacement;
      ++i;
    } else {
      text.append(bytes.substr(i, length));
      i += length;
    }
  }
  return text;
}

std::optional<std::u32string> DecodeUtf8(std::string_view bytes) {
  std::u32string out;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = internal::ValidUtf8SequenceLength(bytes, at);
    if (length == 0) {
      return std::nullopt;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = byte(0) & kLeadMask[length];
    for (std::size_t i = 1; i < length; ++i) {
      c = (c << 6) | (byte(i) & 0x3F);
    }
    out += c;
    at += length;
  }
  return out;
}

}  // namespace tolvan::platform
