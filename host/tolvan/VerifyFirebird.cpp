// A Firebird backup proven by restoring it on this machine's embedded engine, through the
// plug-in's own Restore export, into a new file of a private folder.
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Cli.h"
#include "Console.h"
#include "Report.h"
#include "StatusText.h"
#include "Verify.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A database key names a server when it has one of two or more characters before its ":".
bool NamesServer(const std::string& key) {
  const auto colon = key.find(':');
  return colon != std::string::npos && colon >= 2;
}

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

// The objects and row counts of the restored copy, read from its system tables, shown on the
// status as it goes.
BackupContents ReadRestoredCopy(TVeskSQLConnection& connection, TVeskFraProgresso& status) {
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
  bool stop = false;
  for (const Kind& kind : kKinds) {
    for (std::string& name : Column(connection, kind.sql)) {
      restored.objects[kind.kind].insert(std::move(name));
    }
  }
  for (const std::string& table : restored.objects["tabela"]) {
    status.DoCaptureLine("comparando: contando as linhas de " + table, stop);
    const auto count = Column(connection, "select count(*) from " + Enclosed(table, '"'));
    restored.rows[table] = count.empty() ? 0 : std::stoull(count.front());
  }
  return restored;
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
  const std::string candidate = FreeNameBeside(final_path, "verificar");
  const auto drop_candidate = [&candidate] { tolvan::platform::RemoveFile(candidate); };

  // The backup, written under a name of its own beside the final one, its lines kept.
  ConsoleFrame::Settings backup_settings = VerificationStatusSettings(o);
  backup_settings.gbak = GbakProgress::Kind::Backup;
  auto backup_frame = std::make_unique<RecordingFrame>(err, backup_settings, true);
  if (backup_settings.live) {
    WatchTerminalResize();
  }
  try {
    CallKeepingMessage([&] {
      host.SetUpDatabaseAndLogin(o.export_name);
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
    drop_candidate();
    throw;
  } catch (const std::exception& e) {
    backup_frame->Finish(false);
    out.flush();
    drop_candidate();
    if (tolvan::platform::InterruptSignal() != 0) {
      return interrupted();
    }
    return ReportFailure(o, e.what(), start, err);
  }
  backup_frame->Finish(true);
  const BackupContents recorded = ReadGbakBackupLines(backup_frame->Lines());
  const bool earlier_stands = tolvan::platform::FileExists(final_path);

  // Until it is proven, the new backup stays under its own name; a failure keeps it beside the
  // final name under one that says so.
  const auto keep_unverified = [&](const std::string& what) {
    const std::string unverified = UnverifiedName(final_path);
    PutInPlace(candidate, unverified);
    return ReportFailure(o, VerificationFailure(what, final_path, earlier_stands, unverified),
                         start, err);
  };
  const auto interrupted_keeping = [&] {
    PutInPlace(candidate, UnverifiedName(final_path));
    return interrupted();
  };
  if (tolvan::platform::InterruptSignal() != 0) {
    return interrupted_keeping();
  }
  if (!tolvan::platform::IsPlainFile(candidate)) {
    drop_candidate();
    return ReportFailure(o,
                         "--verify precisa do arquivo de backup nesta máquina, e " + candidate +
                             " não é um arquivo daqui",
                         start, err);
  }

  std::string failure;
  BackupContents restored;
  Clock::duration restore_time{};
  {
    ScratchFolder scratch;
    const std::string copy = scratch.Path() + "/copia.fdb";
    // The status names the step; gbak's table count is not read from lines that carry it.
    RecordingFrame restore_frame(err, VerificationStatusSettings(o),
                                 VerificationStatusSettings(o).live, "verificando, restaurando: ");
    const auto restore_start = Clock::now();
    try {
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
      RecordingFrame status(err, VerificationStatusSettings(o), VerificationStatusSettings(o).live,
                            "verificando, ");
      status.Begin();
      try {
        CallKeepingMessage([&] {
          TVeskSQLConnection connection;
          connection.DriverName = DriverNameFor(PluginKind::Firebird);
          connection.Params = {"Database=" + copy, "USER_NAME=" + host.user(), "PASSWORD="};
          connection.ClientLibrary = host.client_library();
          connection.Open();
          restored = ReadRestoredCopy(connection, status);
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
