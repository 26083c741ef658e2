// A Firebird backup proven by restoring it on this machine's embedded engine, through the
// plug-in's own Restore export, into a new file of a private folder.
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include "Cli.h"
#include "Console.h"
#include "Report.h"
#include "StatusText.h"
#include "Verify.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "platform/Utf8Path.h"
#include "tolvan/Exports.h"
#include "tolvan/support/ProductFile.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Firebird.h"

namespace tolvan::cli {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Column(TVeskSQLConnection& connection, const std::string& sql) {
  TVeskQuery query;
  query.SQLConnection = &connection;
  query.SQL = sql;
  query.Open();
  std::vector<std::string> values;
  for (; !query.Eof(); query.Next()) {
    std::string value = query.FieldAsString(0);
    value.erase(value.find_last_not_of(' ') + 1);
    values.push_back(value);
  }
  return values;
}

// The objects of the restored copy, read from its system tables: the copy opens on this machine's
// engine and holds them. Its rows are those gbak stored, as its restore lines say (a count of
// each table here would read the whole copy again, for the number gbak already gave).
BackupContents ReadRestoredCopy(TVeskSQLConnection& connection,
                                const std::vector<std::string>& restore_lines) {
  struct Kind {
    const char* kind;
    const char* sql;
  };
  static const Kind kKinds[] = {
      {"tabela",
       "select rdb$relation_name from rdb$relations where coalesce(rdb$system_flag, 0) = 0 and "
       "rdb$view_blr is null"},
      {"visão",
       "select rdb$relation_name from rdb$relations where coalesce(rdb$system_flag, 0) = 0 and "
       "rdb$view_blr is not null"},
      {"procedimento",
       "select rdb$procedure_name from rdb$procedures where coalesce(rdb$system_flag, 0) = 0"},
      {"função",
       "select rdb$function_name from rdb$functions where coalesce(rdb$system_flag, 0) = 0"},
      // The triggers of check constraints (flag 3) are in the backup too.
      {"gatilho",
       "select rdb$trigger_name from rdb$triggers where coalesce(rdb$system_flag, 0) <> 1"},
      {"gerador",
       "select rdb$generator_name from rdb$generators where coalesce(rdb$system_flag, 0) = 0"},
      {"índice", "select rdb$index_name from rdb$indices where coalesce(rdb$system_flag, 0) = 0"},
      {"restrição",
       "select c.rdb$constraint_name from rdb$relation_constraints c join rdb$relations r on "
       "r.rdb$relation_name = c.rdb$relation_name where coalesce(r.rdb$system_flag, 0) = 0"},
  };
  BackupContents restored;
  for (const Kind& kind : kKinds) {
    for (std::string& name : Column(connection, kind.sql)) {
      restored.objects[kind.kind].insert(std::move(name));
    }
  }
  restored.rows = ReadGbakRestoredRows(restore_lines);
  for (const std::string& table : restored.objects["tabela"]) {
    restored.rows.emplace(table, 0);
  }
  return restored;
}

// The last part of a path, "backup.fbk" when it has none ("/bk/").
std::string FileNameOf(const std::string& path) {
  const std::filesystem::path name =
      std::filesystem::path(std::u8string(path.begin(), path.end())).filename();
  const std::u8string text = name.u8string();
  return text.empty() ? "backup.fbk" : std::string(text.begin(), text.end());
}

// "4.0" of "4.0.5.3140"; empty when the text does not begin with two numbers.
std::string MajorMinor(const std::string& version) {
  static const std::regex head("^([0-9]+)\\.([0-9]+)");
  std::smatch match;
  return std::regex_search(version, match, head) ? match[1].str() + "." + match[2].str() : "";
}

std::string GbakVersion() {
  return GetVersao(
      tolvan::platform::ExecutableDirectory() + "gbak" + tolvan::platform::kExecutableSuffix,
      false);
}

std::string InstallAdvice(const std::string& tool_version) {
  return "instale nesta máquina o Firebird " + MajorMinor(tool_version) +
         " (o servidor, ou o cliente com o motor embutido) para verificar os backups desse gbak";
}

// Why this machine cannot restore what the gbak in use wrote: the copy is restored by gbak and
// read by tolvan on the embedded engine, which must be of gbak's version (the guard may have put
// a kept gbak of another version in place). Empty when they agree, or when gbak's version cannot
// be read. A client library of gbak's version beside it comes with an engine of that version;
// only otherwise is the engine asked, through a new database in folder (about a second).
std::string EmbeddedEngineProblem(Host& host, const std::string& folder) {
  const std::string tool_version = GbakVersion();
  if (MajorMinor(tool_version).empty() ||
      MajorMinor(GetVersao(tolvan::platform::ExecutableDirectory() + host.client_library(),
                           false)) == MajorMinor(tool_version)) {
    return {};
  }
  std::int64_t engine = 0;
  try {
    const std::string probe = folder + "/motor.fdb";
    CallKeepingMessage([&] {
      vesk::firebird::CreateDatabase(probe, host.user(), "", host.client_library());
      TVeskSQLConnection connection;
      connection.DriverName = DriverNameFor(PluginKind::Firebird);
      connection.Params = {"Database=" + probe, "USER_NAME=" + host.user(), "PASSWORD="};
      connection.ClientLibrary = host.client_library();
      connection.Open();
      engine = connection.GetServerVersion();
      connection.Close();
    });
    tolvan::platform::RemoveFile(probe);
  } catch (const std::exception& e) {
    return "o Firebird embutido desta máquina, que restaura a cópia, não abriu um banco de teste "
           "(" +
           std::string(e.what()) + "); " + InstallAdvice(tool_version);
  }
  // The driver gives the build as major * 10^12 + minor * 10^9 + release * 10^6 + build.
  const std::string engine_version =
      std::to_string(engine / 1000000000000) + "." + std::to_string(engine / 1000000000 % 1000) +
      "." + std::to_string(engine / 1000000 % 1000) + "." + std::to_string(engine % 1000000);
  if (MajorMinor(engine_version) == MajorMinor(tool_version)) {
    return {};
  }
  return "o gbak em uso é da versão " + tool_version +
         ", e o Firebird embutido desta máquina, que restaura a cópia, é da versão " +
         engine_version + ": " + InstallAdvice(tool_version);
}

// A gbak that finds no embedded engine of its own version tries the network, and says only that
// the network request failed; this line says what that means and what to install.
std::string NoEngineNote(const std::string& failure) {
  if (failure.find("Unable to complete network request") == std::string::npos) {
    return {};
  }
  const std::string tool_version = GbakVersion();
  return "\no gbak não achou nesta máquina o Firebird embutido" +
         (tool_version.empty() ? std::string() : " da versão dele, " + tool_version) +
         (MajorMinor(tool_version).empty() ? std::string() : ": " + InstallAdvice(tool_version));
}

}  // namespace

