// CriarBackup's dump made by the plug-in's guard and pg_dump runner beside the final name, proven
// with --verify by restoring it with the PostgreSQL/ folder's pg_restore into a new database of a
// scratch name on the same server, and put at the final name (temp/<database>.dump, or the
// operator's path with --file) only when it is whole and, with --verify, proven.
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "Cli.h"
#include "Console.h"
#include "PostgresProgress.h"
#include "Report.h"
#include "Verify.h"
#include "VerifyPostgres.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Utf8Path.h"
#include "tolvan/Exports.h"
#include "tolvan/support/ProductFile.h"
#include "tolvan/support/Quoting.h"
#include "tolvan/support/TarArchive.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The plug-in's own guard and dump runner, which CriarBackup runs for temp/<database>.dump.
using VerificarVersaoFerramentasFn = void (*)(TVeskSQLConnection*, std::string,
                                              std::vector<std::string>);
using ExecutarPgDumpFn = void (*)(std::string, std::string, std::string, std::string, std::string,
                                  std::string, std::string, bool);

// The database key "server/port:database" in its parts, as the plug-in reads it.
struct KeyParts {
  std::string server_and_port;
  std::string server;
  std::string port;
  std::string database;
};

KeyParts SplitKey(const std::string& key) {
  KeyParts parts;
  const auto colon = key.find(':');
  parts.server_and_port = colon == std::string::npos ? "" : key.substr(0, colon);
  parts.database = colon == std::string::npos ? key : key.substr(colon + 1);
  const auto slash = parts.server_and_port.rfind('/');
  parts.server =
      slash == std::string::npos ? parts.server_and_port : parts.server_and_port.substr(0, slash);
  parts.port = slash == std::string::npos ? "" : parts.server_and_port.substr(slash + 1);
  if (parts.server.empty()) {
    parts.server = "localhost";
  }
  if (parts.port.empty() || parts.port.find_first_not_of("0123456789") != std::string::npos) {
    parts.port = "5432";
  }
  return parts;
}

std::string ToolFolder() {
  return tolvan::platform::ExecutableDirectory() + "PostgreSQL" + tolvan::platform::kPathDelimiter;
}

std::string ToolProgram(const std::string& tool) {
  return tolvan::support::QuoteArgument(ToolFolder() + tool + tolvan::platform::kExecutableSuffix);
}

// A tool of the PostgreSQL/ folder run to its end with the password in its environment only; an
// interrupt ends it.
struct ToolRun {
  int code = 0;
  std::string output;
};

