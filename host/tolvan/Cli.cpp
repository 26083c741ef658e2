#include "Cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "BackupSeries.h"
#include "Console.h"
#include "ConsoleSinks.h"
#include "DefaultDatabase.h"
#include "ExportTable.h"
#include "Help.h"
#include "Host.h"
#include "Options.h"
#include "Plugin.h"
#include "PluginNeeds.h"
#include "Report.h"
#include "StatusText.h"
#include "Verify.h"
#include "platform/DynamicLibrary.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {
namespace {

// A day: what the connection limit takes.
constexpr int32_t kMaxConnectTimeout = 86400;

void AddOptions(CLI::App& app, Options& o) {
  app.add_option("plugin", o.plugin);
  app.add_option("export", o.export_name);
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);

  app.add_option("--database", o.database);
  app.add_option("--user", o.user);
  app.add_option("--password", o.password);
  app.add_option("--client-library", o.client_library);
  app.add_option("--expected-client-version", o.expected_client_version);
  app.add_option("--driver", o.driver);
  app.add_option("--odbc", o.odbc);
  app.add_option("--connect-timeout", o.connect_timeout);

  app.add_option("--sql", o.sql);
  app.add_option("--user-name", o.user_name);
  app.add_option("--user-password", o.user_password);
  app.add_option("--group-name", o.group_name);
  app.add_option("--first-name", o.first_name);
  app.add_option("--middle-name", o.middle_name);
  app.add_option("--last-name", o.last_name);
  app.add_option("--target", o.target);
  app.add_option("--new-user", o.new_user);
  app.add_option("--new-password", o.new_password);
  app.add_flag("--inactive-indexes", o.inactive_indexes);
  app.add_option("--server", o.server);
  app.add_option("--port", o.port);
  app.add_option("--file", o.file);
  app.add_flag("--service", o.service);
  app.add_flag("--circular", o.circular);
  app.add_flag("--quiet", o.quiet);
  app.add_flag("--metadata-only", o.metadata_only);
  app.add_option("--restore-password", o.restore_password);
  app.add_flag("--no-frame", o.no_frame);
  app.add_flag("--progress", o.progress);
  app.add_flag("--yes", o.yes);
  app.add_flag("--quiet-result", o.quiet_result);
  app.add_flag("--verify", o.verify);
  app.add_option("--keep", o.keep);
  app.add_flag("--no-wait", o.no_wait);
}

// The long names of the options given on the command line, --help left out.
std::vector<std::string> GivenOptions(const CLI::App& app) {
  std::vector<std::string> given;
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0 || option->get_lnames().empty()) {
      continue;
    }
    const std::string name = "--" + option->get_lnames().front();
    if (name != "--help") {
      given.push_back(name);
    }
  }
  return given;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsNumber(const std::string& text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end && !text.empty();
}

// What is wrong with a command line the parser refused, in the operator's words: the unknown
// option (with the nearest one), the option without its value, the value that is not a number,
// the word too many. Read off the options the parser knows, so that a new option is covered.
std::string ParseErrorText(const CLI::App& app, const std::vector<std::string>& args,
                           const CLI::ParseError& e) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    if (!option->get_lnames().empty()) {
      names.push_back("--" + option->get_lnames().front());
    }
  }
  const auto is_option = [&app](const std::string& word) {
    return word.size() > 1 && word[0] == '-' && !IsNumber(word) &&
           app.get_option_no_throw(word.substr(0, word.find('='))) != nullptr;
  };
  std::size_t positionals = 0;
  // The option whose value the word before was, if any.
  std::string value_of;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string after = std::exchange(value_of, std::string());
    if (arg.size() < 2 || arg[0] != '-' || IsNumber(arg)) {
      if (++positionals > 2) {
        // A password with a blank, given unquoted, leaves its second word here: not shown.
        if (after.find("password") != std::string::npos) {
          return "argumento a mais depois do valor de " + after +
                 " (um valor com espaços vai entre aspas)";
        }
        return "argumento a mais: \"" + arg + "\" (tolvan --help mostra o uso)";
      }
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const CLI::Option* option = app.get_option_no_throw(name);
    if (option == nullptr) {
      const auto nearest = Nearest(name, names);
      return "opção desconhecida " + name +
             (nearest ? "; você quis dizer " + *nearest + "?" : std::string());
    }
    if (option->get_type_size() == 0) {
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
      value_of = name;
    } else if (i + 1 < args.size() && !is_option(args[i + 1])) {
      value = args[++i];
      value_of = name;
    } else {
      return "a opção " + name + " precisa de um valor";
    }
    if (option->get_type_name() == "INT" && !IsNumber(value)) {
      return "a opção " + name + " espera um número inteiro, e \"" + value + "\" não é um";
    }
  }
  return std::string("linha de comando inválida (") + e.what() + ")";
}

