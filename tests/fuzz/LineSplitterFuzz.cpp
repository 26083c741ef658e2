// libFuzzer target: the runners' line splitter and the UTF-8 repair of tool output. Any cutting
// of a stream into chunks gives the same lines, which put together with their line ends give the
// stream back; the repair keeps valid UTF-8 as it is and always gives valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"
#include "tolvan/support/LineSplitter.h"

namespace {

struct Line {
  std::string text, end;
  bool operator==(const Line&) const = default;
};

std::vector<Line> Split(std::string_view stream, const uint8_t* cuts, std::size_t cut_count) {
  tolvan::support::detail::LineSplitter splitter;
  std::vector<Line> lines;
  auto on_line = [&](std::string_view text, std::string_view end) {
    lines.push_back({std::string(text), std::string(end)});
    return true;
  };
  std::size_t at = 0;
  for (std::size_t i = 0; i < cut_count && at < stream.size(); ++i) {
    const std::size_t length = std::min<std::size_t>(cuts[i], stream.size() - at);
    splitter.Feed(stream.substr(at, length), on_line);
    at += length;
  }
  splitter.Feed(stream.substr(at), on_line);
  splitter.Finish(on_line);
  return lines;
}

// A decoder of its own, strict as the standard: shortest forms only, no surrogates, at most
// U+10FFFF.
bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = b(i);
    std::size_t n;
    uint32_t cp;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      n = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      n = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      n = 4;
      cp = lead & 0x07;
    } else {
      return false;
    }
    if (i + n > s.size()) {
      return false;
    }
    for (std::size_t k = 1; k < n; ++k) {
      if ((b(i + k) & 0xC0) != 0x80) {
        return false;
      }
      cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The first bytes give the chunk lengths; the rest is the stream.
  const std::size_t cut_count = size == 0 ? 0 : data[0] % 8;
  if (size < 1 + cut_count) {
    return 0;
  }
  const std::string_view stream(reinterpret_cast<const char*>(data + 1 + cut_count),
                                size - 1 - cut_count);
  const std::vector<Line> whole = Split(stream, nullptr, 0);
  if (Split(stream, data + 1, cut_count) != whole) {
    std::abort();
  }
  std::string joined;
  for (const auto& line : whole) {
    if (line.text.find('\n') != std::string::npos) {
      std::abort();
    }
    joined += line.text + line.end;
  }
  if (joined != stream) {
    std::abort();
  }

  const std::string repaired = tolvan::platform::SanitizeUtf8(stream);
  if (!ValidUtf8(repaired) || (ValidUtf8(stream) && repaired != stream)) {
    std::abort();
  }
  return 0;
}
