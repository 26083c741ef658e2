#include "Help.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "DefaultDatabase.h"
#include "ExportTable.h"
#include "Plugin.h"
#include "StatusText.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"

namespace tolvan::cli {
namespace {

std::string OptionLine(const OptionHelp& option) {
  std::string left = std::string("  ") + option.name;
  if (option.value != nullptr) {
    left += std::string(" ") + option.value;
  }
  const std::size_t width = DisplayWidth(left);
  left += std::string(width < 36 ? 36 - width : 1, ' ');
  return left + option.meaning + "\n";
}

std::string ExportLine(const std::string& name, const ExportOptions& options) {
  std::string line = "  " + name;
  line += std::string(name.size() < 20 ? 20 - name.size() : 1, ' ') + options.description;
  std::string arguments;
  for (const std::string& option : options.required) {
    arguments += " " + option;
  }
  for (const std::string& option : options.optional) {
    arguments += " [" + option + "]";
  }
  if (!arguments.empty()) {
    line += ":" + arguments;
  }
  return line + "\n";
}

}  // namespace

std::string Usage() {
  return "uso: tolvan <plug-in> <Exportação> [opções]\n"
         "     tolvan <plug-in> --help   (as exportações do plug-in e as opções de cada uma)\n"
         "     tolvan tour               (Versao e PegarUsuarios no banco embutido padrão)\n";
}

void PrintHelp(const std::string& plugin, std::ostream& out) {
  out << Usage();
  std::vector<std::string> names(tolvan::kExportNames.begin(), tolvan::kExportNames.end());
  PluginKind kind = PluginKind::Unknown;
  bool any_connection = true;
  if (!plugin.empty() && plugin != "tour") {
    const PluginRef ref = ResolvePlugin(plugin, tolvan::platform::ExecutableDirectory());
    kind = ref.kind;
    auto library = tolvan::platform::DynamicLibrary::Load(ref.path);
    names = OfferedExports(*library);
    out << "\nExportações de " << ref.path << ":\n";
  } else {
    out << "\nExportações da família (cada plug-in oferece parte delas):\n";
  }
  std::vector<std::string> used;
  any_connection = false;
  for (const std::string& name : names) {
    const auto options = OptionsOf(kind, name);
    out << ExportLine(name, *options);
    any_connection = any_connection || options->connection;
    used.insert(used.end(), options->required.begin(), options->required.end());
    used.insert(used.end(), options->optional.begin(), options->optional.end());
  }
  const auto is_used = [&used](const std::string& option) {
    return std::find(used.begin(), used.end(), option) != used.end();
  };
  if (any_connection) {
    out << "\nOpções de conexão:\n";
    for (const OptionHelp& option : AllOptions()) {
      if (IsConnectionOption(option.name)) {
        out << OptionLine(option);
      }
    }
  }
  out << "\nOpções das exportações:\n";
  for (const OptionHelp& option : AllOptions()) {
    const std::string name = option.name;
    if (!IsConnectionOption(name) &&
        (is_used(name) || name == "--yes" || name == "--quiet-result")) {
      out << OptionLine(option);
    }
  }
  if (kind == PluginKind::Firebird || kind == PluginKind::Unknown) {
    out << "\nSem --database, o plug-in Firebird trabalha no banco embutido ";
    try {
      out << DefaultDatabasePath() << " (criado no primeiro uso).\n";
    } catch (const std::exception& e) {
      out << "da pasta de dados do usuário, que aqui não se conhece: " << e.what() << "\n";
    }
  }
}

}  // namespace tolvan::cli
