#include "Help.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Console.h"
#include "DefaultDatabase.h"
#include "ExportTable.h"
#include "Plugin.h"
#include "Rotation.h"
#include "StatusText.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"

namespace tolvan::cli {
namespace {

// Options in a column of their own on a wide terminal; on a narrow one the meaning goes under the
// name.
std::string OptionLine(const OptionHelp& option, std::size_t columns,
                       const char* meaning = nullptr) {
  std::string left = std::string("  ") + option.name;
  if (option.value != nullptr) {
    left += std::string(" ") + option.value;
  }
  constexpr std::size_t kColumn = 30;
  if (meaning == nullptr) {
    meaning = option.meaning;
  }
  if (columns < 60) {
    return left + "\n" + Wrap("      ", meaning, columns, 6);
  }
  const std::size_t width = DisplayWidth(left);
  left += std::string(width < kColumn ? kColumn - width : 1, ' ');
  return Wrap(left, meaning, columns, kColumn);
}

std::string ExportArguments(const ExportOptions& options) {
  std::string arguments;
  for (const std::string& option : options.required) {
    arguments += " " + option;
  }
  for (const std::string& option : options.optional) {
    arguments += " [" + option + "]";
  }
  return arguments;
}

std::string ExportLine(const std::string& name, const ExportOptions& options, std::size_t columns) {
  std::string head = "  " + name;
  head += std::string(name.size() < 20 ? 20 - name.size() : 1, ' ');
  std::string text = options.description;
  const std::string arguments = ExportArguments(options);
  if (!arguments.empty()) {
    text += ":" + arguments;
  }
  return Wrap(head, text, columns, columns < 60 ? 6 : 22);
}

// The connection options a plug-in of that kind reads: --odbc is for the plug-ins that reach
// their servers through ODBC, the client library and its version for Firebird's, --driver only
// for a library whose kind its name does not tell.
bool ConnectionOptionApplies(PluginKind kind, const std::string& option) {
  switch (kind) {
    case PluginKind::Firebird:
      return option != "--odbc" && option != "--driver";
    case PluginKind::PostgreSQL:
      return option == "--database" || option == "--user" || option == "--password";
    case PluginKind::Oracle:
    case PluginKind::MSSQL:
      return option == "--database" || option == "--user" || option == "--password" ||
             option == "--odbc";
    case PluginKind::Unknown:
      break;
  }
  return true;
}

// What --database names for a plug-in of that kind; `export_name` empty: for all its exports.
std::string DatabaseMeaning(PluginKind kind, const std::string& export_name) {
  switch (kind) {
    case PluginKind::Firebird:
      return std::string(
                 "banco de dados: caminho (o banco embutido), servidor:caminho ou "
                 "servidor/porta:caminho") +
             (export_name.empty() || export_name == "Restore" ? " (Restore: o banco a criar)" : "");
    case PluginKind::PostgreSQL:
      return "banco de dados: servidor/porta:banco (servidor:banco usa a porta 5432)";
    case PluginKind::Oracle:
    case PluginKind::MSSQL:
      return "banco de dados, quando a conexão não vem por --odbc";
    case PluginKind::Unknown:
      break;
  }
  return {};
}

// A value to show in an example, by option.
std::string ExampleValue(PluginKind kind, const std::string& option) {
  const bool postgres = kind == PluginKind::PostgreSQL;
  if (option == "--database") {
    return postgres ? "localhost/5432:loja" : "localhost:/dados/loja.fdb";
  }
  if (option == "--file") {
    return postgres ? "loja.backup" : "loja.fbk";
  }
  if (option == "--target") {
    return postgres ? "loja_nova" : "/dados/loja-nova.fdb";
  }
  if (option == "--server") {
    return "localhost";
  }
  if (option == "--port") {
    return postgres ? "5432" : "3050";
  }
  if (option == "--sql") {
    return "'select * from clientes'";
  }
  if (option == "--user-name") {
    return "JOAO";
  }
  if (option == "--group-name") {
    return "VENDAS";
  }
  if (option == "--user-password" || option == "--new-password") {
    return "\"$SENHA\"";
  }
  if (option == "--new-user") {
    return postgres ? "postgres" : "SYSDBA";
  }
  return "x";
}

// An option's line in the help of a plug-in of that kind, for one of its exports or
// (`export_name` empty) for all of them: what --database names depends on both, and --keep's
// example is a dated name of the plug-in's backup file.
std::string OptionLineFor(PluginKind kind, const OptionHelp& option, std::size_t columns,
                          const std::string& export_name = {}) {
  std::string meaning;
  if (std::string(option.name) == "--database") {
    meaning = DatabaseMeaning(kind, export_name);
  } else if (std::string(option.name) == "--keep") {
    meaning = option.meaning;
    const std::string dated =
        DatedPath(ExampleValue(kind, "--file"), BackupStamp{2026, 12, 9, 2, 30, 1});
    meaning.replace(meaning.find("{datado}"), 8, dated);
  }
  return OptionLine(option, columns, meaning.empty() ? nullptr : meaning.c_str());
}

const OptionHelp* FindOption(const std::string& name) {
  for (const OptionHelp& option : AllOptions()) {
    if (option.name == name) {
      return &option;
    }
  }
  return nullptr;
}

// How far an example's continued lines are indented.
constexpr std::size_t kExampleIndent = 4;

// One line on which of two neighbouring exports to take.
std::string WhenToUse(const std::string& name) {
  if (name == "Backup" || name == "BackupConn") {
    return "Backup roda gbak direto com --database, --user e a senha, sem abrir conexão; "
           "BackupConn abre antes a conexão do host (e confere a senha) e faz o backup do banco "
           "dela.";
  }
  if (name == "Restore" || name == "RestoreConn") {
    return "Restore cria o banco de --database a partir do backup, sem conexão; RestoreConn abre "
           "a conexão de --database e restaura num novo banco, --target, no servidor dela.";
  }
  return "";
}

std::string ExitStatuses(std::size_t columns) {
  std::string text = "\nSituação de saída:\n";
  for (const auto& [status, meaning] :
       {std::pair{"  0", "concluída"},
        std::pair{"  1", "a exportação ou a conexão falhou (a mensagem sob \"erro:\")"},
        std::pair{"  2", "linha de comando inválida (a mensagem e o uso)"},
        std::pair{" 75",
                  "com --no-wait, outra execução gravava o mesmo arquivo de backup: nada foi "
                  "feito"},
        std::pair{"129", "interrompida por SIGHUP (o terminal fechou)"},
        std::pair{"130", "interrompida por SIGINT (Ctrl-C)"},
        std::pair{"143", "interrompida por SIGTERM"}}) {
    text += Wrap(std::string("  ") + status + "  ", meaning, columns, 7);
  }
  return text;
}

std::string ExportHelp(const std::string& plugin, PluginKind kind, const std::string& name,
                       const ExportOptions& options, std::size_t columns) {
  std::string text =
      Wrap("", "tolvan " + plugin + " " + name + ": " + options.description + ".", columns, 0);
  if (const std::string when = WhenToUse(name); !when.empty()) {
    text += Wrap("", when, columns, 0);
  }
  const auto section = [&](const char* title, const std::vector<std::string>& names) {
    if (names.empty()) {
      return;
    }
    text += std::string("\n") + title + ":\n";
    for (const std::string& option : names) {
      if (const OptionHelp* help = FindOption(option)) {
        text += OptionLineFor(kind, *help, columns, name);
      }
    }
  };
  section("Opções que ela pede", options.required);
  std::vector<std::string> optional = options.optional;
  if (options.connection) {
    for (const OptionHelp& option : AllOptions()) {
      const std::string option_name = option.name;
      if (IsConnectionOption(option_name) && ConnectionOptionApplies(kind, option_name) &&
          std::find(options.required.begin(), options.required.end(), option_name) ==
              options.required.end()) {
        optional.push_back(option_name);
      }
    }
  }
  optional.insert(optional.end(), EverywhereOptions().begin(), EverywhereOptions().end());
  section("Opções que ela aceita", optional);
  // The example is a command to copy: it is broken only between arguments, each line but the last
  // continued by " \\", and an option stays on one line with its value when they fit together.
  std::vector<std::string> pieces;
  for (const std::string& option : options.required) {
    const std::string value = ExampleValue(kind, option);
    if (kExampleIndent + DisplayWidth(option) + 1 + DisplayWidth(value) + 2 <= columns) {
      pieces.push_back(option + " " + value);
    } else {
      pieces.push_back(option);
      pieces.push_back(value);
    }
  }
  std::string line = "  tolvan " + plugin + " " + name;
  text += "\nExemplo:\n";
  for (const std::string& piece : pieces) {
    if (DisplayWidth(line) + 1 + DisplayWidth(piece) + 2 <= columns) {
      line += " " + piece;
    } else {
      text += line + " \\\n";
      line = std::string(kExampleIndent, ' ') + piece;
    }
  }
  text += line + "\n";
  return text + ExitStatuses(columns);
}

}  // namespace

std::string Usage() {
  const std::size_t columns = OutputColumns();
  std::string usage;
  for (const char* line :
       {"tolvan <plug-in> <Exportação> [opções]", "tolvan <plug-in> [<Exportação>] --help",
        "tolvan tour", "tolvan --version"}) {
    usage += Wrap(usage.empty() ? "uso: " : "     ", line, columns, 7);
  }
  return usage;
}

void PrintHelp(const std::string& plugin, const std::string& export_name, std::ostream& out) {
  const std::size_t columns = OutputColumns();
  std::vector<std::string> names(tolvan::kExportNames.begin(), tolvan::kExportNames.end());
  PluginKind kind = PluginKind::Unknown;
  bool any_connection = true;
  const bool family = plugin.empty() || plugin == "tour";
  std::string path;
  if (!family) {
    const PluginRef ref = ResolvePlugin(plugin, tolvan::platform::ExecutableDirectory());
    kind = ref.kind;
    path = ref.path;
    auto library = tolvan::platform::DynamicLibrary::Load(ref.path);
    names = OfferedExports(*library);
    if (!export_name.empty()) {
      const auto offered = std::find(names.begin(), names.end(), export_name);
      if (offered == names.end()) {
        const auto nearest = Nearest(export_name, names);
        throw UsageError("o plug-in " + plugin + " não oferece " + export_name +
                         (nearest ? "; você quis dizer \"" + *nearest + "\"?" : std::string()));
      }
      out << ExportHelp(plugin, kind, export_name, *OptionsOf(kind, export_name), columns);
      return;
    }
  }
  out << Usage();
  if (family) {
    out << Wrap("\n",
                "tolvan chama as exportações dos plug-ins de administração de bancos "
                "(firebird, postgresql, oracle, mssql) pela linha de comando. \"tolvan "
                "<plug-in> --help\" lista as de um plug-in, \"tolvan <plug-in> <Exportação> "
                "--help\" explica uma com um exemplo.",
                columns, 0);
    out << "\n"
        << Wrap("", "Exportações da família (cada plug-in oferece parte delas):", columns, 0);
  } else {
    out << "\n" << Wrap("", "Exportações de " + path + ":", columns, 0);
  }
  std::vector<std::string> used;
  any_connection = false;
  bool any_backup = false;
  for (const std::string& name : names) {
    const auto options = OptionsOf(kind, name);
    out << ExportLine(name, *options, columns);
    any_connection = any_connection || options->connection;
    any_backup = any_backup || options->Takes("--keep");
    used.insert(used.end(), options->required.begin(), options->required.end());
    used.insert(used.end(), options->optional.begin(), options->optional.end());
  }
  if (any_backup && !family) {
    out << "\n"
        << Wrap("", "E do próprio tolvan, não do plug-in:", columns, 0)
        << ExportLine(kListBackups,
                      ExportOptions{"os backups datados de --file que --keep grava: tamanho, data "
                                    "e se cada um foi verificado",
                                    false,
                                    {"--file"},
                                    {}},
                      columns);
  }
  const auto is_used = [&used](const std::string& option) {
    return std::find(used.begin(), used.end(), option) != used.end();
  };
  if (any_connection) {
    out << "\nOpções de conexão:\n";
    for (const OptionHelp& option : AllOptions()) {
      if (IsConnectionOption(option.name) && ConnectionOptionApplies(kind, option.name)) {
        out << OptionLineFor(kind, option, columns);
      }
    }
  }
  out << "\nOpções das exportações:\n";
  for (const OptionHelp& option : AllOptions()) {
    const std::string name = option.name;
    if (!IsConnectionOption(name) &&
        (is_used(name) || std::find(EverywhereOptions().begin(), EverywhereOptions().end(), name) !=
                              EverywhereOptions().end())) {
      out << OptionLineFor(kind, option, columns);
    }
  }
  if (kind == PluginKind::Firebird || kind == PluginKind::Unknown) {
    std::string where;
    try {
      where = DefaultDatabasePath() + " (criado no primeiro uso)";
    } catch (const std::exception& e) {
      where = std::string("da pasta de dados do usuário, que aqui não se conhece: ") + e.what();
    }
    out << "\n"
        << Wrap("",
                "Sem --database, o plug-in Firebird trabalha no banco embutido " + where +
                    "; o backup, a restauração, a cópia e as mudanças de usuários pedem "
                    "--database.",
                columns, 0);
  }
  out << ExitStatuses(columns);
}

void PrintVersion(std::ostream& out) {
  out << "tolvan " << TOLVAN_VERSION << " (commit " << TOLVAN_COMMIT << ")\n";
  // The plug-ins beside the program are laid out by the same build.
  for (const char* word : {"firebird", "postgresql", "oracle", "mssql"}) {
    const PluginRef ref = ResolvePlugin(word, tolvan::platform::ExecutableDirectory());
    if (std::filesystem::exists(ref.path)) {
      out << "  " << std::filesystem::path(ref.path).filename().string() << " " << TOLVAN_VERSION
          << " (commit " << TOLVAN_COMMIT << ")\n";
    }
  }
}

}  // namespace tolvan::cli
