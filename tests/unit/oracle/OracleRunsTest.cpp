// Backup, Restore, BackupConn and RestoreConn of the loaded Oracle plug-in against fake exp and
// imp: the arguments the tools get, the frame sequence, and the failure texts with and without a
// frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TolvanOracleUtil.h"
#include "fake_tool/FakeTool.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "scripted_driver/MessageOf.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using tolvan::testing::FakeToolFolder;
using tolvan::testing::Operation;

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
    plugin_ = tolvan::platform::DynamicLibrary::Load(tolvan::platform::ExecutableDirectory() +
                                                     "TolvanOracle" TOLVAN_PLUGIN_SUFFIX);
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
    std::filesystem::current_path(std::filesystem::u8path(dir));
  }
  void TearDown() override { std::filesystem::current_path(previous_dir_); }

  void Script(const std::string& tool, const std::string& script) {
    folder_.SetScript(tool, script);
  }
  std::vector<std::string> Args(const std::string& tool) {
    auto calls = folder_.Calls(tool);
    return calls.empty() ? std::vector<std::string>{} : calls.back().args;
  }
  void Backup(const std::string& connect, bool strip, TVeskFraProgresso* frame,
              bool circular = false) {
    backup_(connect, "scott", "tiger", "/bk/loja.dmp", strip, frame, circular, false, "", "",
            false);
  }
  void Restore(const std::string& connect, TVeskFraProgresso* frame, bool circular = false) {
    restore_(connect, "scott", "tiger", "/bk/loja.dmp", false, frame, circular, false, "", "",
             false);
  }

  tolvan::platform::ScopedEnvironmentOverride environment_;
  FakeToolFolder folder_;
  std::filesystem::path previous_dir_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> plugin_;
  tolvan::BackupFn backup_ = nullptr;
  tolvan::RestoreFn restore_ = nullptr;
  tolvan::BackupConnFn backup_conn_ = nullptr;
  tolvan::RestoreConnFn restore_conn_ = nullptr;
  std::string exp_;
  std::string imp_;
};

TEST_F(OracleRunsTest, ToolsGetTheirArgumentsWithAndWithoutAFrame) {
  RecordingFrame frame;
  Backup("srv:ORCL", true, &frame);
  EXPECT_THAT(Args(exp_), ElementsAre("scott/tiger@ORCL", "OWNER=scott", "FILE=/bk/loja.DMP",
                                      "LOG=/bk/loja.LOG"));
  Backup("srv:ORCL", false, nullptr);
  EXPECT_EQ(Args(exp_)[0], "scott/tiger@srv:ORCL");
  Restore("srv:ORCL", nullptr);
  EXPECT_THAT(Args(imp_), ElementsAre("scott/tiger@srv", "FULL=YES", "IGNORE=YES",
                                      "FILE=/bk/loja.DMP", "LOG=/bk/loja.LOG"));
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
  EXPECT_EQ(MessageOf([&] { Backup("ORCL", false, &frame); }),
            "Backup:\r\nError cod: 3\r\n" + std::string(tolvan::oracle::ExportTool()) +
                " scott/tiger@ORCL OWNER=scott FILE=/bk/loja.DMP LOG=/bk/loja.LOG");

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
  EXPECT_EQ(MessageOf([&] { Backup("ORCL", false, nullptr); }),
            "Backup:\r\nEXP-00056: erro\r\n" + std::string(tolvan::oracle::ExportTool()) +
                " scott/tiger@ORCL OWNER=scott FILE=/bk/loja.DMP LOG=/bk/loja.LOG   ");
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
  backup_conn_(&dm_, "/bk/loja.dmp", true, nullptr, false, false);
  EXPECT_EQ(Args(exp_)[0], "scott/tiger@ORCL");
  EXPECT_TRUE(connection_.Connected());
  EXPECT_EQ(driver_->Count(Operation::Close), 1);
  EXPECT_EQ(driver_->Count(Operation::Connect), 1);

  Script(exp_, "exit 1\n");
  RecordingFrame frame;
  EXPECT_THAT(MessageOf([&] { backup_conn_(&dm_, "/bk/loja.dmp", false, &frame, false, false); }),
              HasSubstr("Error cod: 1"));
  EXPECT_TRUE(connection_.Connected()) << "opened again though the tool failed";
}

TEST_F(OracleConnRunsTest, RestoreConnUsesItsOwnPasswordAndTheConnectionsService) {
  connection_.Params = {"Database=ORCL", "USER_NAME=scott", "PASSWORD=tiger"};
  restore_conn_(&dm_, "segredo", "/bk/loja.dmp", "ORCL", false, nullptr, false, false);
  EXPECT_EQ(Args(imp_)[0], "scott/segredo@ORCL");

  connection_.Params = {"Database=", "USER_NAME=scott"};
  restore_conn_(&dm_, "segredo", "/bk/loja.dmp", "C:\\bkp\\x", false, nullptr, false, false);
  EXPECT_EQ(Args(imp_)[0], "scott/segredo@C");

  Script(imp_, "write IMP-00058\nexit 1\n");
  EXPECT_EQ(MessageOf([&] {
              restore_conn_(&dm_, "s", "/bk/loja.dmp", "ORCL", false, nullptr, false, false);
            }),
            "Restore:\r\nIMP-00058");
  EXPECT_TRUE(connection_.Connected());
}

}  // namespace
