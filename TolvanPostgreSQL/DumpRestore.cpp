// The pg_dump and pg_restore runners, CriarBackup and CriarDataBaseVazia.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "TolvanPostgreSQLUtil.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/PrivateFolder.h"
#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/ProductFile.h"
#include "tolvan/support/Quoting.h"
#include "tolvan/support/TarArchive.h"
#include "tolvan/support/Text.h"
#include "tolvan/support/ToolRunner.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {

namespace {

using support::Quote;
using support::QuoteArgument;

// The tools read the password from here; it goes to the tool's environment alone.
constexpr const char* kPasswordVariable = "PGPASSWORD";

std::vector<std::string> ToolList() {
  return {"pg_dump", "pg_restore"};
}

std::string ServerText(const std::string& host) {
  return host.empty() ? "localhost" : QuoteArgument(host);
}

// A custom-format dump begins with these letters; pg_restore reads it and checks it itself.
bool BeginsWithCustomMagic(const std::string& file) {
  std::ifstream in(support::Utf8Path(file), std::ios::binary);
  char magic[5] = {};
  in.read(magic, sizeof magic);
  return in.gcount() == sizeof magic && std::string_view(magic, sizeof magic) == "PGDMP";
}

// pg_dump's tar archive begins with its table of contents; without it there is nothing to
// restore.
void RequireTableOfContents(const std::vector<support::TarMember>& members,
                            const std::string& file) {
  if (members.empty() || members.front().Name != "toc.dat") {
    throw support::ETarArchiveDamaged("O arquivo \"" + file +
                                      "\" não é um backup do pg_dump: falta o sumário (toc.dat) "
                                      "no início dele.");
  }
}

std::string ReadErrorReason(const std::system_error& error) {
  const std::error_condition condition = error.code().default_error_condition();
  if (condition == std::errc::no_such_file_or_directory) {
    return "o arquivo não existe";
  }
  if (condition == std::errc::permission_denied ||
      condition == std::errc::operation_not_permitted) {
    return "não há permissão para lê-lo";
  }
  return "erro " + std::to_string(error.code().value()) + " do sistema";
}

// A folder of the run's own under the toolkit's temporary folder, which other local users may
// share: made new with a random name and mode 0700, so that nothing another user put there can
// block the run or read what it writes. It goes, with what it holds, when the run ends, however
// it ends.
class RunFolder {
 public:
  RunFolder() {
    const std::string base = PegarDirTemp() + "tolvan-";
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
      char digits[17];
      std::snprintf(digits, sizeof digits, "%08x%08x", random(), random());
      const std::string path = base + digits;
      // CreatePrivateFolder never takes a folder that stood there: a name in use is passed by.
      if (platform::CreatePrivateFolder(path)) {
        path_ = path;
        return;
      }
      if (attempt == 16) {
        throw std::system_error(std::make_error_code(std::errc::file_exists),
                                "não foi possível criar uma pasta temporária em " + base);
      }
    }
  }
  ~RunFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(support::Utf8Path(path_), ignored);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  std::string File(const std::string& name) const {
    return path_ + platform::kPathDelimiter + name;
  }

 private:
  std::string path_;
};

// Writes the command file, runs the tool with the password in PGPASSWORD, and raises on failure.
// The password is in the tool's environment alone: the process's own environment is never
// changed, so no other program the host starts meanwhile inherits it, and a value the host had
// stays.
void RunTool(const std::string& command_line, const std::string& command_file,
             const std::string& password) {
  const RunFolder folder;
  GravarArquivo(command_line, folder.File(command_file), true);
  const support::ToolOutcome run =
      support::RunTool({command_line, {{kPasswordVariable, password}}}, nullptr, false);
  if (run.code == 0) {
    return;
  }
  // A failure the tool did not explain (or a tool that never started) is still a failure.
  if (support::IsBlank(run.output)) {
    throw std::runtime_error("Backup:\r\nError cod: " + std::to_string(run.code));
  }
  throw std::runtime_error("Backup:\r\n" + run.output);
}

// Drops the database a failed CriarDataBaseVazia made. When it cannot, the failure's message
// says what stayed where and how to remove it.
void DropIncompleteCopy(const std::exception_ptr& failure, TVeskDMConexao* DM,
                        const std::string& database, const std::string& user,
                        const std::string& password, const RunnerKey& target) {
  std::string why;
  try {
    DropCreatedDatabase(DM, database, user, password);
    return;
  } catch (const std::exception& error) {
    why = error.what();
  }
  std::string message;
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    message = error.what();
  } catch (...) {
  }
  throw std::runtime_error(
      message + "\r\n\r\nO banco de dados \"" + target.database +
      "\", que esta cópia criou, ficou incompleto no servidor " +
      (target.server.empty() ? std::string("localhost") : target.server) + ", porta " +
      std::to_string(target.port) + ", porque não foi possível excluí-lo: " + why +
      "\r\nExclua-o antes de tentar de novo, com o comando SQL: DROP DATABASE " +
      QuotedIdentifier(target.database) + ";");
}

}  // namespace