// An option whose value is the name of another option ("--file --yes") lost its value: the parser
// would take the next option's name as the file to write.
std::optional<std::string> OptionWithoutValue(const CLI::App& app) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_type_size() == 0 || option->count() == 0 || option->get_lnames().empty()) {
      continue;
    }
    for (const std::string& value : option->results()) {
      if (value.size() > 2 && value.rfind("--", 0) == 0 &&
          app.get_option_no_throw(value.substr(0, value.find('='))) != nullptr) {
        return "a opção --" + option->get_lnames().front() + " precisa de um valor";
      }
    }
  }
  return std::nullopt;
}

// The Firebird exports that report a failure through the message box and the log, not by
// raising.
bool ReportsFailureBySinks(PluginKind kind, const std::string& name) {
  return kind == PluginKind::Firebird && (name == "CriarDataBase" || name == "CriarDataBaseFD");
}

std::string SignalName(int signal_number) {
  switch (signal_number) {
    case 1:
      return "SIGHUP";
    case 2:
      return "SIGINT";
    case 15:
      return "SIGTERM";
    default:
      return "sinal " + std::to_string(signal_number);
  }
}

// What the tour says under PegarUsuarios, wrapped to the terminal: what its lines are (the
// embedded engine gives its own sessions no address, and the server's query then makes the whole
// line empty), what the other plug-ins need, and where to go next.
std::string TourNote(std::size_t empty_lines, const std::string& other_plugins) {
  std::string note = "Cada linha é \"usuário em endereço no programa\".";
  if (empty_lines == 1) {
    note +=
        " A linha vazia é uma sessão deste processo no banco embutido: ela roda aqui dentro, "
        "sem endereço de rede, e sem endereço o servidor devolve a linha inteira vazia.";
  } else if (empty_lines > 1) {
    note += " As " + std::to_string(empty_lines) +
            " linhas vazias são sessões deste processo no banco embutido: elas rodam aqui dentro, "
            "sem endereço de rede, e sem endereço o servidor devolve a linha inteira vazia.";
  }
  // The empty lines counted are the only ones between the list and the note; without them one
  // sets the note apart. The next step on a line of its own, so that it is never broken.
  std::string text = empty_lines == 0 ? "\n" : "";
  text += Wrap("", note, OutputColumns(), 0);
  text += Wrap("", other_plugins, OutputColumns(), 0);
  text += "Próximo passo: tolvan firebird --help\n";
  return text;
}

int Interrupted(const std::string& what, std::chrono::steady_clock::time_point start,
                std::ostream& err) {
  const int signal_number = tolvan::platform::InterruptSignal();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  err << what << " interrompido (" << SignalName(signal_number) << ") depois de "
      << FormatDuration(elapsed) << ".\n";
  return 128 + signal_number;
}

int RunTour(const Options& o, std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  if (tolvan::platform::InterruptSignal() != 0) {
    return Interrupted("tour", start, err);
  }
  const PluginRef ref = ResolvePlugin("firebird", tolvan::platform::ExecutableDirectory());
  Options tour = o;
  tour.database.reset();
  tour.plugin = "firebird";
  Host host(tour, ref, out, err);
  host.Load();
  for (const char* name : {"Versao", "PegarUsuarios"}) {
    if (tolvan::platform::InterruptSignal() != 0) {
      return Interrupted("tour", start, err);
    }
    out << "== " << name << " ==\n";
    try {
      CallKeepingMessage([&] {
        // The first run creates the default database.
        host.SetUpDatabaseAndLogin(name);
        host.Call(name);
      });
    } catch (const Failure& e) {
      out.flush();
      if (tolvan::platform::InterruptSignal() != 0) {
        return Interrupted("tour", start, err);
      }
      err << ErrorBlock(e.what());
      if (!o.quiet_result) {
        err << "tour falhou em " << FormatDuration(std::chrono::steady_clock::now() - start)
            << "\n";
      }
      return kExitFailure;
    }
    if (std::string(name) == "PegarUsuarios") {
      out << TourNote(host.EmptyLinesListed(),
                      OtherPluginNeeds(ThisMachine(tolvan::platform::ExecutableDirectory())));
    }
  }
  if (tolvan::platform::InterruptSignal() != 0) {
    return Interrupted("tour", start, err);
  }
  if (!o.quiet_result) {
    err << "tour concluído em " << FormatDuration(std::chrono::steady_clock::now() - start) << "\n";
  }
  return kExitOk;
}

