// The creation routine over stand-in components, the client copy, and the empty copy over
// recorded gbak calls on the scripted driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Recorders.h"
#include "TolvanFirebirdUtil.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "scripted_driver/ScriptedDriver.h"
#include "vesk/VeskPack5.h"

namespace {

using tolvan::firebird::CreationComponents;

const std::string kCopyName = tolvan::platform::SharedLibraryFileName("ibclient64");
const std::string kClientName = tolvan::platform::SharedLibraryFileName("fbclient", "2");

enum class Step { Create, Connect, Start, Script1, Script2, Script3, FinalScript, Functions, None };

struct Record {
  std::vector<std::string> calls;
  std::string name;
  std::vector<std::string> clauses;
  std::vector<std::vector<std::string>> scripts;
  bool released = false;
  bool functions_called = false;
};

class FakeComponents : public CreationComponents {
 public:
  FakeComponents(Record& record, Step fail) : record_(record), fail_(fail) {}
  ~FakeComponents() override { record_.released = true; }
  FakeComponents(const FakeComponents&) = delete;
  FakeComponents& operator=(const FakeComponents&) = delete;

  void Create(const std::string& name, const std::vector<std::string>& clauses) override {
    record_.calls.push_back("Create");
    record_.name = name;
    record_.clauses = clauses;
    Maybe(Step::Create, "I/O error during \"open O_CREAT\" operation");
  }
  void Connect() override {
    record_.calls.push_back("Connect");
    Maybe(Step::Connect, "connection refused");
  }
  void StartTransaction() override {
    record_.calls.push_back("StartTransaction");
    Maybe(Step::Start, "transaction refused");
  }
  void RunScript(const std::vector<std::string>& lines) override {
    record_.calls.push_back("RunScript");
    record_.scripts.push_back(lines);
    Maybe(static_cast<Step>(static_cast<int>(Step::Script1) + scripts_run_++), "statement refused");
  }
  void CallExternalFunctions() override {
    record_.functions_called = true;
    Maybe(Step::Functions, "Access to UDF library \"ib_udf\" is denied by server administrator");
  }

 private:
  void Maybe(Step step, const char* message) {
    if (step == fail_) {
      throw TVeskDriverError(message);
    }
  }
  Record& record_;
  Step fail_;
  int scripts_run_ = 0;
};

class TempFolder {
 public:
  // A folder of its own: test processes run side by side (the asan lane runs two at once, and
  // ASan gives the fixtures of two processes the same addresses), and one must never remove
  // another's files.
  TempFolder() {
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      const fs::path candidate = fs::path(tolvan::platform::TemporaryDirectory()) /
                                 ("firebird_create_" + std::to_string(random()));
      if (fs::create_directory(candidate)) {
        path_ = candidate;
      } else if (attempt == 100) {
        throw std::runtime_error("cannot create a folder of its own in the temporary folder");
      }
    }
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string dir() const {
    return path_.string() + static_cast<char>(fs::path::preferred_separator);
  }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  bool Has(const std::string& name) const { return fs::exists(path_ / name); }

 private:
  fs::path path_;
};

class Creation : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write(kClientName, "client");
    connection_ = std::make_unique<TVeskSQLConnection>();
    connection_->DriverName = driver_.name();
    connection_->Params = {"Database=srv:/data/loja.fdb", "USER_NAME=OPER", "PASSWORD=conn-pw"};
    connection_->Open();
    dm_.SQLConnection = connection_.get();
  }

  void Run(TVeskDMConexao* dm, const std::string& name, const std::string& user,
           const std::string& password, Step fail = Step::None) {
    tolvan::firebird::CreateDatabaseRoutine(
        dm, name, user, password, [&] { return std::make_unique<FakeComponents>(record_, fail); },
        folder_.dir());
  }

  std::vector<std::string> Logged() const {
    std::vector<std::string> out;
    for (const auto& e : log_.Entries()) {
      EXPECT_EQ(e.Level, -1);
      EXPECT_EQ(e.Source, "CriarDataBase");
      out.push_back(e.Text);
    }
    return out;
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
  TempFolder folder_;
  Record record_;
  tolvan::test::DialogRecorder dialogs_;
  tolvan::test::LogRecorder log_;
};

