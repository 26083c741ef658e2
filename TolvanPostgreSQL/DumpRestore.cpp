// The pg_dump and pg_restore runners, CriarBackup and CriarDataBaseVazia.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Guards.h"
#include "TolvanPostgreSQLUtil.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/PrivateFolder.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {

namespace {

constexpr const char* kPasswordVariable = "PGPASSWORD";

const std::string kTools[] = {"pg_dump", "pg_restore"};

std::vector<std::string> ToolList() {
  return {std::begin(kTools), std::end(kTools)};
}

std::string ServerText(const std::string& Host) {
  return Host.empty() ? "localhost" : CommandLineArgument(Host);
}

// A port text as a number; `fallback` when it is not a whole valid integer.
int32_t PortOf(const std::string& text, int32_t fallback) {
  if (text.empty()) {
    return fallback;
  }
  std::size_t used = 0;
  try {
    const long value = std::stol(text, &used);
    if (used != text.size() || value < INT32_MIN || value > INT32_MAX) {
      return fallback;
    }
    return static_cast<int32_t>(value);
  } catch (const std::exception&) {
    return fallback;
  }
}

// A custom-format dump begins with these letters; pg_restore reads it and checks it itself.
bool BeginsWithCustomMagic(const std::string& File) {
  std::ifstream in(detail::Utf8Path(File), std::ios::binary);
  char magic[5] = {};
  in.read(magic, sizeof magic);
  return in.gcount() == sizeof magic && std::string_view(magic, sizeof magic) == "PGDMP";
}

// pg_dump's tar archive begins with its table of contents; without it there is nothing to
// restore.
void RequireTableOfContents(const std::vector<vesk::TarMember>& members, const std::string& File) {
  if (members.empty() || members.front().Name != "toc.dat") {
    throw vesk::ETarArchiveDamaged("O arquivo \"" + File +
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
    std::filesystem::remove_all(detail::Utf8Path(path_), ignored);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  std::string File(const std::string& name) const {
    return path_ + platform::kPathDelimiter + name;
  }

 private:
  std::string path_;
};

// Writes the command file and runs the tool with the password in PGPASSWORD, and raises on
// failure. The password is in the tool's environment alone: the process's own environment is never
// changed, so no other program the host starts meanwhile inherits it, and a value the host had
// stays.
void RunTool(const std::string& CommandLine, const std::string& CommandFile,
             const std::string& Password) {
  const vesk::ScopedChildEnvironment password(kPasswordVariable, Password);
  const RunFolder folder;
  GravarArquivo(CommandLine, folder.File(CommandFile), true);
  std::string output;
  const int32_t result = WinExec32AndRedirectOutput(CommandLine, output, false, false);
  if (result == 0) {
    return;
  }
  // A failure the tool did not explain (or a tool that never started) is still a failure.
  if (detail::Trim(output).empty()) {
    throw std::runtime_error("Backup:\r\nError cod: " + std::to_string(result));
  }
  throw std::runtime_error("Backup:\r\n" + output);
}

// Drops the database a failed CriarDataBaseVazia made. When it cannot, the failure's message
// says what stayed where and how to remove it.
void ExcluirCopiaIncompleta(const std::exception_ptr& failure, TVeskDMConexao* DM,
                            const std::string& DatabaseSpec, const std::string& User,
                            const std::string& Password, const DatabaseKeyParts& target) {
  std::string why;
  try {
    ExcluirDataBase(DM, DatabaseSpec, User, Password);
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

DatabaseKeyParts SplitDatabaseKey(std::string Key) {
  DatabaseKeyParts parts;
  std::string server = PegarProximoToken(Key, ":");
  const std::string port = PegarAnteriorToken(server, "/");
  parts.server = server;
  parts.port = PortOf(port, 5432);
  parts.database = Key;
  return parts;
}

std::string CommandLineArgument(const std::string& Text) {
  return vesk::QuoteArgument(Text);
}

std::string ProgramArgument(const std::string& Path) {
  // A program path never ends in a backslash, so the quoting reads the same under the
  // program-name rule.
  return vesk::QuoteArgument(Path);
}

std::string QuotedPath(const std::string& Path) {
  std::size_t backslashes = 0;
  while (backslashes < Path.size() && Path[Path.size() - 1 - backslashes] == '\\') {
    ++backslashes;
  }
  // Backslashes before the closing quote would escape it: they are doubled.
  return "\"" + Path + std::string(backslashes, '\\') + "\"";
}

void RecusarAspas(const std::string& What, const std::string& Path) {
  if (Path.find('"') != std::string::npos) {
    throw std::runtime_error("Backup:\r\n" + What + " \"" + Path +
                             "\" tem aspas duplas (\"), que não podem fazer parte de um nome de "
                             "arquivo ou pasta. Use um nome sem aspas.");
  }
}

bool NomeLidoComoConexao(const std::string& Database) {
  auto begins = [&Database](std::string_view prefix) {
    return Database.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), Database.begin(), [](char a, char b) {
             return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
           });
  };
  return Database.find('=') != std::string::npos || begins("postgresql://") ||
         begins("postgres://") || begins("-");
}

std::string ConexaoSomenteDoBanco(const std::string& Database) {
  std::string text = "dbname='";
  for (const char c : Database) {
    if (c == '\\' || c == '\'') {
      text += '\\';
    }
    text += c;
  }
  return text + "'";
}

std::string DatabaseArgument(const std::string& Prefix, const std::string& Database) {
  // The tools expand a connection string given as the database; the first one is expanded and
  // its own dbname is read as a name, so the name reaches the server as it stands. Host, port
  // and user come before it on the line and it sets none of them.
  if (NomeLidoComoConexao(Database)) {
    // Appended, not prefixed to a temporary: GCC 12 misreads that as an overlapping copy.
    std::string dbname = "--dbname=";
    dbname += ConexaoSomenteDoBanco(Database);
    std::string argument = " ";
    argument += CommandLineArgument(dbname);
    return argument;
  }
  return Prefix + CommandLineArgument(Database);
}

std::string PgDumpCommandLine(const std::string& ToolFolder, const std::string& Host,
                              const std::string& Port, const std::string& Database,
                              const std::string& User, const std::string& OutputFile,
                              bool SchemaOnly) {
  return ProgramArgument(ToolFolder + "pg_dump" + platform::kExecutableSuffix) + " -h " +
         ServerText(Host) + " -p " + Port + " -U " + CommandLineArgument(User) + " -F t " +
         (SchemaOnly ? "-s" : "") + " -f " + QuotedPath(OutputFile) +
         DatabaseArgument(" ", Database);
}

std::string PgRestoreCommandLine(const std::string& ToolFolder, const std::string& Host,
                                 const std::string& Port, const std::string& Database,
                                 const std::string& User, const std::string& InputFile) {
  return ProgramArgument(ToolFolder + "pg_restore" + platform::kExecutableSuffix) + " -h " +
         ServerText(Host) + " -p " + Port + " -U " + CommandLineArgument(User) +
         DatabaseArgument(" -d ", Database) + " " + QuotedPath(InputFile);
}

void ConferirDumpTar(const std::string& InputFile) {
  if (!platform::IsPlainFile(InputFile) || BeginsWithCustomMagic(InputFile)) {
    return;
  }
  try {
    RequireTableOfContents(vesk::ReadTarArchive(InputFile), InputFile);
  } catch (const vesk::ETarArchiveDamaged& error) {
    throw std::runtime_error("Backup:\r\n" + std::string(error.what()) +
                             " Nada foi restaurado: use um backup completo.");
  } catch (const std::system_error& error) {
    throw std::runtime_error("Backup:\r\nNão foi possível ler o arquivo a restaurar \"" +
                             InputFile + "\": " + ReadErrorReason(error) + ".");
  }
}

void ExecutarPgDump(const std::string& ToolFolder, const std::string& Host, const std::string& Port,
                    const std::string& Database, const std::string& User,
                    const std::string& Password, const std::string& OutputFile, bool SchemaOnly) {
  RecusarAspas(kToolFolderWhat, ToolFolder);
  RecusarAspas("O arquivo de backup", OutputFile);
  // The dump goes to a name of its own: a good file of the final name stays whole until a dump
  // that succeeded replaces it.
  std::optional<vesk::ProductFile> product;
  try {
    product.emplace(OutputFile);
  } catch (const std::system_error& error) {
    throw std::runtime_error("Backup:\r\nNão foi possível criar o arquivo de backup \"" +
                             OutputFile + "\": " + vesk::FileErrorReason(error) + ".");
  }
  try {
    RunTool(PgDumpCommandLine(ToolFolder, Host, Port, Database, User, product->Path(), SchemaOnly),
            "pg_dump.cmd", Password);
  } catch (const EToolWaitFailed&) {
    // pg_dump ran, but how it ended is unknown: what it wrote may be whole, and is kept.
    product->Keep();
    throw std::runtime_error(
        "Backup:\r\nNão foi possível saber se o pg_dump terminou bem. O que ele gravou ficou em "
        "\"" +
        product->Path() + "\"; o arquivo \"" + OutputFile +
        "\" não foi alterado. Confira esse arquivo antes de usá-lo.");
  }
  // A tool that ended well but left no whole archive (an empty file, one cut short) has made no
  // backup: the earlier file stays.
  try {
    RequireTableOfContents(vesk::ReadTarArchive(product->Path()), product->Path());
  } catch (const std::exception& error) {
    throw std::runtime_error(
        "Backup:\r\nO pg_dump terminou sem erro, mas o backup que ele "
        "gravou não está completo; o arquivo \"" +
        OutputFile + "\" não foi alterado.\r\n" + error.what());
  }
  try {
    product->Commit();
  } catch (const vesk::EProductNotPlaced& error) {
    throw std::runtime_error("Backup:\r\n" + std::string(error.what()));
  }
}

void ExecutarPgRestore(const std::string& ToolFolder, const std::string& Host,
                       const std::string& Port, const std::string& Database,
                       const std::string& User, const std::string& Password,
                       const std::string& InputFile) {
  RecusarAspas(kToolFolderWhat, ToolFolder);
  RecusarAspas("O arquivo a restaurar", InputFile);
  // Given a cut archive, pg_restore spins at its end without end, or restores what is there and
  // ends with 0.
  ConferirDumpTar(InputFile);
  RunTool(PgRestoreCommandLine(ToolFolder, Host, Port, Database, User, InputFile), "pg_restore.cmd",
          Password);
}

void CriarBackup(TVeskSQLConnection* Conn) {
  const std::string tools = ToolFolder();
  const DatabaseKeyParts key = SplitDatabaseKey(Conn->GetDATABASENAME_KEY());
  const std::string user = Conn->GetParam("USER_NAME");
  const std::string password = Conn->GetParam("PASSWORD");
  const std::string file = TempFolder() + key.database + ".dump";

  RecusarAspas("O arquivo de backup", file);
  VerificarVersaoFerramentas(Conn, tools, ToolList());
  Conn->Close();
  detail::WithFinally(
      [&] {
        ExecutarPgDump(tools, key.server, std::to_string(key.port), key.database, user, password,
                       file, false);
      },
      [&] { Conn->Open(); });
}

void CriarDataBaseVazia(TVeskDMConexao* DM, const std::string& DatabaseSpec) {
  TVeskSQLConnection* conn = DM->SQLConnection;
  const std::string tools = ToolFolder();
  const std::string schema_file = TempFolder() + "BkpTemp.tar";
  const DatabaseKeyParts key = SplitDatabaseKey(conn->GetDATABASENAME_KEY());
  const std::string user = conn->GetParam("USER_NAME");
  const std::string password = conn->GetParam("PASSWORD");

  RecusarAspas("O arquivo temporário", schema_file);
  VerificarVersaoFerramentas(conn, tools, ToolList());
  conn->Close();
  detail::WithFinally(
      [&] {
        detail::ScopeExit remove([&] { platform::RemoveFile(schema_file); });
        ExecutarPgDump(tools, key.server, std::to_string(key.port), key.database, user, password,
                       schema_file, true);

        DatabaseKeyParts target = key;
        target.database = DatabaseSpec;
        if (DatabaseSpec.find(':') != std::string::npos) {
          target = SplitDatabaseKey(DatabaseSpec);
        }
        // Created where the restore goes: on the named server when DatabaseSpec names one,
        // reached with the template's credentials. A run that does not end well leaves no
        // half-made copy behind.
        bool created = false;
        try {
          CriarDataBase(DM, DatabaseSpec, user, password, created);
          ExecutarPgRestore(tools, target.server, std::to_string(target.port), target.database,
                            user, password, schema_file);
        } catch (...) {
          if (created) {
            ExcluirCopiaIncompleta(std::current_exception(), DM, DatabaseSpec, user, password,
                                   target);
          }
          throw;
        }
      },
      [&] { conn->Open(); });
}

}  // namespace tolvan::postgresql