// The family's name of an export, whatever the case it was typed in ("backup" is "Backup").
std::string FamilyNameOf(const std::string& word) {
  for (const std::string_view name : tolvan::kExportNames) {
    if (Lower(std::string(name)) == Lower(word)) {
      return std::string(name);
    }
  }
  return word;
}

// What the plug-in offers in place of an export of the family it lacks.
std::optional<std::string> Counterpart(const std::string& name,
                                       const std::vector<std::string>& offered) {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> kCounterparts = {
      {"Backup", {"CriarBackup"}},
      {"BackupConn", {"CriarBackup"}},
      {"CriarBackup", {"Backup", "BackupConn"}},
      {"CriarDataBaseFD", {"CriarDataBase"}},
      {"CriarDataBase", {"CriarDataBaseFD"}},
  };
  for (const auto& [missing, instead] : kCounterparts) {
    if (missing != name) {
      continue;
    }
    for (const std::string& candidate : instead) {
      if (std::find(offered.begin(), offered.end(), candidate) != offered.end()) {
        return candidate;
      }
    }
  }
  return std::nullopt;
}

// The run of one export as the command line asks it, result line included; `run` may be changed
// by what goes around it (the dated name of a backup with --keep).
int CallExport(Host& host, const Options& run, PluginKind kind, std::ostream& out,
               std::ostream& err, ScopedConsoleSinks& sinks, const std::string& log);

int RunExport(const Options& o, const std::vector<std::string>& given, std::ostream& out,
              std::ostream& err, ScopedConsoleSinks& sinks, const std::string& log) {
  const PluginRef ref = ResolvePlugin(o.plugin, tolvan::platform::ExecutableDirectory());
  const PluginKind kind = ref.kind;
  if (o.export_name.empty()) {
    throw UsageError("diga a exportação a chamar (tolvan " + o.plugin + " --help lista as que há)");
  }
  Options run = o;
  run.export_name = FamilyNameOf(o.export_name);
  Host host(run, ref, out, err);
  host.Load();
  if (!IsFamilyName(run.export_name) || host.library().Symbol(run.export_name) == nullptr) {
    const std::vector<std::string> offered = OfferedExports(host.library());
    // Only what this plug-in offers is worth suggesting.
    const auto nearest = IsFamilyName(run.export_name) ? Counterpart(run.export_name, offered)
                                                       : Nearest(run.export_name, offered);
    throw UsageError((IsFamilyName(run.export_name)
                          ? "o plug-in " + o.plugin + " não oferece " + run.export_name
                          : "exportação desconhecida \"" + o.export_name + "\"") +
                     (nearest ? "; você quis dizer \"" + *nearest + "\"?" : std::string()) +
                     " (tolvan " + o.plugin + " --help lista as exportações)");
  }
  CheckOptions(kind, run.export_name, given);
  if (const auto name = LocalBackupName(kind, run)) {
    const auto start = std::chrono::steady_clock::now();
    return RunBackupSeries(
        *name, run, err, [&] { return CallExport(host, run, kind, out, err, sinks, log); },
        [&] { return Interrupted(run.export_name, start, err); });
  }
  return CallExport(host, run, kind, out, err, sinks, log);
}