TEST_F(Creation, RunsTheStepsAndTheScriptsInOrderAndReportsNothing) {
  Run(&dm_, "/data/novo.fdb", "ana", "segredo");
  EXPECT_THAT(record_.calls, ElementsAre("Create", "Connect", "StartTransaction", "RunScript",
                                         "RunScript", "RunScript", "RunScript"));
  EXPECT_EQ(record_.name, "/data/novo.fdb");
  EXPECT_THAT(record_.clauses, ElementsAre("USER 'ana'", "PASSWORD 'segredo'"));
  ASSERT_EQ(record_.scripts.size(), 4u);
  EXPECT_EQ(record_.scripts[0],
            tolvan::firebird::ScriptLines(tolvan::firebird::ScriptResource("fbudf")));
  EXPECT_EQ(record_.scripts[0][0], "/*");
  EXPECT_EQ(record_.scripts[1],
            tolvan::firebird::ScriptLines(tolvan::firebird::ScriptResource("ib_udf2")));
  EXPECT_EQ(record_.scripts[2], tolvan::firebird::ScriptLines(
                                    tolvan::firebird::ScriptResource("declarations_all_dialect3")));
  EXPECT_THAT(record_.scripts[3],
              ElementsAre("DECLARE EXTERNAL FUNCTION ADD_MONTHS timestamp, integer RETURNS "
                          "timestamp ENTRY_POINT 'addMonth' MODULE_NAME 'fbudf'; ",
                          "CREATE EXCEPTION ERROR 'not supported'"));
  EXPECT_TRUE(record_.released);
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
  EXPECT_THAT(Logged(), IsEmpty());
}

// The declarations stay whatever the server does with them; one note says it will not run them,
// and no log entry: one of the creation's origin tells the host the creation failed.
TEST_F(Creation, AServerThatWillNotRunTheFunctionsGetsANoteAndNoLogEntry) {
  Run(&dm_, "/data/novo.fdb", "ana", "segredo", Step::Functions);
  EXPECT_TRUE(record_.functions_called);
  EXPECT_EQ(record_.scripts.size(), 4u);
  EXPECT_THAT(dialogs_.Alerts(), IsEmpty());
  EXPECT_THAT(log_.Entries(), IsEmpty());
  EXPECT_THAT(dialogs_.Notes(),
              ElementsAre("As funções externas (UDF) foram declaradas no banco /data/novo.fdb, mas "
                          "o servidor não as executa: Access to UDF library \"ib_udf\" is denied "
                          "by server administrator\r\nPara usá-las, ponha as bibliotecas fbudf e "
                          "ib_udf na pasta UDF do servidor e configure UdfAccess = Restrict UDF no "
                          "firebird.conf dele."));
  // A failed declaration is the creation's failure; the functions are not called then.
  record_ = Record{};
  Run(&dm_, "/data/outro.fdb", "ana", "segredo", Step::Script2);
  EXPECT_FALSE(record_.functions_called);
}

TEST_F(Creation, TakesTheConnectionsCredentialsForEmptyArgumentsAndDoublesQuotes) {
  Run(&dm_, "/data/novo.fdb", "", "");
  EXPECT_THAT(record_.clauses, ElementsAre("USER 'OPER'", "PASSWORD 'conn-pw'"));
  Run(&dm_, "/data/novo.fdb", "o'neil", "");
  EXPECT_THAT(record_.clauses, ElementsAre("USER 'o''neil'", "PASSWORD 'conn-pw'"));
}

