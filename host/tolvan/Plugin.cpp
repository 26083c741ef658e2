#include "Plugin.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "ExportTable.h"
#include "tolvan/Exports.h"
#include "vesk/host/Firebird.h"

namespace tolvan::cli {
namespace {

struct Known {
  const char* word;
  const char* file_stem;
  PluginKind kind;
};

constexpr Known kKnown[] = {
    {"firebird", "TolvanFirebird", PluginKind::Firebird},
    {"postgresql", "TolvanPostgreSQL", PluginKind::PostgreSQL},
    {"oracle", "TolvanOracle", PluginKind::Oracle},
    {"mssql", "TolvanMSSQL", PluginKind::MSSQL},
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

PluginRef ResolvePlugin(const std::string& word, const std::string& exe_dir) {
  for (const Known& k : kKnown) {
    if (Lower(word) == k.word) {
      return {exe_dir + k.file_stem + TOLVAN_LIBRARY_SUFFIX, k.kind};
    }
  }
  const bool is_path = word.find('/') != std::string::npos ||
                       word.find('\\') != std::string::npos ||
                       EndsWith(Lower(word), Lower(TOLVAN_LIBRARY_SUFFIX));
  if (!is_path) {
    std::vector<std::string> words;
    for (const Known& k : kKnown) {
      words.emplace_back(k.word);
    }
    const auto nearest = Nearest(word, words);
    throw UsageError("plug-in desconhecido \"" + word + "\"" +
                     (nearest ? "; você quis dizer " + *nearest + "?" : std::string()) +
                     " (dê firebird, postgresql, oracle, mssql ou o caminho de uma biblioteca de "
                     "plug-in)");
  }
  PluginRef ref{word, PluginKind::Unknown};
  const std::string stem = Lower(std::filesystem::path(word).stem().string());
  for (const Known& k : kKnown) {
    if (stem == Lower(k.file_stem)) {
      ref.kind = k.kind;
    }
  }
  return ref;
}

std::string DriverNameFor(PluginKind kind) {
  switch (kind) {
    case PluginKind::Firebird:
      return vesk::firebird::kDriverName;
    case PluginKind::PostgreSQL:
      return "PostgreSQL";
    case PluginKind::Oracle:
    case PluginKind::MSSQL:
      return "ODBC";
    case PluginKind::Unknown:
      break;
  }
  return "";
}

std::vector<std::string> OfferedExports(const tolvan::platform::DynamicLibrary& library) {
  std::vector<std::string> names;
  for (std::string_view name : tolvan::kExportNames) {
    if (library.Symbol(std::string(name)) != nullptr) {
      names.emplace_back(name);
    }
  }
  return names;
}

bool IsFamilyName(const std::string& name) {
  return std::find(tolvan::kExportNames.begin(), tolvan::kExportNames.end(), name) !=
         tolvan::kExportNames.end();
}

}  // namespace tolvan::cli