int CallExport(Host& host, const Options& o, PluginKind kind, std::ostream& out, std::ostream& err,
               ScopedConsoleSinks& sinks, const std::string& log) {
  auto start = std::chrono::steady_clock::now();
  if (tolvan::platform::InterruptSignal() != 0) {
    return Interrupted(o.export_name, start, err);
  }
  if (WantsProvenBackup(o)) {
    return RunProvenBackup(host, o, kind, out, err,
                           [&] { return Interrupted(o.export_name, start, err); });
  }
  if (kind == PluginKind::Firebird) {
    RemoveVerificationLeftovers(o, err);
  }
  const auto elapsed = [&start] {
    return FormatDuration(std::chrono::steady_clock::now() - start);
  };
  const std::size_t boxes = sinks.MessageBoxes();
  // A failure shown in a message box is held and said once, under "erro:".
  sinks.HoldMessageBoxes(ReportsFailureBySinks(kind, o.export_name));
  std::string done;
  try {
    CallKeepingMessage([&] {
      host.SetUpDatabaseAndLogin(o.export_name);
      // The time at the password prompt is the operator's, not the run's.
      start = std::chrono::steady_clock::now();
      done = host.Call(o.export_name);
    });
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    host.FinishFrame(false);
    out.flush();
    if (tolvan::platform::InterruptSignal() != 0) {
      return Interrupted(o.export_name, start, err);
    }
    err << ErrorBlock(WithEmptyPasswordNote(o, kind, host, e.what()), host.PrintedLines());
    if (!o.quiet_result) {
      err << o.export_name << " falhou em " << elapsed() << "\n";
    }
    return kExitFailure;
  }
  host.FinishFrame(true);
  out.flush();
  if (tolvan::platform::InterruptSignal() != 0) {
    // The export ended before it saw the request: its work is whole, but the operator asked to
    // stop, and a script must learn of it.
    if (!o.quiet_result) {
      err << done << " em " << elapsed() << "\n";
    }
    return Interrupted(o.export_name, start, err);
  }
  // A failure is shown in a message box and logged; a creation that succeeded may show notes
  // (information messages), which are not counted.
  if (ReportsFailureBySinks(kind, o.export_name) && sinks.MessageBoxes() != boxes) {
    err << ErrorBlock(sinks.HeldMessages());
    if (!log.empty()) {
      err << "  (gravado também no log " << log << ")\n";
    }
    if (!o.quiet_result) {
      err << o.export_name << " falhou em " << elapsed() << "\n";
    }
    return kExitFailure;
  }
  if (!o.quiet_result) {
    err << done << " em " << elapsed() << "\n";
  }
  return kExitOk;
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Options o;
  CLI::App app{"tolvan", "tolvan"};
  app.set_help_flag();
  AddOptions(app, o);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    err << "tolvan: " << ParseErrorText(app, args, e) << "\n" << Usage();
    return kExitUsage;
  }
  if (const auto missing = OptionWithoutValue(app)) {
    err << "tolvan: " << *missing << "\n" << Usage();
    return kExitUsage;
  }
  if (o.connect_timeout && (*o.connect_timeout < 1 || *o.connect_timeout > kMaxConnectTimeout)) {
    err << "tolvan: a opção --connect-timeout espera os segundos de espera, de 1 a "
        << kMaxConnectTimeout << "\n"
        << Usage();
    return kExitUsage;
  }

  try {
    if (o.version) {
      PrintVersion(out);
      return kExitOk;
    }
    // "tolvan help" and "tolvan <plug-in> help" ask for the help as --help does.
    if (Lower(o.plugin) == "help" && o.export_name.empty()) {
      o.help = true;
      o.plugin.clear();
    } else if (Lower(o.export_name) == "help") {
      o.help = true;
      o.export_name.clear();
    }
    if (o.help) {
      PrintHelp(o.plugin, FamilyNameOf(o.export_name), out);
      return kExitOk;
    }
    if (o.plugin.empty()) {
      throw UsageError("diga o plug-in");
    }
    if (Lower(o.export_name) == kListBackups) {
      ResolvePlugin(o.plugin, tolvan::platform::ExecutableDirectory());
      CheckListingOptions(GivenOptions(app));
      return ListBackups(o, out, err);
    }
    ScopedConsoleSinks sinks(o.yes, o.quiet);
    const std::string log = KeepLogInDataDirectory();
    if (Lower(o.plugin) == "tour" && o.export_name.empty()) {
      return RunTour(o, out, err);
    }
    const int status = RunExport(o, GivenOptions(app), out, err, sinks, log);
    if (status == kExitFailure) {
      // What --quiet kept back belongs to the failure's story.
      err << sinks.TakeHeldNotes();
    }
    return status;
  } catch (const UsageError& e) {
    out.flush();
    err << "tolvan: " << e.what() << "\n" << Usage();
    return kExitUsage;
  } catch (const std::exception& e) {
    out.flush();
    if (tolvan::platform::InterruptSignal() != 0) {
      return Interrupted("tolvan", std::chrono::steady_clock::now(), err);
    }
    err << ErrorBlock(e.what());
    return kExitFailure;
  } catch (...) {
    out.flush();
    err << "tolvan: falha desconhecida\n";
    return kExitFailure;
  }
}

}  // namespace tolvan::cli
