// Backup, Restore, BackupConn and RestoreConn of the loaded Oracle plug-in against fake exp and
// imp: the arguments the tools get, the frame sequence, and the failure texts with and without a
// frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "LinkedPlugin.h"
#include "TolvanOracleUtil.h"
#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "recorders/Recorders.h"
#include "scripted_driver/MessageOf.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"

namespace {

using tolvan::testing::FakeToolFolder;
using tolvan::testing::Operation;
using tolvan::testing::Utf8Path;

// The name to install the fake under so that the plug-in's bare tool name finds it.
std::string InstallName(std::string_view tool) {
  std::string name(tool);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".EXE") == 0) {
    name.resize(name.size() - 4);
  }
  return name;
}

class RecordingFrame : public TVeskFraProgresso {
 public:
  void SetEhCircular(bool value) override { calls.push_back(std::string("circular ") + B(value)); }
  void SetEhCircularParcial(bool value) override {
    calls.push_back(std::string("parcial ") + B(value));
  }
  void SetCaptureGuardar(bool value) override {
    calls.push_back(std::string("guardar ") + B(value));
    TVeskFraProgresso::SetCaptureGuardar(value);
  }
  void DoCaptureLine(const std::string& line, bool& stop) override {
    calls.push_back("line " + line + (EhCircular ? " (circular)" : ""));
    TVeskFraProgresso::DoCaptureLine(line, stop);
  }
  std::vector<std::string> calls;

 private:
  static const char* B(bool value) { return value ? "1" : "0"; }
};

using tolvan::testing::MessageOf;

class OracleRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = tolvan::testing::LinkedPlugin::Load("TolvanOracle");
    backup_ = plugin_->Function<tolvan::BackupFn>("Backup");
    restore_ = plugin_->Function<tolvan::RestoreFn>("Restore");
    backup_conn_ = plugin_->Function<tolvan::BackupConnFn>("BackupConn");
    restore_conn_ = plugin_->Function<tolvan::RestoreConnFn>("RestoreConn");
    exp_ = InstallName(tolvan::oracle::ExportTool());
    imp_ = InstallName(tolvan::oracle::ImportTool());
    folder_.Install(exp_);
    folder_.Install(imp_);
    // POSIX finds a bare name in PATH; Windows looks in the current folder first.
    std::string dir = folder_.Path();
    dir.pop_back();
    tolvan::platform::SetEnv("PATH", dir);
    previous_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(Utf8Path(dir));
    SetUpFiles();
    std::ofstream(Utf8Path(sample_dump_), std::ios::binary) << kSampleDump;
    Script(exp_, "");
  }
  void TearDown() override { std::filesystem::current_path(previous_dir_); }

  void SetUpFiles() {
    std::filesystem::create_directories(Utf8Path(folder_.Path() + "bk"));
    const std::string bk = folder_.Path() + "bk" + tolvan::platform::kPathDelimiter;
    file_ = bk + "loja.dmp";
    dmp_ = bk + "loja.DMP";
    log_ = bk + "loja.LOG";
  }

  // EXP's script writes a dump first (what a real EXP leaves in FILE=).
  void Script(const std::string& tool, const std::string& script) {
    folder_.SetScript(tool, tool == exp_ ? "product " + sample_dump_ + "\n" + script : script);
  }
  std::vector<std::string> Args(const std::string& tool) {
    auto calls = folder_.Calls(tool);
    return calls.empty() ? std::vector<std::string>{} : calls.back().args;
  }
  void Backup(const std::string& connect, bool strip, TVeskFraProgresso* frame,
              bool circular = false) {
    backup_(connect, "scott", "tiger", file_, strip, frame, circular, false, "", "", false);
  }
  void Restore(const std::string& connect, TVeskFraProgresso* frame, bool circular = false) {
    restore_(connect, "scott", "tiger", file_, false, frame, circular, false, "", "", false);
  }
  // The double quote that opens and closes a FILE= or LOG= piece on the command line: one
  // naming a folder with a blank is quoted whole.
  std::string Quote() const { return dmp_.find(' ') == std::string::npos ? "" : "\""; }
  // What the export's FILE= names: a new file beside the final dump.
  ::testing::Matcher<std::string> TemporaryDump() const {
    return StartsWith("FILE=" + dmp_ + ".~");
  }
  // Everything in the folder that a run may have left beside the tools and their records.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(folder_.Path() + "bk"))) {
      names.push_back(tolvan::testing::Utf8Text(entry.path().filename()));
    }
    return names;
  }

  tolvan::platform::ScopedEnvironmentOverride environment_;
  FakeToolFolder folder_;
  // The first bytes of an EXP dump.
  static constexpr const char* kSampleDump = "\x03\x03iEXPORT:V10.02.01\nDSCOTT\n";
  std::string sample_dump_ = folder_.Path() + "sample.dmp";
  std::filesystem::path previous_dir_;
  std::unique_ptr<tolvan::testing::LinkedPlugin> plugin_;
  tolvan::BackupFn backup_ = nullptr;
  tolvan::RestoreFn restore_ = nullptr;
  tolvan::BackupConnFn backup_conn_ = nullptr;
  tolvan::RestoreConnFn restore_conn_ = nullptr;
  std::string exp_;
  std::string imp_;
  std::string file_, dmp_, log_;
};

