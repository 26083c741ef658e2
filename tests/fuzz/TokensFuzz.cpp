// libFuzzer target: the toolkit's token functions on any text and separator. Each call must give
// back pieces that put together make the text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vesk/VeskPackBase5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  // The first byte says how long the separator is; it follows, then the text.
  const std::size_t sep_length = data[0] % 4;
  if (size < 1 + sep_length) {
    return 0;
  }
  const std::string sep(reinterpret_cast<const char*>(data + 1), sep_length);
  const std::string text(reinterpret_cast<const char*>(data + 1 + sep_length),
                         size - 1 - sep_length);

  std::string rest = text;
  const std::string first = PegarProximoToken(rest, sep);
  if (PegarProximoTokenSomente(text, sep) != first) {
    std::abort();
  }
  const bool found = !sep.empty() && text.find(sep) != std::string::npos;
  if ((found ? first + sep + rest : first) != text || (!found && !rest.empty())) {
    std::abort();
  }

  std::string before = text;
  const std::string last = PegarAnteriorToken(before, sep);
  if ((found ? before + sep + last : before) != text || (!found && !last.empty())) {
    std::abort();
  }

  const std::string literal = ValorParaSQL(text);
  if (literal.size() < 2 || literal.front() != '\'' || literal.back() != '\'') {
    std::abort();
  }
  if (TemDados("<", text, ">") != (text.empty() ? "" : "<" + text + ">")) {
    std::abort();
  }
  return 0;
}
