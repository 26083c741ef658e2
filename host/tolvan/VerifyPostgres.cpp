// CriarBackup's dump proven by restoring it with the PostgreSQL/ folder's pg_restore into a new
// database of a scratch name on the same server, and put at the operator's path with --file.
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "Cli.h"
#include "Console.h"
#include "Report.h"
#include "Verify.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Utf8Path.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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

std::vector<std::vector<std::string>> Rows(TVeskSQLConnection& connection, const std::string& sql) {
  TVeskQuery query;
  query.SQLConnection = &connection;
  query.SQL = sql;
  query.Open();
  std::vector<std::vector<std::string>> rows;
  for (; !query.Eof(); query.Next()) {
    std::vector<std::string> row;
    for (int i = 0; i < query.FieldCount(); ++i) {
      row.push_back(query.FieldAsString(i));
    }
    rows.push_back(std::move(row));
  }
  return rows;
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

std::string Quote(const std::string& path) {
  return "\"" + path + "\"";
}

// The objects and the rows of each table the dump holds: its table of contents as pg_restore
// lists it, each table's data member counted in the archive.
BackupContents ReadDump(const std::string& dump, const std::string& tools) {
  const std::vector<vesk::TarMember> members = vesk::ReadTarArchive(dump);
  if (members.empty() || members.front().Name != "toc.dat") {
    throw std::runtime_error("o arquivo " + dump + " não é um backup do pg_dump: falta o sumário");
  }
  const ToolRun listing = RunTool(
      Quote(tools + "pg_restore" + tolvan::platform::kExecutableSuffix) + " -l " + Quote(dump), "");
  if (listing.code != 0) {
    throw std::runtime_error("o pg_restore não leu o sumário do backup:\n" + listing.output);
  }
  BackupContents contents;
  std::ifstream in(tolvan::platform::Utf8Path(dump), std::ios::binary);
  for (const TocEntry& entry : ReadTocListing(listing.output)) {
    const std::string name = entry.schema + "." + entry.tag;
    if (entry.desc == "TABLE DATA") {
      std::uint64_t rows = 0;
      for (const vesk::TarMember& member : members) {
        if (member.Name == std::to_string(entry.id) + ".dat") {
          std::string data(member.Size, '\0');
          in.seekg(static_cast<std::streamoff>(member.DataOffset));
          in.read(data.data(), static_cast<std::streamsize>(member.Size));
          rows = CountCopyRows(data);
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
  const auto add = [&](const char* kind, const std::string& sql) {
    for (const auto& row : Rows(connection, sql)) {
      restored.objects[kind].insert(row[0]);
    }
  };
  const std::string relations =
      "select n.nspname || '.' || c.relname from pg_class c join pg_namespace n on n.oid = "
      "c.relnamespace where " +
      std::string(kUserSchemas) + " and c.relkind in ";
  add("visão", relations + "('v', 'm')");
  add("sequência", relations + "('S')");
  add("índice", relations + "('i', 'I')");
  add("função",
      "select n.nspname || '.' || p.proname from pg_proc p join pg_namespace n on n.oid = "
      "p.pronamespace where " +
          std::string(kUserSchemas) + " and p.prokind <> 'p'");
  add("procedimento",
      "select n.nspname || '.' || p.proname from pg_proc p join pg_namespace n on n.oid = "
      "p.pronamespace where " +
          std::string(kUserSchemas) + " and p.prokind = 'p'");
  add("gatilho",
      "select n.nspname || '.' || c.relname || ' ' || t.tgname from pg_trigger t join pg_class c "
      "on c.oid = t.tgrelid join pg_namespace n on n.oid = c.relnamespace where not "
      "t.tgisinternal and " +
          std::string(kUserSchemas));
  add("restrição",
      "select n.nspname || '.' || c.relname || ' ' || k.conname from pg_constraint k join "
      "pg_class c on c.oid = k.conrelid join pg_namespace n on n.oid = c.relnamespace where " +
          std::string(kUserSchemas));
  bool stop = false;
  // The tables of an extension are made by its script, not by the dump: they are not the dump's.
  const auto tables = Rows(connection,
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
    const auto count = Rows(
        connection, "select count(*) from " + Enclosed(row[0], '"') + "." + Enclosed(row[1], '"'));
    restored.rows[name] = count.empty() ? 0 : std::stoull(count.front().front());
  }
  return restored;
}

// A database of a name nobody has, created on the server of the connection for the
// verification, dropped when the object goes. One that exists already is never used nor dropped.
class ScratchDatabase {
 public:
  ScratchDatabase(TVeskSQLConnection& connection, const std::string& like)
      : connection_(connection) {
    std::random_device random;
    for (int attempt = 0; attempt < 8 && name_.empty(); ++attempt) {
      std::ostringstream name;
      name << like.substr(0, 30) << "_verificar_" << getpid() << "_" << std::hex
           << (random() & 0xffffffu);
      if (!Rows(connection_,
                "select 1 from pg_database where datname = " + Enclosed(name.str(), '\''))
               .empty()) {
        continue;
      }
      try {
        connection_.ExecuteDirect("create database " + Enclosed(name.str(), '"') +
                                  " template template0");
        name_ = name.str();
      } catch (const std::exception&) {
        // Taken in between, or refused: tried again under another name, never dropped.
        if (attempt == 7) {
          throw;
        }
      }
    }
    if (name_.empty()) {
      throw std::runtime_error("não foi possível criar um banco de dados de verificação");
    }
  }
  ~ScratchDatabase() {
    try {
      connection_.ExecuteDirect("drop database if exists " + Enclosed(name_, '"') +
                                " with (force)");
    } catch (const std::exception&) {
      // The message of the run says what failed; a scratch database left is named there.
    }
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  const std::string& Name() const { return name_; }

 private:
  TVeskSQLConnection& connection_;
  std::string name_;
};

}  // namespace

int RunProvenPostgresBackup(Host& host, const Options& o, std::ostream& out, std::ostream& err,
                            const std::function<int()>& interrupted) {
  const auto start = Clock::now();
  TVeskSQLConnection* connection = nullptr;
  CallKeepingMessage([&] {
    host.Settle(o.export_name);
    connection = host.Module().SQLConnection;
  });
  if (o.verify) {
    const auto may_create = Rows(*connection,
                                 "select (rolcreatedb or rolsuper)::text from pg_roles where "
                                 "rolname = current_user");
    if (may_create.empty() || may_create.front().front() != "true") {
      return ReportFailure(o, "--verify precisa de um usuário que possa criar bancos de dados",
                           start, err);
    }
  }
  const std::string dump = host.DumpPath();
  const std::string final_path = o.file.empty() ? dump : o.file;
  const bool earlier_stands = tolvan::platform::FileExists(final_path);
  // Without --file the export replaces its own dump: the earlier one is kept aside under a name of
  // its own until the new one is proven.
  std::string kept;
  if (o.verify && o.file.empty() && earlier_stands) {
    kept = FreeNameBeside(dump, "anterior");
    fs::create_hard_link(tolvan::platform::Utf8Path(dump), tolvan::platform::Utf8Path(kept));
  }
  const auto put_back_earlier = [&] {
    if (!kept.empty()) {
      PutInPlace(kept, dump);
    }
  };

  RecordingFrame status(err, VerificationStatusSettings(o), VerificationStatusSettings(o).live);
  status.Begin();
  try {
    bool stop = false;
    status.DoCaptureLine("pg_dump de " + connection->GetDATABASENAME_KEY(), stop);
    CallKeepingMessage([&] { host.Export<tolvan::CriarBackupFn>("CriarBackup")(connection); });
    status.Finish(true);
  } catch (const std::exception& e) {
    status.Finish(false);
    out.flush();
    if (!kept.empty()) {
      // The export left the earlier dump at its name; the link aside is not needed.
      tolvan::platform::RemoveFile(kept);
    }
    if (tolvan::platform::InterruptSignal() != 0) {
      return interrupted();
    }
    return ReportFailure(o, e.what(), start, err);
  }

  std::string failure;
  BackupContents recorded;
  Clock::duration restore_time{};
  if (o.verify && tolvan::platform::InterruptSignal() == 0) {
    const std::string tools =
        tolvan::platform::ExecutableDirectory() + "PostgreSQL" + tolvan::platform::kPathDelimiter;
    const KeyParts key = SplitKey(connection->GetDATABASENAME_KEY());
    RecordingFrame verifying(err, VerificationStatusSettings(o), VerificationStatusSettings(o).live,
                             "verificando, ");
    verifying.Begin();
    bool stop = false;
    try {
      CallKeepingMessage([&] {
        verifying.DoCaptureLine("lendo o sumário do backup", stop);
        recorded = ReadDump(dump, tools);
        ScratchDatabase scratch(*connection, key.database);
        verifying.DoCaptureLine("restaurando em " + scratch.Name(), stop);
        const auto restore_start = Clock::now();
        const ToolRun restore = RunTool(
            Quote(tools + "pg_restore" + tolvan::platform::kExecutableSuffix) + " -h " +
                key.server + " -p " + key.port + " -U " + Quote(connection->GetParam("USER_NAME")) +
                " -d " + Quote(scratch.Name()) + " " + Quote(dump),
            connection->GetParam("PASSWORD"));
        restore_time = Clock::now() - restore_start;
        const auto problems = ProblemLines(SplitLines(restore.output));
        if (restore.code != 0 || !problems.empty()) {
          failure = "a restauração terminou com o código " + std::to_string(restore.code) + ":";
          for (const std::string& line : problems.empty() ? SplitLines(restore.output) : problems) {
            failure += "\n" + line;
          }
          return;
        }
        BackupContents restored;
        {
          TVeskSQLConnection copy;
          copy.DriverName = connection->DriverName;
          copy.Params = connection->Params;
          copy.ClientLibrary = connection->ClientLibrary;
          copy.SetParam("Database", key.server_and_port + ":" + scratch.Name());
          copy.Open();
          restored = ReadRestoredCopy(copy, verifying);
          copy.Close();
        }
        if (const auto difference = FirstDifference(recorded, restored)) {
          failure = *difference;
        }
      });
      verifying.Finish(true);
    } catch (const std::exception& e) {
      verifying.Finish(false);
      failure = e.what();
    }
  }
  if (tolvan::platform::InterruptSignal() != 0) {
    if (o.verify && o.file.empty()) {
      PutInPlace(dump, UnverifiedName(dump));
      put_back_earlier();
    }
    return interrupted();
  }
  if (!failure.empty()) {
    const std::string unverified = UnverifiedName(final_path);
    if (o.file.empty()) {
      PutInPlace(dump, unverified);
      put_back_earlier();
    } else {
      PutInPlace(dump, unverified);
    }
    return ReportFailure(o, VerificationFailure(failure, final_path, earlier_stands, unverified),
                         start, err);
  }
  if (!o.file.empty()) {
    PutInPlace(dump, final_path);
  }
  if (!kept.empty()) {
    tolvan::platform::RemoveFile(kept);
  }
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
  return kExitOk;
}

}  // namespace tolvan::cli