ToolRun RunTool(const std::string& command_line, const std::string& password) {
  tolvan::platform::LaunchOptions options;
  options.command_line = command_line;
  options.extra_environment = {{"PGPASSWORD", password}};
  auto child = tolvan::platform::LaunchProcess(options);
  ToolRun run;
  char buffer[64 * 1024];
  for (;;) {
    if (tolvan::platform::InterruptSignal() != 0) {
      child->Terminate();
      child->Wait();
      throw std::runtime_error("interrompido");
    }
    if (!child->WaitForOutput(100)) {
      continue;
    }
    const std::size_t count = child->Read(buffer, sizeof buffer);
    if (count == 0) {
      break;
    }
    run.output.append(buffer, count);
  }
  run.code = child->Wait();
  return run;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

// The rows of a data member, read a piece at a time.
std::uint64_t CountMemberRows(std::ifstream& in, const tolvan::support::TarMember& member) {
  static constexpr std::size_t kPiece = 1 << 20;
  std::vector<char> piece(kPiece);
  CopyRowCounter counter;
  in.seekg(static_cast<std::streamoff>(member.DataOffset));
  for (std::uint64_t left = member.Size; left > 0 && in;) {
    const auto size = static_cast<std::streamsize>(std::min<std::uint64_t>(left, kPiece));
    in.read(piece.data(), size);
    counter.Feed(std::string_view(piece.data(), static_cast<std::size_t>(in.gcount())));
    left -= static_cast<std::uint64_t>(in.gcount());
  }
  return counter.Rows();
}

// The objects and the rows of each table the dump holds: its table of contents as pg_restore
// lists it, each table's data member counted in the archive. A partitioned table has no data of
// its own; a parent of inherited tables has its own rows alone. `copies` gets the tables' data in
// the order pg_restore copies it (the listing's), each with the bytes of its COPY text.
BackupContents ReadDump(const std::string& dump, std::vector<CopyTable>& copies) {
  const std::vector<tolvan::support::TarMember> members = tolvan::support::ReadTarArchive(dump);
  if (members.empty() || members.front().Name != "toc.dat") {
    throw std::runtime_error("o arquivo " + dump + " não é um backup do pg_dump: falta o sumário");
  }
  const ToolRun listing =
      RunTool(ToolProgram("pg_restore") + " -l " + tolvan::support::QuoteArgument(dump), "");
  if (listing.code != 0) {
    throw std::runtime_error("o pg_restore não leu o sumário do backup:\n" + listing.output);
  }
  BackupContents contents;
  std::ifstream in(tolvan::platform::Utf8Path(dump), std::ios::binary);
  for (const TocEntry& entry : ReadTocListing(listing.output)) {
    const std::string name = entry.schema + "." + entry.tag;
    if (entry.desc == "TABLE DATA") {
      std::uint64_t rows = 0;
      for (const tolvan::support::TarMember& member : members) {
        if (member.Name == std::to_string(entry.id) + ".dat") {
          rows = CountMemberRows(in, member);
          copies.push_back({name, member.Size, member.Size, rows});
        }
      }
      contents.rows[name] = rows;
    } else if (entry.desc == "TABLE") {
      contents.objects["tabela"].insert(name);
      contents.rows.emplace(name, 0);
    } else if (entry.desc == "VIEW" || entry.desc == "MATERIALIZED VIEW") {
      contents.objects["visão"].insert(name);
    } else if (entry.desc == "FUNCTION" || entry.desc == "PROCEDURE") {
      contents.objects[entry.desc == "FUNCTION" ? "função" : "procedimento"].insert(
          entry.schema + "." + entry.tag.substr(0, entry.tag.find('(')));
    } else if (entry.desc == "TRIGGER") {
      contents.objects["gatilho"].insert(name);
    } else if (entry.desc == "SEQUENCE") {
      contents.objects["sequência"].insert(name);
    } else if (entry.desc == "INDEX") {
      contents.objects["índice"].insert(name);
    } else if (entry.desc == "CONSTRAINT" || entry.desc == "FK CONSTRAINT") {
      contents.objects["restrição"].insert(name);
    }
  }
  return contents;
}

constexpr const char* kUserSchemas =
    "n.nspname not in ('pg_catalog', 'information_schema') and n.nspname not like 'pg_toast%'";

BackupContents ReadRestoredCopy(TVeskSQLConnection& connection, TVeskFraProgresso& status) {
  BackupContents restored;
  const std::string user_schemas(kUserSchemas);
  const std::string relations =
      "select n.nspname || '.' || c.relname from pg_class c join pg_namespace n on n.oid = "
      "c.relnamespace where " +
      user_schemas + " and c.relkind in ";
  const std::string routines =
      "select n.nspname || '.' || p.proname from pg_proc p join pg_namespace n on n.oid = "
      "p.pronamespace where " +
      user_schemas + " and p.prokind ";
  // Every kind in one query: each query is a round trip to a server whose new session reads its
  // catalogs afresh.
  const std::pair<const char*, std::string> kinds[] = {
      {"visão", relations + "('v', 'm')"},
      {"sequência", relations + "('S')"},
      {"índice", relations + "('i', 'I')"},
      {"função", routines + "<> 'p'"},
      {"procedimento", routines + "= 'p'"},
      {"gatilho",
       "select n.nspname || '.' || c.relname || ' ' || t.tgname from pg_trigger t join pg_class c "
       "on c.oid = t.tgrelid join pg_namespace n on n.oid = c.relnamespace where not "
       "t.tgisinternal and " +
           user_schemas},
      {"restrição",
       "select n.nspname || '.' || c.relname || ' ' || k.conname from pg_constraint k join "
       "pg_class c on c.oid = k.conrelid join pg_namespace n on n.oid = c.relnamespace where " +
           user_schemas},
  };
  std::string objects;
  for (std::size_t i = 0; i < std::size(kinds); ++i) {
    objects += (i == 0 ? "" : " union all ") + std::string("select ") + std::to_string(i) +
               ", name from (" + kinds[i].second + ") as k" + std::to_string(i) + " (name)";
  }
  for (const auto& row : QueryRows(connection, objects)) {
    restored.objects[kinds[std::stoul(row[0])].first].insert(row[1]);
  }
  bool stop = false;
  // The tables of an extension are made by its script, not by the dump: they are not the dump's.
  const auto tables =
      QueryRows(connection,
                "select n.nspname, c.relname from pg_class c join pg_namespace n on "
                "n.oid = c.relnamespace where " +
                    std::string(kUserSchemas) +
                    " and c.relkind in ('r', 'p') and not exists (select 1 from "
                    "pg_depend d where d.classid = 'pg_class'::regclass and d.objid "
                    "= c.oid and d.deptype = 'e')");
  for (const auto& row : tables) {
    const std::string name = row[0] + "." + row[1];
    restored.objects["tabela"].insert(name);
    status.DoCaptureLine("comparando: contando as linhas de " + name, stop);
    // Its own rows, as its data member holds them: not those of its partitions or children.
    const auto count = QueryRows(connection, "select count(*) from only " + Enclosed(row[0], '"') +
                                                 "." + Enclosed(row[1], '"'));
    restored.rows[name] = count.empty() ? 0 : std::stoull(count.front().front());
  }
  return restored;
}

std::string ScratchLeftMessage(const std::string& name, const KeyParts& key,
                               const std::string& why) {
  return "o banco de dados de verificação \"" + name + "\" ficou no servidor " + key.server +
         ", porta " + key.port + ", porque não foi possível excluí-lo: " + why +
         "\nExclua-o com o comando SQL: DROP DATABASE " + Enclosed(name, '"') +
         "; (a próxima verificação neste servidor também tenta)";
}

// What stands at the final name must be a plain file, or a link, or nothing: the dump is renamed
// over it. The same refusal as for --file, for the application folder's dump.
void RefuseFinalNameThatIsNoFile(const std::string& path) {
  const std::string problem = tolvan::support::FinalNameProblem(path);
  if (!problem.empty()) {
    throw std::runtime_error(path + ": " + problem);
  }
}

// The dump, made by the plug-in's guard and pg_dump runner as CriarBackup makes it (the guard
// first, the connection closed while pg_dump runs and opened again), at a path of this run's.
// `guard_passed` runs once the guard has let the tools through, before pg_dump starts.
void DumpThroughPlugin(Host& host, TVeskSQLConnection& connection, const std::string& dump,
                       const std::function<void()>& guard_passed) {
  const auto guard = host.Export<VerificarVersaoFerramentasFn>("VerificarVersaoFerramentas");
  const auto run = host.Export<ExecutarPgDumpFn>("ExecutarPgDump");
  if (guard == nullptr || run == nullptr) {
    throw std::runtime_error(
        "este TolvanPostgreSQL não exporta VerificarVersaoFerramentas e ExecutarPgDump, que "
        "--verify e --file usam: ponha ao lado do tolvan o plug-in da mesma versão");
  }
  const KeyParts key = SplitKey(connection.GetDATABASENAME_KEY());
  const std::string user = connection.GetParam("USER_NAME");
  const std::string password = connection.GetParam("PASSWORD");
  guard(&connection, ToolFolder(), {"pg_dump", "pg_restore"});
  guard_passed();
  connection.Close();
  try {
    run(ToolFolder(), key.server, key.port, key.database, user, password, dump, false);
  } catch (...) {
    connection.Open();
    throw;
  }
  connection.Open();
}

// Restores the dump into the scratch database and compares the copy with what the dump
// recorded: the first difference, or the empty text when the copy is the dump's.
// With `copying`, the restore's COPY progress is read beside pg_restore while it runs.
std::string RestoreAndCompare(TVeskSQLConnection& connection, const std::string& dump,
                              const std::string& scratch, const BackupContents& recorded,
                              Clock::duration& restore_time, TVeskFraProgresso& status,
                              CopyProgressPoller* copying, std::vector<CopyTable> copies) {
  const KeyParts key = SplitKey(connection.GetDATABASENAME_KEY());
  bool stop = false;
  status.DoCaptureLine("restaurando em " + scratch, stop);
  if (copying) {
    copying->StartForRestore(connection, key.server_and_port + ":" + scratch, std::move(copies));
  }
  const auto restore_start = Clock::now();
  const ToolRun restore =
      RunTool(ToolProgram("pg_restore") + " -h " + tolvan::support::QuoteArgument(key.server) +
                  " -p " + tolvan::support::QuoteArgument(key.port) + " -U " +
                  tolvan::support::QuoteArgument(connection.GetParam("USER_NAME")) + " " +
                  ToolDatabaseArgument(scratch) + " " + tolvan::support::QuoteArgument(dump),
              connection.GetParam("PASSWORD"));
  restore_time = Clock::now() - restore_start;
  if (copying) {
    // Its session is gone before the copy is read and the scratch database dropped.
    copying->Stop(restore.code == 0);
  }
  const auto problems = ProblemLines(SplitLines(restore.output));
  if (restore.code != 0 || !problems.empty()) {
    std::string failure =
        "a restauração terminou com o código " + std::to_string(restore.code) + ":";
    for (const std::string& line : problems.empty() ? SplitLines(restore.output) : problems) {
      failure += "\n" + line;
    }
    return failure;
  }
  const auto copy = ConnectionLike(connection, key.server_and_port + ":" + scratch);
  copy->Open();
  const BackupContents restored = ReadRestoredCopy(*copy, status);
  copy->Close();
  return FirstDifference(recorded, restored).value_or("");
}

// Moves the run's dump to target; when it cannot, the dump stays where the message says.
void PutDumpAt(DumpRunFiles& files, const std::string& target) {
  try {
    PutInPlace(files.Dump(), target);
  } catch (const std::exception&) {
    files.KeepDump();
    throw;
  }
}

int ProvePostgresBackup(Host& host, const Options& o, std::ostream& out, std::ostream& err,
                        const std::function<int()>& interrupted, Clock::time_point start) {
  CallKeepingMessage([&] { host.SetUpDatabaseAndLogin(o.export_name); });
  const std::string final_path = o.file.empty() ? host.DumpPath() : o.file;
  RefuseFinalNameThatIsNoFile(final_path);
  RemoveWhatGoneRunsLeft(final_path);
  std::optional<DumpRunFiles> files;
  try {
    files.emplace(final_path, AsciiTag(SplitKey(host.database()).server_and_port));
  } catch (const std::system_error& error) {
    throw std::runtime_error("não foi possível gravar ao lado de " + final_path + " (" +
                             tolvan::support::FileErrorReason(error) +
                             "): confira a pasta e a permissão de gravar nela; nada foi feito");
  }
  TVeskSQLConnection* connection = nullptr;
  CallKeepingMessage([&] { connection = host.Module().SQLConnection; });
  const std::string machine_tag = AsciiTag(tolvan::platform::MachineName());
  if (o.verify) {
    const auto may_create = QueryRows(*connection,
                                      "select (rolcreatedb or rolsuper)::text from pg_roles where "
                                      "rolname = current_user");
    if (may_create.empty() || may_create.front().front() != "true") {
      throw std::runtime_error("--verify precisa de um usuário que possa criar bancos de dados");
    }
    DropScratchDatabasesOfGoneRuns(*connection, machine_tag, err);
  }
  const bool earlier_stands = tolvan::platform::FileExists(final_path);

  // The server's COPY progress of pg_dump, and later of pg_restore, read beside the tool while a
  // status line shows it; each poller is gone before what follows its tool.
  const bool live = VerificationStatusSettings(o).live;
  std::optional<ScratchDatabase> scratch;
  auto copying = std::make_shared<CopyProgressPoller>();
  ConsoleFrame::Settings dump_settings = VerificationStatusSettings(o);
  dump_settings.progress = ProgressReader(copying);
  RecordingFrame status(err, std::move(dump_settings), live);
  status.Begin();
  try {
    bool stop = false;
    status.DoCaptureLine("pg_dump de " + connection->GetDATABASENAME_KEY(), stop);
    if (live) {
      copying->StartForDump(*connection);
    }
    CallKeepingMessage([&] {
      DumpThroughPlugin(host, *connection, files->Dump(), [&] {
        if (o.verify) {
          // Made while pg_dump runs; dropped on every way out.
          scratch.emplace(*connection, machine_tag);
        }
      });
    });
    status.Finish(true);
    copying->Stop();
  } catch (const std::exception&) {
    copying->Stop();
    status.Finish(false);
    throw;
  }
  if (tolvan::platform::InterruptSignal() != 0) {
    return interrupted();
  }

  std::string failure;
  BackupContents recorded;
  Clock::duration restore_time{};
  std::optional<std::string> scratch_left;
  if (o.verify) {
    copying = std::make_shared<CopyProgressPoller>();
    ConsoleFrame::Settings verify_settings = VerificationStatusSettings(o, "verificando, ");
    verify_settings.progress = ProgressReader(copying);
    RecordingFrame verifying(err, std::move(verify_settings), live);
    verifying.Begin();
    try {
      bool stop = false;
      verifying.DoCaptureLine("lendo o sumário do backup", stop);
      std::vector<CopyTable> copies;
      recorded = ReadDump(files->Dump(), copies);
      const std::string& scratch_name = scratch->Name();
      try {
        failure =
            RestoreAndCompare(*connection, files->Dump(), scratch_name, recorded, restore_time,
                              verifying, live ? copying.get() : nullptr, std::move(copies));
      } catch (const std::exception& e) {
        failure = e.what();
      }
      copying->Stop();
      if (const auto why = scratch->Drop()) {
        scratch_left =
            ScratchLeftMessage(scratch_name, SplitKey(connection->GetDATABASENAME_KEY()), *why);
      }
    } catch (const std::exception& e) {
      failure = e.what();
    }
    verifying.Finish(failure.empty());
  }
  if (tolvan::platform::InterruptSignal() != 0 || !failure.empty()) {
    const std::string unverified = UnverifiedName(final_path);
    PutDumpAt(*files, unverified);
    if (tolvan::platform::InterruptSignal() != 0) {
      err << "o backup não verificado ficou em " << unverified << "\n";
      if (scratch_left) {
        err << ErrorBlock(*scratch_left);
      }
      return interrupted();
    }
    return ReportFailure(o,
                         VerificationFailure(failure, final_path, earlier_stands, unverified) +
                             (scratch_left ? "\n" + *scratch_left : ""),
                         start, err);
  }
  PutDumpAt(*files, final_path);
  // The dump's path is the run's result: a script finds the file there.
  out << final_path << "\n";
  out.flush();
  if (!o.quiet_result) {
    err << "Backup concluído: " << final_path << ", "
        << FormatSize(fs::file_size(tolvan::platform::Utf8Path(final_path))) << " em "
        << FormatDuration(Clock::now() - start) << "\n";
  }
  if (o.verify) {
    err << VerdictLine(final_path, recorded, restore_time) << "\n";
  }
  if (scratch_left) {
    // The backup is proven and in place, but the run left something on the server.
    err << ErrorBlock(*scratch_left);
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int RunProvenPostgresBackup(Host& host, const Options& o, std::ostream& out, std::ostream& err,
                            const std::function<int()>& interrupted) {
  const auto start = Clock::now();
  try {
    return ProvePostgresBackup(host, o, out, err, interrupted, start);
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    // Every way out ends with the run's result line.
    out.flush();
    if (tolvan::platform::InterruptSignal() != 0) {
      return interrupted();
    }
    return ReportFailure(o, e.what(), start, err);
  }
}

}  // namespace tolvan::cli
