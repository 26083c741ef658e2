// libFuzzer target: the version read of a file (the Firebird build tag inside it) on any bytes.
// The version read is empty or four or more dotted numbers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "vesk/VeskPackBase5.h"

namespace {

bool DottedNumbers(const std::string& v) {
  int dots = 0;
  bool digit = false;
  for (char c : v) {
    if (c == '.') {
      if (!digit) {
        return false;
      }
      ++dots;
      digit = false;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  return dots >= 3 && digit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    std::string p = "/tmp/tolvan-version-tag-fuzz-" + std::to_string(getpid()) + ".bin";
    std::atexit([] { std::remove(path.c_str()); });
    return p;
  }();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::string version = GetVersao(path, false);
  if (!version.empty() && !DottedNumbers(version)) {
    std::abort();
  }
  return 0;
}
