// Tar archives for tests, made as pg_dump -F t writes them: ustar headers with octal fields
// ended by a blank, the checksum as six octal digits, a NUL and a blank, data padded to whole
// 512-byte blocks, two zero blocks at the end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace tolvan::testing {

// Writes the header's checksum.
inline void SealTarHeader(std::string& header) {
  std::memset(header.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (const char c : header) {
    sum += static_cast<unsigned char>(c);
  }
  std::snprintf(header.data() + 148, 8, "%06o", sum);
  header[155] = ' ';
}

inline std::string TarHeader(const std::string& name, std::uint64_t size, char type = '0',
                             const std::string& prefix = "") {
  std::string h(512, '\0');
  name.copy(h.data(), std::min<std::size_t>(name.size(), 100));
  std::snprintf(h.data() + 100, 8, "%07o", 0600u);
  h[107] = ' ';
  std::snprintf(h.data() + 124, 13, "%011llo", static_cast<unsigned long long>(size));
  h[135] = ' ';
  std::snprintf(h.data() + 136, 13, "%011o", 0u);
  h[147] = ' ';
  h[156] = type;
  std::memcpy(h.data() + 257,
              "ustar\0"
              "00",
              8);
  prefix.copy(h.data() + 345, 155);
  SealTarHeader(h);
  return h;
}

inline std::string TarPadded(const std::string& data) {
  return data + std::string((512 - data.size() % 512) % 512, '\0');
}

inline std::string TarMemberOf(const std::string& name, const std::string& data) {
  return TarHeader(name, data.size()) + TarPadded(data);
}

inline const std::string kTarEnd(1024, '\0');

// A small dump of the shape pg_dump gives: its table of contents, one table's data, an empty
// table's, the script.
inline std::string SampleDump() {
  return TarMemberOf("toc.dat", "PGDMP" + std::string(700, 't')) +
         TarMemberOf("3348.dat", std::string(1500, 'd') + "\\.\n\n") +
         TarMemberOf("3349.dat", "\\.\n\n") + TarMemberOf("restore.sql", "-- script\n") + kTarEnd;
}

}  // namespace tolvan::testing