TEST_F(OracleRunsTest, ToolsGetTheirArgumentsWithAndWithoutAFrame) {
  RecordingFrame frame;
  Backup("srv:ORCL", true, &frame);
  EXPECT_THAT(Args(exp_),
              ElementsAre("scott/tiger@ORCL", "OWNER=scott", TemporaryDump(), "LOG=" + log_));
  Backup("srv:ORCL", false, nullptr);
  EXPECT_EQ(Args(exp_)[0], "scott/tiger@srv:ORCL");
  Restore("srv:ORCL", nullptr);
  EXPECT_THAT(Args(imp_), ElementsAre("scott/tiger@ORCL", "FULL=YES", "IGNORE=YES", "FILE=" + dmp_,
                                      "LOG=" + log_));
}

// The import loads into the database the export (with its host prefix dropped) read.
TEST_F(OracleRunsTest, RestoreConnectsToTheServiceTheExportRead) {
  for (const char* connect : {"srv:ORCL", "ORCL", "C:ORCL", "srv:", "srv:a:b", "db.local:XE"}) {
    SCOPED_TRACE(connect);
    Backup(connect, true, nullptr);
    Restore(connect, nullptr);
    ASSERT_FALSE(Args(imp_).empty());
    EXPECT_EQ(Args(imp_)[0], Args(exp_)[0]);
  }
}

TEST_F(OracleRunsTest, FrameIsSetUpForTheRunAndResetAfterIt) {
  Script(exp_, "out Export: linha 1\nout linha 2\n");
  RecordingFrame frame;
  frame.TextoPendente = "pendente";
  Backup("ORCL", false, &frame, /*circular=*/true);
  EXPECT_THAT(frame.calls, ElementsAre("circular 1", "guardar 1", "line Export: linha 1 (circular)",
                                       "line linha 2 (circular)", "circular 0"));
  EXPECT_TRUE(frame.EhCircular) << "the circular-mode member keeps the last flag";
  EXPECT_EQ(frame.TextoPendente, "");

  Script(imp_, "out IMP-00001: falhou\nexit 1\n");
  frame.calls.clear();
  frame.TextoPendente = "pendente";
  EXPECT_ANY_THROW(Restore("ORCL", &frame, /*circular=*/false));
  EXPECT_THAT(frame.calls,
              ElementsAre("parcial 1", "guardar 1", "line IMP-00001: falhou", "parcial 0"));
  EXPECT_FALSE(frame.EhCircular);
  EXPECT_EQ(frame.TextoPendente, "") << "reset on the failing way out too";
}