std::string ToolFolder() {
  return platform::ExecutableDirectory() + "PostgreSQL" + platform::kPathDelimiter;
}

std::string TempFolder() {
  return platform::ExecutableDirectory() + "temp" + platform::kPathDelimiter;
}

RunnerKey SplitRunnerKey(const std::string& key) {
  const support::DatabaseKey parts = support::SplitDatabaseKey(key);
  const support::ServerAndPort server = support::SplitPortAtLastSlash(parts.server_part);
  return {server.server, support::PortNumber(server.port, 5432), parts.path};
}

void RefuseDoubleQuoteIn(const std::string& what, const std::string& path) {
  support::RefuseDoubleQuote(path, "Backup:\r\n" + what + " \"" + path +
                                       "\" tem aspas duplas (\"), que não podem fazer parte de um "
                                       "nome de arquivo ou pasta. Use um nome sem aspas.");
}

bool ReadsAsConnectionString(const std::string& database) {
  return database.find('=') != std::string::npos ||
         support::EqualsIgnoringCase(database.substr(0, 13), "postgresql://") ||
         support::EqualsIgnoringCase(database.substr(0, 11), "postgres://") ||
         database.rfind('-', 0) == 0;
}

std::string ConnectionStringOfName(const std::string& database) {
  std::string text = "dbname='";
  for (const char c : database) {
    if (c == '\\' || c == '\'') {
      text += '\\';
    }
    text += c;
  }
  return text + "'";
}

std::string DatabaseArgument(const std::string& prefix, const std::string& database) {
  // The tools expand a connection string given as the database; the first one is expanded and
  // its own dbname is read as a name, so the name reaches the server as it stands. Host, port
  // and user come before it on the line and it sets none of them.
  if (ReadsAsConnectionString(database)) {
    // Appended, not prefixed to a temporary: GCC 12 misreads that as an overlapping copy.
    std::string dbname = "--dbname=";
    dbname += ConnectionStringOfName(database);
    std::string argument = " ";
    argument += QuoteArgument(dbname);
    return argument;
  }
  return prefix + QuoteArgument(database);
}

std::string PgDumpCommandLine(const std::string& tool_folder, const std::string& host,
                              const std::string& port, const std::string& database,
                              const std::string& user, const std::string& output_file,
                              bool schema_only) {
  return QuoteArgument(tool_folder + "pg_dump" + platform::kExecutableSuffix) + " -h " +
         ServerText(host) + " -p " + port + " -U " + QuoteArgument(user) + " -F t " +
         (schema_only ? "-s" : "") + " -f " + QuoteArgument(output_file, Quote::Always) +
         DatabaseArgument(" ", database);
}

std::string PgRestoreCommandLine(const std::string& tool_folder, const std::string& host,
                                 const std::string& port, const std::string& database,
                                 const std::string& user, const std::string& input_file) {
  return QuoteArgument(tool_folder + "pg_restore" + platform::kExecutableSuffix) + " -h " +
         ServerText(host) + " -p " + port + " -U " + QuoteArgument(user) +
         DatabaseArgument(" -d ", database) + " " + QuoteArgument(input_file, Quote::Always);
}

void RefuseDamagedTarDump(const std::string& input_file) {
  if (!platform::IsPlainFile(input_file) || BeginsWithCustomMagic(input_file)) {
    return;
  }
  try {
    RequireTableOfContents(support::ReadTarArchive(input_file), input_file);
  } catch (const support::ETarArchiveDamaged& error) {
    throw std::runtime_error("Backup:\r\n" + std::string(error.what()) +
                             " Nada foi restaurado: use um backup completo.");
  } catch (const std::system_error& error) {
    throw std::runtime_error("Backup:\r\nNão foi possível ler o arquivo a restaurar \"" +
                             input_file + "\": " + ReadErrorReason(error) + ".");
  }
}