TEST_F(Creation, AFailureAtAnyStepIsShownAndLoggedWithTheNameAndNeverRaised) {
  struct Case {
    Step step;
    std::string message;
    std::size_t calls;
    std::string note;
  };
  // The note names only the scripts committed whole before the failing step.
  const std::string created = "\r\nO banco de dados foi criado";
  for (const Case& c :
       {Case{Step::Create, "I/O error during \"open O_CREAT\" operation", 1, ""},
        Case{Step::Connect, "connection refused", 2, created + "."},
        Case{Step::Start, "transaction refused", 3, created + "."},
        Case{Step::Script1, "statement refused", 4, created + "."},
        Case{Step::Script2, "statement refused", 5,
             created + " e guarda as declarações dos scripts fbudf, gravadas antes da falha."},
        Case{Step::Script3, "statement refused", 6,
             created +
                 " e guarda as declarações dos scripts fbudf e ib_udf2, gravadas antes da falha."},
        Case{Step::FinalScript, "statement refused", 7,
             created + " e guarda as declarações dos scripts fbudf, ib_udf2 e "
                       "declarations_all_dialect3, gravadas antes da falha."}}) {
    record_ = Record{};
    tolvan::test::DialogRecorder dialogs;
    tolvan::test::LogRecorder log;
    EXPECT_NO_THROW(Run(&dm_, "srv:/data/novo.fdb", "ana", "pw", c.step));
    const std::string expected = c.message + "\r\nsrv:/data/novo.fdb" + c.note;
    EXPECT_THAT(dialogs.Texts(), ElementsAre(expected)) << static_cast<int>(c.step);
    ASSERT_EQ(log.Entries().size(), 1u);
    EXPECT_EQ(log.Entries()[0].Text, expected);
    EXPECT_EQ(log.Entries()[0].Level, -1);
    EXPECT_EQ(log.Entries()[0].Source, "CriarDataBase");
    // The remaining scripts are not run; the components are released.
    EXPECT_EQ(record_.calls.size(), c.calls) << static_cast<int>(c.step);
    EXPECT_TRUE(record_.released);
  }
}

TEST_F(Creation, WithoutAModuleAnEmptyUserOrPasswordIsReportedBeforeAnythingIsCreated) {
  const std::string name = tolvan::firebird::CriarDataBaseFDName("srv", 3050, "/data/novo.fdb");
  EXPECT_EQ(name, "srv/3050:/data/novo.fdb");
  EXPECT_EQ(tolvan::firebird::CriarDataBaseFDName("", 0, "x.fdb"), "/0:x.fdb");
  EXPECT_EQ(tolvan::firebird::CriarDataBaseFDName(" srv ", -1, " p "), " srv /-1: p ");

  Run(nullptr, name, "", "pw");
  Run(nullptr, name, "ana", "");
  EXPECT_THAT(record_.calls, IsEmpty());
  EXPECT_THAT(dialogs_.Texts(),
              ElementsAre("Usuário não informado, e não há conexão de onde obtê-lo\r\n" + name,
                          "Senha não informada, e não há conexão de onde obtê-la\r\n" + name));
  EXPECT_EQ(Logged().size(), 2u);
}

TEST_F(Creation, CopiesTheClientForTheComponentsOnlyWhenTheCopyIsMissing) {
  Run(&dm_, "/data/a.fdb", "ana", "pw");
  EXPECT_EQ(folder_.Read(kCopyName), "client");
  folder_.Write(kCopyName, "kept");
  Run(&dm_, "/data/b.fdb", "ana", "pw");
  EXPECT_EQ(folder_.Read(kCopyName), "kept");
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
}

TEST_F(Creation, AFailedClientCopyIsReportedAndNothingIsCreated) {
  if (tolvan::platform::ClientLibrariesComeWithTheSystem()) {
    GTEST_SKIP() << "here the components fall back on the system's client library";
  }
  TempFolder empty;
  tolvan::firebird::CreateDatabaseRoutine(
      &dm_, "C:\\novo.fdb", "ana", "pw",
      [&] { return std::make_unique<FakeComponents>(record_, Step::None); }, empty.dir());
  EXPECT_THAT(record_.calls, IsEmpty());
  ASSERT_EQ(dialogs_.Texts().size(), 1u);
  EXPECT_THAT(dialogs_.Texts()[0], ::testing::EndsWith("\r\nC:\\novo.fdb"));
}
TEST_F(Creation, WithNoClientInTheFolderTheSystemsIsUsed) {
  if (!tolvan::platform::ClientLibrariesComeWithTheSystem()) {
    GTEST_SKIP() << "here the components need the client in the program's folder";
  }
  TempFolder empty;
  tolvan::firebird::CreateDatabaseRoutine(
      &dm_, "/data/novo.fdb", "ana", "pw",
      [&] { return std::make_unique<FakeComponents>(record_, Step::None); }, empty.dir());
  EXPECT_FALSE(empty.Has(kCopyName));
  EXPECT_EQ(record_.calls.size(), 7u);
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
}

// ---------------------------------------------------------------------------------------------

