#include "Cli.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "ConsoleSinks.h"
#include "DefaultDatabase.h"
#include "ExportTable.h"
#include "Help.h"
#include "Host.h"
#include "Options.h"
#include "Plugin.h"
#include "Report.h"
#include "Verify.h"
#include "platform/DynamicLibrary.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {
namespace {

void AddOptions(CLI::App& app, Options& o) {
  app.add_option("plugin", o.plugin);
  app.add_option("export", o.export_name);
  app.add_flag("-h,--help", o.help);

  app.add_option("--database", o.database);
  app.add_option("--user", o.user);
  app.add_option("--password", o.password);
  app.add_option("--client-library", o.client_library);
  app.add_option("--expected-client-version", o.expected_client_version);
  app.add_option("--driver", o.driver);
  app.add_option("--odbc", o.odbc);

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

// What the tour says under an empty line of PegarUsuarios: the embedded engine gives its own
// session no address, and the server's query then makes the whole line empty.
constexpr const char* kTourEmptySessionNote =
    "(Cada linha é \"usuário em endereço no programa\". Uma linha vazia é uma sessão deste "
    "processo no banco embutido: ela roda aqui dentro e não tem endereço de rede, e sem "
    "endereço o servidor devolve a linha inteira vazia.)\n";

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
  // The embedded default database is created by the plug-in itself when it does not exist yet;
  // only a failure of it is shown (through the message sink).
  EnsureFirebirdLockFolder();
  const std::string path = DefaultDatabasePath();
  if (!std::filesystem::exists(path)) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    CallKeepingMessage([&] {
      TVeskSQLConnection credentials;
      credentials.Params = {"USER_NAME=" + o.user.value_or("SYSDBA"),
                            "PASSWORD=" + o.password.value_or("")};
      TVeskDMConexao dm;
      dm.SQLConnection = &credentials;
      host.Export<tolvan::CriarDataBaseFn>("CriarDataBase")(&dm, path, "", "");
    });
  }
  for (const char* name : {"Versao", "PegarUsuarios"}) {
    if (tolvan::platform::InterruptSignal() != 0) {
      return Interrupted("tour", start, err);
    }
    out << "== " << name << " ==\n";
    try {
      CallKeepingMessage([&] {
        host.Settle(name);
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
    if (std::string(name) == "PegarUsuarios" && host.ListedAnEmptyLine()) {
      out << kTourEmptySessionNote;
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

int RunExport(const Options& o, const std::vector<std::string>& given, std::ostream& out,
              std::ostream& err, const ScopedConsoleSinks& sinks) {
  const PluginRef ref = ResolvePlugin(o.plugin, tolvan::platform::ExecutableDirectory());
  if (o.export_name.empty()) {
    throw UsageError("diga a exportação a chamar (tolvan " + o.plugin + " --help lista as que há)");
  }
  if (!IsFamilyName(o.export_name)) {
    const auto nearest = NearestExport(o.export_name);
    throw UsageError("exportação desconhecida \"" + o.export_name + "\"" +
                     (nearest ? "; você quis dizer \"" + *nearest + "\"?" : std::string()) +
                     " (tolvan " + o.plugin + " --help lista as exportações)");
  }
  CheckOptions(ref.kind, o.export_name, given);
  Host host(o, ref, out, err);
  host.Load();
  if (host.library().Symbol(o.export_name) == nullptr) {
    throw UsageError(ref.path + " não oferece " + o.export_name);
  }
  const auto start = std::chrono::steady_clock::now();
  if (tolvan::platform::InterruptSignal() != 0) {
    return Interrupted(o.export_name, start, err);
  }
  if (WantsProvenBackup(o)) {
    return RunProvenBackup(host, o, ref.kind, out, err,
                           [&] { return Interrupted(o.export_name, start, err); });
  }
  const auto elapsed = [&start] {
    return FormatDuration(std::chrono::steady_clock::now() - start);
  };
  const std::size_t boxes = sinks.MessageBoxes();
  std::string done;
  try {
    CallKeepingMessage([&] {
      host.Settle(o.export_name);
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
    err << ErrorBlock(e.what());
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
  // A failure is shown in a message box and logged; the log alone may carry a note of a creation
  // that succeeded (a declarations script that declares nothing).
  if (ReportsFailureBySinks(ref.kind, o.export_name) && sinks.MessageBoxes() != boxes) {
    err << "erro:\n  " << o.export_name
        << " informou a falha acima na caixa de mensagem e no log\n";
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
    err << "tolvan: " << e.what() << "\n" << Usage();
    return kExitUsage;
  }

  try {
    if (o.help) {
      PrintHelp(o.plugin, out);
      return kExitOk;
    }
    if (o.plugin.empty()) {
      throw UsageError("diga o plug-in");
    }
    ScopedConsoleSinks sinks(o.yes);
    if (o.plugin == "tour" && o.export_name.empty()) {
      return RunTour(o, out, err);
    }
    return RunExport(o, GivenOptions(app), out, err, sinks);
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