void ExecutarPgDump(const std::string& ToolFolder, const std::string& Host, const std::string& Port,
                    const std::string& Database, const std::string& User,
                    const std::string& Password, const std::string& OutputFile, bool SchemaOnly) {
  RefuseDoubleQuoteIn(kToolFolderWhat, ToolFolder);
  RefuseDoubleQuoteIn("O arquivo de backup", OutputFile);
  // The dump goes to a name of its own: a good file of the final name stays whole until a dump
  // that succeeded replaces it.
  support::ProductSteps steps;
  steps.final_path = OutputFile;
  steps.heading = "Backup:\r\n";
  steps.not_created = [&](const std::string& reason) {
    return "Backup:\r\nNão foi possível criar o arquivo de backup \"" + OutputFile +
           "\": " + reason + ".";
  };
  steps.outcome_unknown = [&](const support::ToolWaitFailed&, const std::string& kept_at) {
    return "Backup:\r\nNão foi possível saber se o pg_dump terminou bem. O que ele gravou ficou "
           "em \"" +
           kept_at + "\"; o arquivo \"" + OutputFile +
           "\" não foi alterado. Confira esse arquivo antes de usá-lo.";
  };
  support::MakeProduct(steps, [&](const std::string& written) {
    RunTool(PgDumpCommandLine(ToolFolder, Host, Port, Database, User, written, SchemaOnly),
            "pg_dump.cmd", Password);
    // A tool that ended well but left no whole archive (an empty file, one cut short) has made
    // no backup: the earlier file stays.
    try {
      RequireTableOfContents(support::ReadTarArchive(written), written);
    } catch (const std::exception& error) {
      throw std::runtime_error(
          "Backup:\r\nO pg_dump terminou sem erro, mas o backup que ele "
          "gravou não está completo; o arquivo \"" +
          OutputFile + "\" não foi alterado.\r\n" + error.what());
    }
  });
}

void ExecutarPgRestore(const std::string& ToolFolder, const std::string& Host,
                       const std::string& Port, const std::string& Database,
                       const std::string& User, const std::string& Password,
                       const std::string& InputFile) {
  RefuseDoubleQuoteIn(kToolFolderWhat, ToolFolder);
  RefuseDoubleQuoteIn("O arquivo a restaurar", InputFile);
  // Given a cut archive, pg_restore spins at its end without end, or restores what is there and
  // ends with 0.
  RefuseDamagedTarDump(InputFile);
  RunTool(PgRestoreCommandLine(ToolFolder, Host, Port, Database, User, InputFile), "pg_restore.cmd",
          Password);
}

void CriarBackup(TVeskSQLConnection* Conn) {
  const std::string tools = ToolFolder();
  const RunnerKey key = SplitRunnerKey(Conn->GetDATABASENAME_KEY());
  const std::string user = Conn->GetParam("USER_NAME");
  const std::string password = Conn->GetParam("PASSWORD");
  const std::string file = TempFolder() + key.database + ".dump";

  RefuseDoubleQuoteIn("O arquivo de backup", file);
  VerificarVersaoFerramentas(Conn, tools, ToolList());
  support::WithConnectionClosed(*Conn, [&] {
    ExecutarPgDump(tools, key.server, std::to_string(key.port), key.database, user, password, file,
                   false);
  });
}

void CriarDataBaseVazia(TVeskDMConexao* DM, const std::string& DatabaseSpec) {
  TVeskSQLConnection* conn = DM->SQLConnection;
  const std::string tools = ToolFolder();
  const std::string schema_file = TempFolder() + "BkpTemp.tar";
  const RunnerKey key = SplitRunnerKey(conn->GetDATABASENAME_KEY());
  const std::string user = conn->GetParam("USER_NAME");
  const std::string password = conn->GetParam("PASSWORD");

  RefuseDoubleQuoteIn("O arquivo temporário", schema_file);
  VerificarVersaoFerramentas(conn, tools, ToolList());
  support::WithConnectionClosed(*conn, [&] {
    const support::ScopeExit remove([&] { platform::RemoveFile(schema_file); });
    ExecutarPgDump(tools, key.server, std::to_string(key.port), key.database, user, password,
                   schema_file, true);

    RunnerKey target = key;
    target.database = DatabaseSpec;
    if (DatabaseSpec.find(':') != std::string::npos) {
      target = SplitRunnerKey(DatabaseSpec);
    }
    // Created where the restore goes: on the named server when DatabaseSpec names one, reached
    // with the template's credentials. A run that does not end well leaves no half-made copy
    // behind.
    bool created = false;
    try {
      CriarDataBase(DM, DatabaseSpec, user, password, created);
      ExecutarPgRestore(tools, target.server, std::to_string(target.port), target.database, user,
                        password, schema_file);
    } catch (...) {
      if (created) {
        DropIncompleteCopy(std::current_exception(), DM, DatabaseSpec, user, password, target);
      }
      throw;
    }
  });
}

}  // namespace tolvan::postgresql
