// Database creation: a new database in dialect 3 equipped with the embedded declaration scripts
// (CriarDataBase, CriarDataBaseFD), and a new database with the structure of the current one and
// none of its data (CriarDataBaseVazia).
#include <chrono>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TolvanFirebirdUtil.h"
#include "platform/DynamicLibrary.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/Text.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {

namespace {

// The data-access library's own components.
class LibraryComponents : public CreationComponents {
 public:
  LibraryComponents()
      : transaction_(std::make_unique<TVeskIBTransaction>()),
        database_(std::make_unique<TVeskIBDatabase>()) {}
  ~LibraryComponents() override {
    // Runner, then connection, then transaction.
    script_.reset();
    database_.reset();
    transaction_.reset();
  }
  LibraryComponents(const LibraryComponents&) = delete;
  LibraryComponents& operator=(const LibraryComponents&) = delete;

  void Create(const std::string& database_name, const std::vector<std::string>& clauses) override {
    database_->DatabaseName = database_name;
    database_->DefaultTransaction = transaction_.get();
    database_->Params.clear();
    database_->Params = clauses;
    database_->LoginPrompt = false;
    database_->IdleTimer = 0;
    database_->SQLDialect = 3;
    database_->Trace = false;
    database_->CreateDatabase();
  }
  void Connect() override { database_->Open(); }
  void StartTransaction() override { transaction_->StartTransaction(); }
  void RunScript(const std::vector<std::string>& lines) override {
    if (!script_) {
      script_ = std::make_unique<TVeskIBScript>();
      script_->Database = database_.get();
      script_->Transaction = transaction_.get();
    }
    script_->Script.clear();
    script_->Script = lines;
    script_->ExecuteScript();
  }
  void CallExternalFunctions() override {
    // One function of each library the declarations name.
    RunScript({"SET TERM ^ ;", "EXECUTE BLOCK AS DECLARE N INTEGER; DECLARE D VARCHAR(100); BEGIN",
               "  SELECT STRLEN('a'), SDOW(CURRENT_TIMESTAMP) FROM RDB$DATABASE INTO :N, :D;",
               "END^", "SET TERM ; ^"});
  }

 private:
  std::unique_ptr<TVeskIBTransaction> transaction_;
  std::unique_ptr<TVeskIBDatabase> database_;
  std::unique_ptr<TVeskIBScript> script_;
};

std::string ConnectionParam(TVeskDMConexao* DM, const char* key) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    return {};
  }
  return DM->SQLConnection->GetParam(key);
}

}  // namespace

std::vector<std::string> FinalScript() {
  return {std::string(kAddMonthsDeclaration), std::string(kErrorException)};
}

std::vector<std::string> CreationClauses(const std::string& user, const std::string& password) {
  return {"USER '" + support::Doubled(user, '\'') + "'",
          "PASSWORD '" + support::Doubled(password, '\'') + "'"};
}

std::string CreatedNote(const std::vector<std::string>& committed_scripts) {
  std::string note = "O banco de dados foi criado";
  if (committed_scripts.empty()) {
    return note + ".";
  }
  note += " e guarda as declarações dos scripts ";
  for (std::size_t i = 0; i < committed_scripts.size(); ++i) {
    note += (i == 0 ? "" : i + 1 == committed_scripts.size() ? " e " : ", ") + committed_scripts[i];
  }
  return note + ", gravadas antes da falha.";
}

void EnsureComponentsClient(const std::string& app_dir) {
  const std::string copy = app_dir + tolvan::platform::SharedLibraryFileName("ibclient64");
  if (tolvan::platform::FileExists(copy)) {
    return;
  }
  const std::string source = app_dir + tolvan::platform::SharedLibraryFileName("fbclient", "2");
  // Without a client in the program's folder the components use the system's, where it has one.
  if (tolvan::platform::ClientLibrariesComeWithTheSystem() &&
      !tolvan::platform::FileExists(source)) {
    return;
  }
  if (!CopyFile(source, copy, false)) {
    throw std::runtime_error("Não foi possível copiar " + source + " para " + copy);
  }
}

std::unique_ptr<CreationComponents> LibraryCreationComponents() {
  return std::make_unique<LibraryComponents>();
}