int RunProvenFirebirdBackup(Host& host, const Options& o, std::ostream& out, std::ostream& err,
                            const std::function<int()>& interrupted) {
  const bool conn = o.export_name == "BackupConn";
  if (o.no_frame) {
    throw UsageError(
        "--verify lê a saída detalhada do gbak pelo quadro de progresso: não use --no-frame");
  }
  if (o.service && NamesServer(o.database.value_or(""))) {
    throw UsageError(
        "--verify restaura o backup nesta máquina, e com --service num servidor o arquivo fica "
        "nesse servidor, fora do alcance daqui: rode sem --service, ou rode tolvan no próprio "
        "servidor");
  }
  const auto start = Clock::now();
  const std::string final_path = o.file;
  RemoveVerificationLeftovers(o, err);
  // The new backup is written in a folder of this run beside the final name (so that putting it
  // in place is a rename), marked as at work while the run lasts, and removed with it.
  std::optional<ScratchFolder> work;
  try {
    work.emplace(final_path);
  } catch (const std::system_error& e) {
    const std::string folder =
        tolvan::platform::Utf8Text(tolvan::platform::Utf8Path(final_path).parent_path());
    return ReportFailure(o,
                         "não foi possível gravar na pasta " +
                             (folder.empty() ? std::string(".") : folder) + " (" +
                             tolvan::support::FileErrorReason(e) +
                             "): confira se ela existe e se é possível gravar nela; nada foi "
                             "feito",
                         start, err);
  }
  const std::string candidate = work->Path() + "/" + FileNameOf(final_path);

  // The backup, its lines kept.
  ConsoleFrame::Settings backup_settings = VerificationStatusSettings(o);
  backup_settings.gbak = GbakProgress::Kind::Backup;
  backup_settings.table_rows = o.table_rows;
  auto backup_frame = std::make_unique<RecordingFrame>(err, backup_settings, true);
  try {
    CallKeepingMessage([&] {
      host.SetUpDatabaseAndLogin(o.export_name);
      const auto counting = host.CountTableRowsBeside(*backup_frame, backup_settings.live);
      if (conn) {
        host.Export<tolvan::BackupConnFn>("BackupConn")(
            &host.Module(), candidate, o.service, backup_frame.get(), o.circular, o.metadata_only);
      } else {
        host.Export<tolvan::BackupFn>("Backup")(
            host.database(), host.user(), host.password(), candidate, o.service, backup_frame.get(),
            o.circular, false, o.expected_client_version, host.client_library(), o.metadata_only);
      }
    });
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    backup_frame->Finish(false);
    out.flush();
    if (tolvan::platform::InterruptSignal() != 0) {
      return interrupted();
    }
    // gbak's lines were printed as they came: the block does not repeat them.
    return ReportFailure(o, WithEmptyPasswordNote(o, PluginKind::Firebird, host, e.what()), start,
                         err, backup_frame->PrintedLines());
  }
  backup_frame->Finish(true);
  const BackupContents recorded = ReadGbakBackupLines(backup_frame->Lines());
  *o.rows_written = recorded.rows;
  const bool earlier_stands = tolvan::platform::FileExists(final_path);

  // Until it is proven, the new backup stays in the run's folder; a failure keeps it beside the
  // final name under one that says so.
  const auto keep_unverified = [&](const std::string& what) {
    const std::string unverified = UnverifiedName(final_path);
    PutInPlace(candidate, unverified);
    return ReportFailure(o, VerificationFailure(what, final_path, earlier_stands, unverified),
                         start, err);
  };
  const auto interrupted_keeping = [&] {
    const std::string unverified = UnverifiedName(final_path);
    PutInPlace(candidate, unverified);
    err << UnverifiedKeptLine(unverified) << "\n";
    return interrupted();
  };
  if (tolvan::platform::InterruptSignal() != 0) {
    return interrupted_keeping();
  }
  if (!tolvan::platform::IsPlainFile(candidate)) {
    return ReportFailure(o,
                         "--verify precisa do arquivo de backup nesta máquina, e " + candidate +
                             " não é um arquivo daqui",
                         start, err);
  }

  std::string failure;
  BackupContents restored;
  Clock::duration restore_time{};
  {
    std::optional<ScratchFolder> scratch;
    try {
      scratch.emplace();
    } catch (const std::system_error& e) {
      return keep_unverified("não foi possível criar a pasta temporária da verificação em " +
                             std::filesystem::temp_directory_path().string() + " (" +
                             tolvan::support::FileErrorReason(e) + ")");
    }
    failure = EmbeddedEngineProblem(host, scratch->Path());
    const std::string copy = scratch->Path() + "/copia.fdb";
    // The status names the step; its percentage follows the rows the backup just wrote.
    ConsoleFrame::Settings restore_settings =
        VerificationStatusSettings(o, "verificando, restaurando: ");
    restore_settings.gbak = GbakProgress::Kind::Restore;
    restore_settings.table_rows = {recorded.rows.begin(), recorded.rows.end()};
    RecordingFrame restore_frame(err, restore_settings, restore_settings.live);
    const auto restore_start = Clock::now();
    try {
      if (failure.empty()) {
        // Embedded on this machine: a plain path, which the engine opens without checking a
        // password. The operator's password stays off gbak's command line; a word that is no
        // secret stands in its place, so the line is a real restore's.
        CallKeepingMessage([&] {
          host.Export<tolvan::RestoreFn>("Restore")(
              copy, host.user(), "embutido", candidate, false, &restore_frame, false, false,
              o.expected_client_version, host.client_library(), false);
        });
        restore_time = Clock::now() - restore_start;
        restore_frame.Finish(true);
      }
    } catch (const std::exception& e) {
      restore_frame.Finish(false);
      if (tolvan::platform::InterruptSignal() != 0) {
        return interrupted_keeping();
      }
      // gbak's own error lines say why; the rest of its verbose output is only where it was.
      const auto problems = ProblemLines(restore_frame.Lines());
      failure = "a restauração falhou:";
      for (const std::string& line : problems.empty() ? MessageLines(e.what()) : problems) {
        failure += "\n" + line;
      }
      failure += NoEngineNote(failure);
    }
    if (tolvan::platform::InterruptSignal() != 0) {
      return interrupted_keeping();
    }
    if (failure.empty()) {
      const auto problems = ProblemLines(restore_frame.Lines());
      if (!problems.empty()) {
        failure = "a restauração terminou com avisos ou erros:";
        for (const std::string& line : problems) {
          failure += "\n" + line;
        }
      }
    }
    if (failure.empty()) {
      RecordingFrame status(err, VerificationStatusSettings(o, "verificando, "),
                            VerificationStatusSettings(o).live);
      status.Begin();
      try {
        CallKeepingMessage([&] {
          TVeskSQLConnection connection;
          connection.DriverName = DriverNameFor(PluginKind::Firebird);
          connection.Params = {"Database=" + copy, "USER_NAME=" + host.user(), "PASSWORD="};
          connection.ClientLibrary = host.client_library();
          connection.Open();
          bool stop = false;
          status.DoCaptureLine("comparando: os objetos da cópia restaurada", stop);
          restored = ReadRestoredCopy(connection, restore_frame.Lines());
          connection.Close();
        });
        status.Finish(true);
      } catch (const std::exception& e) {
        status.Finish(false);
        if (tolvan::platform::InterruptSignal() != 0) {
          return interrupted_keeping();
        }
        failure = "a cópia restaurada não pôde ser lida:\n" + std::string(e.what());
      }
    }
  }
  if (tolvan::platform::InterruptSignal() != 0) {
    return interrupted_keeping();
  }
  if (failure.empty()) {
    if (const auto difference = FirstDifference(recorded, restored)) {
      failure = *difference;
    }
  }
  if (!failure.empty()) {
    return keep_unverified(failure);
  }
  PutInPlace(candidate, final_path);
  out.flush();
  if (!o.quiet_result) {
    err << "Backup concluído: " << final_path << ", "
        << FormatSize(std::filesystem::file_size(final_path)) << " em "
        << FormatDuration(Clock::now() - start) << "\n";
  }
  err << VerdictLine(final_path, recorded, restore_time) << "\n";
  return kExitOk;
}

}  // namespace tolvan::cli