TEST(EmptyCopyNames, BackupFileReplacesOrAddsTheExtension) {
  using tolvan::firebird::BackupFileName;
  EXPECT_EQ(BackupFileName("C:\\dados\\novo.fdb"), "C:\\dados\\novo.fbk");
  EXPECT_EQ(BackupFileName("/data/novo"), "/data/novo.fbk");
  EXPECT_EQ(BackupFileName("/data.d/novo"), "/data.d/novo.fbk");
  EXPECT_EQ(BackupFileName("srv:/data/novo.x.gdb"), "srv:/data/novo.x.fbk");
  EXPECT_EQ(BackupFileName("novo"), "novo.fbk");
}

TEST(EmptyCopyNames, RestoreTargetTakesTheCurrentHostUnlessTheNameHasOne) {
  using tolvan::firebird::EmptyCopyTarget;
  EXPECT_EQ(EmptyCopyTarget("novo.fdb", "srv:C:\\dados\\loja.fdb"), "srv:novo.fdb");
  EXPECT_EQ(EmptyCopyTarget("C:\\novo.fdb", "srv:C:\\dados\\loja.fdb"), "srv:C:\\novo.fdb");
  EXPECT_EQ(EmptyCopyTarget("srv2:/x.fdb", "srv:C:\\dados\\loja.fdb"), "srv2:/x.fdb");
  EXPECT_EQ(EmptyCopyTarget("srv/3051:/x.fdb", "srv:/loja.fdb"), "srv/3051:/x.fdb");
  EXPECT_EQ(EmptyCopyTarget("C:\\novo.fdb", "C:\\dados\\loja.fdb"), "C:\\novo.fdb");
  EXPECT_EQ(EmptyCopyTarget("/data/novo.fdb", "/data/loja.fdb"), "/data/novo.fdb");
  // A current name without ":" (an alias) has no host.
  EXPECT_EQ(EmptyCopyTarget("novo.fdb", "loja"), "novo.fdb");
}

struct GbakRecord {
  std::vector<std::string> texts;
  std::vector<bool> flags;  // service, circular, quiet, last
  bool frame_given = false;
};

class EmptyCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = std::make_unique<TVeskSQLConnection>();
    connection_->DriverName = driver_.name();
    connection_->Params = {"Database=srv:C:\\dados\\loja.fdb", "USER_NAME=OPER",
                           "PASSWORD=conn-pw"};
    connection_->ClientLibrary = "fbclient.dll";
    connection_->Open();
    dm_.SQLConnection = connection_.get();
    dm_.ExpectedClientVersion = "3.0.11";
    driver_->ClearRecord();
  }

  tolvan::firebird::GbakCall Recorder(std::vector<GbakRecord>& calls, bool raise,
                                      const char* what) {
    return [this, &calls, raise, what](
               const std::string& db, const std::string& user, const std::string& password,
               const std::string& file, bool service, TVeskFraProgresso* frame, bool circular,
               bool quiet, const std::string& version, const std::string& library, bool last) {
      EXPECT_FALSE(connection_->Connected()) << what << " runs with the connection closed";
      calls.push_back({{db, user, password, file, version, library},
                       {service, circular, quiet, last},
                       frame != nullptr});
      if (raise) {
        throw std::runtime_error(std::string(what) + ":\r\nfailed");
      }
    };
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
  std::vector<GbakRecord> backups_;
  std::vector<GbakRecord> restores_;
};

TEST_F(EmptyCopy, BacksUpTheMetadataWithTheConnectionsUserAndRestoresUnderTheNewName) {
  tolvan::firebird::CriarDataBaseVazia(&dm_, "C:\\novo\\vazio.fdb", "", "novo-pw", true,
                                       Recorder(backups_, false, "Backup"),
                                       Recorder(restores_, false, "Restore"));
  ASSERT_EQ(backups_.size(), 1u);
  EXPECT_THAT(backups_[0].texts, ElementsAre("srv:C:\\dados\\loja.fdb", "OPER", "conn-pw",
                                             "C:\\novo\\vazio.fbk", "3.0.11", "fbclient.dll"));
  EXPECT_THAT(backups_[0].flags, ElementsAre(true, false, false, true));
  EXPECT_FALSE(backups_[0].frame_given);
  ASSERT_EQ(restores_.size(), 1u);
  EXPECT_THAT(restores_[0].texts, ElementsAre("srv:C:\\novo\\vazio.fdb", "OPER", "novo-pw",
                                              "C:\\novo\\vazio.fbk", "3.0.11", "fbclient.dll"));
  EXPECT_THAT(restores_[0].flags, ElementsAre(true, false, false, true));
  EXPECT_TRUE(connection_->Connected());
}