namespace {

bool DeclaresAFunction(std::string_view script) {
  static constexpr std::string_view kDeclare = "DECLARE EXTERNAL FUNCTION";
  for (std::size_t i = 0; i + kDeclare.size() <= script.size(); ++i) {
    if (support::EqualsIgnoringCase(script.substr(i, kDeclare.size()), kDeclare)) {
      return true;
    }
  }
  return false;
}

// A note on a creation that succeeded reaches the operator as information, never in the log:
// a "CriarDataBase" log entry tells the host that the creation failed.
void ShowNote(const std::string& text) {
  try {
    VeskMessageDlg(text, TMsgDlgType::mtInformation, {"Ok"}, 0);
  } catch (...) {
    // The database is made; a note that cannot be shown changes nothing of that.
  }
}

}  // namespace

void CreateDatabaseRoutine(TVeskDMConexao* DM, const std::string& database_name,
                           const std::string& user, const std::string& password,
                           const CreationComponentsFactory& factory, const std::string& app_dir) {
  bool created = false;
  // A script counts once the runner has committed it whole.
  std::vector<std::string> committed;
  try {
    EnsureComponentsClient(app_dir);
    std::unique_ptr<CreationComponents> components = factory();
    const bool has_module = DM != nullptr && DM->SQLConnection != nullptr;
    const std::string clause_user = user.empty() ? ConnectionParam(DM, "USER_NAME") : user;
    const std::string clause_password =
        password.empty() ? ConnectionParam(DM, "PASSWORD") : password;
    if (!has_module && clause_user.empty()) {
      throw std::runtime_error("Usuário não informado, e não há conexão de onde obtê-lo");
    }
    if (!has_module && clause_password.empty()) {
      throw std::runtime_error("Senha não informada, e não há conexão de onde obtê-la");
    }
    const std::string server = support::SplitDatabaseKey(database_name).Server();
    const std::chrono::seconds limit = ConnectLimitOf(DM);
    AttachWithinLimit(server, limit, [&] {
      components->Create(database_name, CreationClauses(clause_user, clause_password));
    });
    created = true;
    AttachWithinLimit(server, limit, [&] { components->Connect(); });
    components->StartTransaction();
    for (const char* name : {"fbudf", "ib_udf2", "declarations_all_dialect3"}) {
      components->RunScript(ScriptLines(ScriptResource(name)));
      committed.emplace_back(name);
    }
    components->RunScript(FinalScript());
    // Declaring needs nothing of the server; calling needs its UDF libraries and a firebird.conf
    // that lets it load them (Firebird 4 ships none and loads none by default).
    try {
      components->CallExternalFunctions();
    } catch (const std::exception& e) {
      ShowNote("As funções externas (UDF) foram declaradas no banco " + database_name +
               ", mas o servidor não as executa: " + e.what() +
               "\r\nPara usá-las, ponha as bibliotecas fbudf e ib_udf na pasta UDF do servidor e "
               "configure UdfAccess = Restrict UDF no firebird.conf dele.");
    }
    // A build without the FreeAdhocUDF script embeds a placeholder that declares nothing; a note
    // says so, so that a later "function unknown" has its explanation.
    if (!DeclaresAFunction(ScriptResource("declarations_all_dialect3"))) {
      ShowNote(
          "O script declarations_all_dialect3 desta versão do plug-in não declara nenhuma "
          "função FreeAdhocUDF (F_...): o banco " +
          database_name + " foi criado sem elas.");
    }
  } catch (...) {
    std::string message;
    try {
      throw;
    } catch (const std::exception& e) {
      message = e.what();
    } catch (...) {
      message = "Falha desconhecida";
    }
    message += "\r\n" + database_name;
    if (created) {
      message += "\r\n" + CreatedNote(committed);
    }
    try {
      VeskShowMessage(message);
      WriteLog(message, -1, "CriarDataBase");
    } catch (...) {
      // Nothing of the creation reaches the host as an exception.
    }
  }
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                   const std::string& Password) {
  CreateDatabaseRoutine(DM, Database, User, Password, LibraryCreationComponents,
                        tolvan::platform::ExecutableDirectory());
}

