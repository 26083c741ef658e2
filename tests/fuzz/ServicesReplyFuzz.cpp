// libFuzzer target: the services query's reply parser and parameter block builder on any bytes.
// A parse may fail with its message; it must never read outside the reply or crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "TolvanFirebirdUtil.h"

namespace {

// As the client decodes them: little-endian, the last byte signed.
int32_t VaxInteger(const char* p, int16_t n) {
  if (n <= 0 || n > 4) {
    return 0;
  }
  int32_t value = 0;
  for (int i = 0; i + 1 < n; ++i) {
    value += static_cast<int32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  return value + static_cast<int32_t>(static_cast<uint32_t>(static_cast<signed char>(p[n - 1]))
                                      << (8 * (n - 1)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Only the bytes given: the sanitizer sees any read past them.
  const std::string reply(bytes);
  tolvan::firebird::DatabasesReply out;
  try {
    tolvan::firebird::ParseDatabasesReply(reply, VaxInteger, out);
  } catch (const std::runtime_error&) {
  }

  std::vector<std::string> params;
  std::size_t start = 0;
  while (start <= bytes.size()) {
    const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
    params.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  try {
    const std::string block = tolvan::firebird::BuildServiceParameterBlock(params);
    if (block.size() < 2) {
      __builtin_trap();
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