TEST_F(OracleRunsTest, FailureTextsWithAFrame) {
  RecordingFrame frame;
  Script(exp_, "out EXP-00056: ORACLE error 1017\nexit 3\n");
  // The password is masked; the line is the one that ran, with the dump's temporary name.
  EXPECT_THAT(
      MessageOf([&] { Backup("ORCL", false, &frame); }),
      AllOf(StartsWith("Backup:\r\nError cod: 3\r\n" + std::string(tolvan::oracle::ExportTool()) +
                       " scott/***@ORCL OWNER=scott " + Quote() + "FILE=" + dmp_ + ".~"),
            EndsWith(".tmp" + Quote() + " " + Quote() + "LOG=" + log_ + Quote())));

  Script(imp_, "out IMP-00058: um\nout IMP-00000: dois\nexit 1\n");
  RecordingFrame restore_frame;
  EXPECT_EQ(MessageOf([&] { Restore("ORCL", &restore_frame); }),
            "Restore:\r\nIMP-00058: um\r\nIMP-00000: dois");

  // A silent failure still says what happened.
  Script(imp_, "exit 4\n");
  RecordingFrame silent_frame;
  EXPECT_EQ(MessageOf([&] { Restore("ORCL", &silent_frame); }), "Restore:\r\nError cod: 4");
}

TEST_F(OracleRunsTest, FailureTextsWithoutAFrame) {
  Script(exp_, "write EXP-00056: erro\nexit 3\n");
  EXPECT_THAT(MessageOf([&] { Backup("ORCL", false, nullptr); }),
              AllOf(StartsWith("Backup:\r\nEXP-00056: erro\r\n" +
                               std::string(tolvan::oracle::ExportTool()) +
                               " scott/***@ORCL OWNER=scott " + Quote() + "FILE=" + dmp_ + ".~"),
                    EndsWith(".tmp" + Quote() + " " + Quote() + "LOG=" + log_ + Quote() + "   "),
                    Not(HasSubstr("tiger"))));
  Script(imp_, "write IMP-00058: erro\nexit 1\n");
  EXPECT_EQ(MessageOf([&] { Restore("ORCL", nullptr); }), "Restore:\r\nIMP-00058: erro");

  // Non-zero with blank output is a failure, reported with the code.
  Script(exp_, "write  \t\nexit 5\n");
  EXPECT_EQ(MessageOf([&] { Backup("ORCL", false, nullptr); }), "Backup:\r\nError cod: 5");
  Script(imp_, "exit 2\n");
  EXPECT_EQ(MessageOf([&] { Restore("ORCL", nullptr); }), "Restore:\r\nError cod: 2");

  // Output with a zero exit is no failure.
  Script(exp_, "out aviso\n");
  EXPECT_NO_THROW(Backup("ORCL", false, nullptr));
}

TEST_F(OracleRunsTest, ToolThatCannotStartFails) {
  tolvan::platform::SetEnv("PATH", folder_.Path() + "nada");
  std::filesystem::current_path(previous_dir_);
  RecordingFrame frame;
  EXPECT_THAT(MessageOf([&] { Backup("ORCL", false, &frame); }),
              HasSubstr("Backup:\r\nError cod: -1\r\n"));
  EXPECT_EQ(MessageOf([&] { Restore("ORCL", nullptr); }), "Restore:\r\nError cod: -1");
}