std::string CriarDataBaseFDName(const std::string& server, int32_t port, const std::string& path) {
  return server + "/" + std::to_string(port) + ":" + path;
}

void CriarDataBaseFD(const std::string& Server, int32_t Port, const std::string& Database,
                     const std::string& User, const std::string& Password) {
  CreateDatabaseRoutine(nullptr, CriarDataBaseFDName(Server, Port, Database), User, Password,
                        LibraryCreationComponents, tolvan::platform::ExecutableDirectory());
}

std::string BackupFileName(const std::string& database_name) {
  // The extension is the text after the last "." of the last path element.
  const std::size_t element = database_name.find_last_of("\\/:");
  const std::size_t dot = database_name.rfind('.');
  if (dot != std::string::npos && (element == std::string::npos || dot > element)) {
    return database_name.substr(0, dot) + ".fbk";
  }
  return database_name + ".fbk";
}

std::string EmptyCopyTarget(const std::string& database_name, const std::string& current_key) {
  return support::OnServerOfKey(database_name, current_key,
                                support::KeyWithoutColon::NamesNoServer);
}

void CriarDataBaseVazia(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                        const std::string& Password, bool InactiveIndexes, const GbakCall& backup,
                        const GbakCall& restore) {
  TVeskSQLConnection& connection = support::ConnectionOf(DM, "CriarDataBaseVazia");
  const std::string file = BackupFileName(Database);
  const std::string current = connection.GetDATABASENAME_KEY();
  // The backup goes through the service manager: of the current database's server when its name
  // has a host, and then the file is written on that host, where only the server can tell what
  // stands at its name. A file of this machine (no host, or a server of this machine reached
  // through the loopback) is checked here.
  const std::string server = support::SplitOffServer(current).server;
  const std::string backup_host = support::IsThisMachine(server) ? std::string() : server;
  // The metadata-only backup would take the place of what stands there (an operator's full
  // backup, as like as not): refused while the host's connection is still open.
  if (backup_host.empty() && tolvan::platform::PathEntryExists(file)) {
    throw std::runtime_error("CriarDataBaseVazia: o arquivo \"" + file +
                             "\" já existe e seria substituído pela cópia da estrutura do banco."
                             "\r\nMova ou renomeie esse arquivo, ou escolha outro nome para o novo "
                             "banco; nada foi alterado.");
  }
  support::WithConnectionClosed(connection, [&] {
    backup(current, connection.GetParam("USER_NAME"), connection.GetParam("PASSWORD"), file, true,
           nullptr, false, false, DM->ExpectedClientVersion, connection.ClientLibrary, true);
    const std::string target = EmptyCopyTarget(Database, current);
    const std::string user = User.empty() ? connection.GetParam("USER_NAME") : User;
    const std::string password = Password.empty() ? connection.GetParam("PASSWORD") : Password;
    try {
      restore(target, user, password, file, true, nullptr, false, false, DM->ExpectedClientVersion,
              connection.ClientLibrary, InactiveIndexes);
    } catch (const ERestoreNotOnline&) {
      // The new database was kept, and its structure's backup with it.
      throw;
    } catch (const std::exception& e) {
      // The structure's backup this run made goes with the database that did not come to be.
      const std::string text = support::EndedWithLineBreak(e.what());
      if (!backup_host.empty()) {
        throw std::runtime_error(text + "A cópia da estrutura \"" + file + "\" ficou no servidor " +
                                 backup_host + ": apague esse arquivo lá antes de tentar de novo.");
      }
      if (tolvan::platform::IsPlainFile(file) && !tolvan::platform::RemoveFile(file)) {
        throw std::runtime_error(text + "A cópia da estrutura \"" + file +
                                 "\" ficou nesta máquina e não pôde ser apagada: apague esse "
                                 "arquivo antes de tentar de novo.");
      }
      throw;
    }
  });
}

void CriarDataBaseVazia(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                        const std::string& Password, bool InactiveIndexes) {
  CriarDataBaseVazia(DM, Database, User, Password, InactiveIndexes, Backup, Restore);
}

}  // namespace tolvan::firebird