TEST_F(EmptyCopy, AFailingBackupStopsBeforeTheRestoreAndReopensTheConnection) {
  try {
    tolvan::firebird::CriarDataBaseVazia(&dm_, "novo", "u", "p", false,
                                         Recorder(backups_, true, "Backup"),
                                         Recorder(restores_, false, "Restore"));
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Backup:\r\nfailed");
  }
  EXPECT_EQ(backups_.size(), 1u);
  EXPECT_EQ(backups_[0].texts[3], "novo.fbk");
  EXPECT_THAT(restores_, IsEmpty());
  EXPECT_TRUE(connection_->Connected());

  EXPECT_THROW(tolvan::firebird::CriarDataBaseVazia(&dm_, "novo", "u", "p", false,
                                                    Recorder(backups_, false, "Backup"),
                                                    Recorder(restores_, true, "Restore")),
               std::runtime_error);
  EXPECT_EQ(restores_.size(), 1u);
  EXPECT_TRUE(connection_->Connected());
}

// The structure's backup of a run whose restore failed goes with it, and only that one: a backup
// of this machine (no host, or the loopback) is checked before and removed after; one written on
// another host is named in the message.
TEST_F(EmptyCopy, AFailedRestoreTakesItsStructuresBackupWithItWhereItCanBeReached) {
  const fs::path folder =
      fs::temp_directory_path() / ("tolvan-empty-copy-" + std::to_string(std::random_device()()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string database = (folder / "novo.fdb").string();
  const std::string fbk = (folder / "novo.fbk").string();
  const auto writes_the_backup = [&](const std::string&, const std::string&, const std::string&,
                                     const std::string& file, bool, TVeskFraProgresso*, bool, bool,
                                     const std::string&, const std::string&,
                                     bool) { std::ofstream(file) << "structure"; };
  const auto fails = [](const char* what) {
    return [what](const std::string&, const std::string&, const std::string&, const std::string&,
                  bool, TVeskFraProgresso*, bool, bool, const std::string&, const std::string&,
                  bool) { throw std::runtime_error(what); };
  };
  const auto not_online = [](const std::string&, const std::string&, const std::string&,
                             const std::string&, bool, TVeskFraProgresso*, bool, bool,
                             const std::string&, const std::string&, bool) {
    throw tolvan::firebird::ERestoreNotOnline("Restore:\r\nfora de linha");
  };
  const auto run = [&](const tolvan::firebird::GbakCall& restore) {
    try {
      tolvan::firebird::CriarDataBaseVazia(&dm_, database, "", "", false, writes_the_backup,
                                           restore);
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("(no failure)");
  };

  for (const char* key : {"Database=/dados/loja.fdb", "Database=localhost/3050:/dados/loja.fdb"}) {
    connection_->Params[0] = key;
    EXPECT_EQ(run(fails("Restore:\r\ncut")), "Restore:\r\ncut") << key;
    EXPECT_FALSE(fs::exists(fbk)) << key;
    EXPECT_TRUE(connection_->Connected()) << key;
    // A retry is not refused; a backup there before the run is.
    EXPECT_EQ(run([](auto&&...) {}), "(no failure)") << key;
    EXPECT_THAT(run([](auto&&...) {}), HasSubstr("já existe")) << key;
    fs::remove(fbk);
  }

  // Indexes left inactive: the database was kept, and the backup it came from stays beside it.
  connection_->Params[0] = "Database=/dados/loja.fdb";
  EXPECT_EQ(run(not_online), "Restore:\r\nfora de linha");
  EXPECT_TRUE(fs::exists(fbk));

  // Through the service manager of another host the file is that host's: a file of this machine
  // at the same name neither stops the run nor is touched.
  connection_->Params[0] = "Database=srv:/dados/loja.fdb";
  EXPECT_EQ(run(fails("Restore:\r\ncut")),
            "Restore:\r\ncut\r\nA cópia da estrutura \"" + fbk +
                "\" ficou no servidor srv: apague esse arquivo lá antes de tentar de novo.");
  EXPECT_TRUE(fs::exists(fbk));
  fs::remove_all(folder);
}

}  // namespace