TEST_F(OracleRunsTest, AFailedExportLeavesTheGoodDumpAsItWasAndNoTemporary) {
  struct Case {
    const char* what;
    std::string script;  // empty: the tool cannot start
    bool frame;
  } cases[] = {
      {"fails with a frame", "out EXP-00056\nexit 1\n", true},
      {"fails without a frame", "out EXP-00056\nexit 1\n", false},
      {"fails silently", "exit 1\n", false},
      {"killed", "crash\n", true},
      {"cannot start", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(Utf8Path(dmp_), std::ios::binary) << "dump bom";
    if (c.script.empty()) {
      tolvan::platform::SetEnv("PATH", folder_.Path() + "nada");
      std::filesystem::current_path(previous_dir_);
    } else {
      Script(exp_, c.script);
    }
    RecordingFrame frame;
    EXPECT_THAT(MessageOf([&] { Backup("ORCL", false, c.frame ? &frame : nullptr); }),
                StartsWith("Backup:\r\n"));
    std::ifstream in(Utf8Path(dmp_), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "dump bom");
    EXPECT_THAT(Leftovers(), ElementsAre("loja.DMP"));
  }
}

TEST_F(OracleRunsTest, ASuccessfulExportPutsItsDumpInPlaceForGood) {
  std::ofstream(Utf8Path(dmp_), std::ios::binary) << "dump de ontem";
  // An EXP that ends with 0 but wrote nothing has made no dump.
  folder_.SetScript(exp_, "exit 0\n");
  EXPECT_EQ(
      MessageOf([&] { Backup("ORCL", false, nullptr); }),
      "Backup:\r\nA ferramenta terminou sem erro, mas o arquivo que ela gerou está vazio; \"" +
          dmp_ + "\" ficou como estava.");
  {
    // Closed again: on Windows an open file cannot be replaced.
    std::ifstream earlier(Utf8Path(dmp_), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "dump de ontem");
  }
  EXPECT_THAT(Leftovers(), ElementsAre("loja.DMP"));

  // One that wrote a dump: flushed by us (the fake flushes nothing), renamed, its folder flushed.
  Script(exp_, "");
  const tolvan::platform::ScopedFileCallRecorder recorder;
  Backup("ORCL", false, nullptr);
  EXPECT_EQ(tolvan::test::DurableCommitProblem(recorder.Calls(), Args(exp_)[2].substr(5), dmp_),
            "");
  std::ifstream in(Utf8Path(dmp_), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kSampleDump);
  EXPECT_THAT(Leftovers(), ElementsAre("loja.DMP"));
}

// While EXP runs, something the rename cannot replace takes the dump's final name.
class BlockingFrame : public RecordingFrame {
 public:
  explicit BlockingFrame(std::string path) : path_(std::move(path)) {}
  void DoCaptureLine(const std::string& line, bool& stop) override {
    RecordingFrame::DoCaptureLine(line, stop);
    std::filesystem::remove(Utf8Path(path_));
    std::filesystem::create_directories(Utf8Path(path_) / "inside");
  }

 private:
  std::string path_;
};

TEST_F(OracleRunsTest, ADumpThatCannotTakeItsNameIsKeptAndTheMessageSaysWhere) {
  std::ofstream(Utf8Path(dmp_), std::ios::binary) << "dump de ontem";
  Script(exp_, "out EXP: Export terminated successfully\n");
  BlockingFrame frame(dmp_);
  const std::string message = MessageOf([&] { Backup("ORCL", false, &frame); });
  const std::string kept = Args(exp_)[2].substr(5);
  EXPECT_THAT(message, StartsWith("Backup:\r\nO arquivo gerado foi mantido em \"" + kept +
                                  "\", mas não pôde ser posto no lugar de \"" + dmp_ + "\""));
  std::ifstream in(Utf8Path(kept), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kSampleDump);
  std::filesystem::permissions(Utf8Path(kept), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  std::filesystem::remove_all(Utf8Path(dmp_));
}

TEST_F(OracleRunsTest, ADottedNameIsWrittenAndReadUnderItsOwnBase) {
  // A folder with a "." and a file name with two: the export writes what the import of the same
  // name reads, and a dump of another name in the folder stays as it was.
  const std::string folder = folder_.Path() + "joao.silva" + tolvan::platform::kPathDelimiter;
  std::filesystem::create_directories(Utf8Path(folder));
  std::ofstream(Utf8Path(folder + "loja.DMP"), std::ios::binary) << "outro dump";
  const std::string file = folder + "loja.2024.dmp";
  backup_("ORCL", "scott", "tiger", file, false, nullptr, false, false, "", "", false);
  EXPECT_THAT(Args(exp_), ElementsAre("scott/tiger@ORCL", "OWNER=scott",
                                      StartsWith("FILE=" + folder + "loja.2024.DMP.~"),
                                      "LOG=" + folder + "loja.2024.LOG"));
  std::ifstream other(Utf8Path(folder + "loja.DMP"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(other), {}), "outro dump");

  restore_("ORCL", "scott", "tiger", file, false, nullptr, false, false, "", "", false);
  EXPECT_THAT(Args(imp_),
              ElementsAre("scott/tiger@ORCL", "FULL=YES", "IGNORE=YES",
                          "FILE=" + folder + "loja.2024.DMP", "LOG=" + folder + "loja.2024.LOG"));
}

TEST_F(OracleRunsTest, RefusedNamesAndMissingFoldersStopBeforeTheToolRuns) {
  const std::string nameless = folder_.Path() + "bk" + tolvan::platform::kPathDelimiter + ".dmp";
  EXPECT_EQ(MessageOf([&] {
              backup_("ORCL", "scott", "tiger", nameless, false, nullptr, false, false, "", "",
                      false);
            }),
            "Backup:\r\nO arquivo \"" + nameless +
                "\" não pode ser usado: falta o nome do arquivo antes da extensão.");
  EXPECT_THAT(MessageOf([&] {
                restore_("ORCL", "scott", "tiger", folder_.Path() + "q\"x.dmp", false, nullptr,
                         false, false, "", "", false);
              }),
              StartsWith("Restore:\r\nO arquivo \""));
  const std::string missing = folder_.Path() + "nada" + tolvan::platform::kPathDelimiter + "loja";
  EXPECT_EQ(
      MessageOf([&] {
        backup_("ORCL", "scott", "tiger", missing, false, nullptr, false, false, "", "", false);
      }),
      "Backup:\r\nNão foi possível criar o arquivo \"" + missing + ".DMP\": a pasta não existe.");
  EXPECT_TRUE(folder_.Calls(exp_).empty());
  EXPECT_TRUE(folder_.Calls(imp_).empty());
}

class OracleConnRunsTest : public OracleRunsTest {
 protected:
  void SetUp() override {
    OracleRunsTest::SetUp();
    connection_.DriverName = driver_.name();
    connection_.Params = {"Database=srv:ORCL", "USER_NAME=scott", "PASSWORD=tiger"};
    connection_.Open();
    dm_.SQLConnection = &connection_;
    driver_->ClearRecord();
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  TVeskSQLConnection connection_;
  TVeskDMConexao dm_;
};

TEST_F(OracleConnRunsTest, BackupConnReadsTheConnectionAndOpensItAgain) {
  backup_conn_(&dm_, file_, true, nullptr, false, false);
  EXPECT_EQ(Args(exp_)[0], "scott/tiger@ORCL");
  EXPECT_TRUE(connection_.Connected());
  EXPECT_EQ(driver_->Count(Operation::Close), 1);
  EXPECT_EQ(driver_->Count(Operation::Connect), 1);

  Script(exp_, "exit 1\n");
  RecordingFrame frame;
  EXPECT_THAT(MessageOf([&] { backup_conn_(&dm_, file_, false, &frame, false, false); }),
              HasSubstr("Error cod: 1"));
  EXPECT_TRUE(connection_.Connected()) << "opened again though the tool failed";
}

TEST_F(OracleConnRunsTest, RestoreConnUsesItsOwnPasswordAndTheConnectionsService) {
  connection_.Params = {"Database=ORCL", "USER_NAME=scott", "PASSWORD=tiger"};
  restore_conn_(&dm_, "segredo", file_, "ORCL", false, nullptr, false, false);
  EXPECT_EQ(Args(imp_)[0], "scott/segredo@ORCL");

  connection_.Params = {"Database=", "USER_NAME=scott"};
  restore_conn_(&dm_, "segredo", file_, "C:\\bkp\\x", false, nullptr, false, false);
  EXPECT_EQ(Args(imp_)[0], "scott/segredo@C:\\bkp\\x");

  // A connection to "srv:ORCL" restores into ORCL, where BackupConn exports from.
  connection_.Params = {"Database=srv:ORCL", "USER_NAME=scott"};
  restore_conn_(&dm_, "segredo", file_, "ORCL", false, nullptr, false, false);
  EXPECT_EQ(Args(imp_)[0], "scott/segredo@ORCL");

  Script(imp_, "write IMP-00058\nexit 1\n");
  EXPECT_EQ(
      MessageOf([&] { restore_conn_(&dm_, "s", file_, "ORCL", false, nullptr, false, false); }),
      "Restore:\r\nIMP-00058");
  EXPECT_TRUE(connection_.Connected());
}

}  // namespace
