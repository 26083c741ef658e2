// The SQL scripts embedded in the plug-in, looked up by name with letter case ignored.
#include <cctype>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "TolvanFirebirdUtil.h"
#include "tolvan/support/Text.h"

namespace tolvan::firebird {

std::string_view ScriptResource(std::string_view name, const EmbeddedScript* scripts,
                                std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (support::EqualsIgnoringCase(scripts[i].name, name)) {
      return {reinterpret_cast<const char*>(scripts[i].data), scripts[i].size};
    }
  }
  throw std::runtime_error("O plug-in não tem um script chamado \"" + std::string(name) + "\"");
}

std::string_view ScriptResource(std::string_view name) {
  return ScriptResource(name, kEmbeddedScripts, kEmbeddedScriptCount);
}

std::vector<std::string> ScriptLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace tolvan::firebird
