// Backup, Restore and their Conn forms of the loaded plug-in, against the fake gbak in a temporary
// application folder: the tool-version guard, the frame, the failure texts, the connection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_tool/FakeTool.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "recorders/Recorders.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using tolvan::testing::FakeToolFolder;
using Lines = std::vector<std::string>;

constexpr const char* kVersion = "3.0.11.33637";
constexpr const char* kOld = "3.0.5.1";
constexpr const char* kLibrary = "libfbclient.so.2";
const std::string kSuffix = tolvan::platform::kExecutableSuffix;
const std::string kDelimiter(1, tolvan::platform::kPathDelimiter);

fs::path U8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Tag(const std::string& version) {
  return std::string("\0LI-V", 5) + version + " Firebird " + version.substr(0, 3) +
         std::string(1, '\0');
}

void Write(const std::string& path, const std::string& bytes, bool append = false) {
  std::ofstream out(U8(path), std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

std::string Message(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no failure)";
}

std::string WrongVersion(const std::string& name, const std::string& found,
                         const std::string& expected) {
  return "A versão do arquivo " + name + " é " + found + "\r\n e esperava-se " + expected +
         ".\r\n\r\nFavor copiar a versão correta para o diretório do aplicativo.";
}

// Records what the plug-in does to the frame, in order.
class RecordingFrame : public TVeskFraProgresso {
 public:
  void SetEhCircular(bool on) override { events.push_back(std::string("circular ") + Word(on)); }
  void SetEhCircularParcial(bool on) override {
    events.push_back(std::string("partial ") + Word(on));
  }
  void SetCaptureGuardar(bool on) override {
    events.push_back(std::string("keep ") + Word(on));
    TVeskFraProgresso::SetCaptureGuardar(on);
  }
  void DoCaptureLine(const std::string& line, bool& stop) override {
    events.push_back("line " + line);
    if (on_line) {
      on_line(line);
    }
    TVeskFraProgresso::DoCaptureLine(line, stop);
  }

  Lines events;
  std::function<void(const std::string&)> on_line;

 private:
  static const char* Word(bool on) { return on ? "on" : "off"; }
};

class GbakRuns : public testing::Test {
 protected:
  void SetUp() override {
    const std::string real = tolvan::platform::RealExecutablePath();
    plugin_ = tolvan::platform::DynamicLibrary::Load(real.substr(0, real.find_last_of("/\\") + 1) +
                                                     "TolvanFirebird" TOLVAN_PLUGIN_SUFFIX);
    backup_ = plugin_->Function<tolvan::BackupFn>("Backup");
    restore_ = plugin_->Function<tolvan::RestoreFn>("Restore");
    backup_conn_ = plugin_->Function<tolvan::BackupConnFn>("BackupConn");
    restore_conn_ = plugin_->Function<tolvan::RestoreConnFn>("RestoreConn");
    ASSERT_TRUE(backup_ && restore_ && backup_conn_ && restore_conn_);

    bin_ = folder_.Path() + "bin" + kDelimiter;
    fs::create_directory(U8(bin_));
    gbak_ = bin_ + "gbak" + kSuffix;
    app_ =
        std::make_unique<tolvan::platform::ScopedExecutablePathOverride>(bin_ + "tolvan" + kSuffix);
    tolvan::platform::UnsetEnv("FIREBIRD");
    Write(bin_ + kLibrary, Tag(kVersion));
  }

  void TearDown() override { app_.reset(); }

  // The fake tool as gbak (or under another name) in the application folder, reading as version.
  void InstallGbak(const std::string& script, const std::string& version = kVersion,
                   const std::string& name = "gbak") {
    const std::string path = bin_ + name + kSuffix;
    tolvan::platform::CopyFileOverwriting(FakeToolFolder::BuiltTool(), path);
    fs::permissions(U8(path), fs::perms::owner_all, fs::perm_options::add);
    Write(path, Tag(version), true);
    if (name == "gbak") {
      Write(gbak_ + ".script", script);
    }
  }

  std::vector<tolvan::testing::FakeToolCall> Calls() const {
    return tolvan::testing::ReadFakeToolCalls(gbak_ + ".calls");
  }

  void RunBackup(TVeskFraProgresso* frame, const std::string& expected = "",
                 const std::string& database = "/d/x.fdb", bool service = false) {
    backup_(database, "U", "P", file_, service, frame, true, false, expected, kLibrary, false);
  }
  void RunRestore(TVeskFraProgresso* frame, const std::string& expected = "") {
    restore_(target_, "U", "P", file_, false, frame, false, false, expected, kLibrary, false);
  }

  FakeToolFolder folder_;
  std::string bin_;
  std::string gbak_;
  std::string file_ = folder_.Path() + "x.fbk";
  std::string target_ = folder_.Path() + "y.fdb";
  tolvan::platform::ScopedEnvironmentOverride environment_;
  std::unique_ptr<tolvan::platform::ScopedExecutablePathOverride> app_;
  tolvan::test::DialogRecorder dialogs_;
  tolvan::test::PlainMessageRecorder boxes_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> plugin_;
  tolvan::BackupFn backup_ = nullptr;
  tolvan::RestoreFn restore_ = nullptr;
  tolvan::BackupConnFn backup_conn_ = nullptr;
  tolvan::RestoreConnFn restore_conn_ = nullptr;
};

TEST_F(GbakRuns, LinesReachTheFrameAndItsModeIsPutBack) {
  InstallGbak("out gbak: one\nerr gbak: two\n");
  RecordingFrame frame;
  frame.TextoPendente = "pending";
  RunBackup(&frame, "", "srv:/d/x.fdb", true);
  EXPECT_THAT(frame.events, ElementsAre("circular on", "keep on", "line gbak: one",
                                        "line gbak: two", "circular off"));
  EXPECT_TRUE(frame.EhCircular);
  EXPECT_EQ(frame.TextoPendente, "");
  EXPECT_EQ(frame.GetCaptureText(), "gbak: one\r\ngbak: two");
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_THAT(Calls()[0].args, ElementsAre("-b", "-z", "-V", "/d/x.fdb", file_, "-user", "U",
                                           "-pas", "P", "-SE", "srv:Backup Database"));

  RecordingFrame partial;
  partial.EhCircular = true;
  RunRestore(&partial);
  EXPECT_THAT(partial.events, ElementsAre("partial on", "keep on", "line gbak: one",
                                          "line gbak: two", "partial off"));
  EXPECT_FALSE(partial.EhCircular);
  EXPECT_THAT(Calls()[1].args, ElementsAre("-c", "-z", "-V", file_, target_, "-user", "U", "-pas",
                                           "P", "-PAGE_SIZE", "8192"));
}

TEST_F(GbakRuns, FailuresWithAFrame) {
  // A frame keeps what it captured across runs, so each run here gets a fresh one.
  InstallGbak("out first\nerr second\nexit 3\n");
  RecordingFrame backup;
  EXPECT_EQ(Message([&] { RunBackup(&backup); }), "Backup:\r\nError cod: 3\r\nfirst\r\nsecond");
  EXPECT_EQ(backup.events.back(), "circular off");
  RecordingFrame restore;
  EXPECT_EQ(Message([&] { RunRestore(&restore); }), "Restore:\r\nfirst\r\nsecond");
  EXPECT_EQ(restore.events.back(), "partial off");

  Write(gbak_ + ".script", "exit 1\n");
  RecordingFrame silent_backup;
  EXPECT_EQ(Message([&] { RunBackup(&silent_backup); }),
            "Backup:\r\nError cod: 1\r\ngbak.exe não Encontrado.");
  RecordingFrame silent_restore;
  EXPECT_EQ(Message([&] { RunRestore(&silent_restore); }), "Restore:\r\n");

  fs::remove(U8(gbak_));
  RecordingFrame missing;
  EXPECT_EQ(Message([&] { RunBackup(&missing); }),
            "Backup:\r\nError cod: -1\r\ngbak.exe não Encontrado.");
  EXPECT_EQ(missing.events.back(), "circular off");
}

TEST_F(GbakRuns, FailuresWithoutAFrameAreNeverSuccess) {
  InstallGbak("err gbak: unavailable database\nexit 2\n");
  EXPECT_EQ(Message([&] { RunBackup(nullptr); }), "Backup:\r\ngbak: unavailable database\n");
  EXPECT_EQ(Message([&] { RunRestore(nullptr); }), "Restore:\r\ngbak: unavailable database\n");

  // Silent failures: a gbak that died or never started.
  Write(gbak_ + ".script", "out  \nexit 2\n");
  EXPECT_EQ(Message([&] { RunBackup(nullptr); }), "Backup:\r\nError cod: 2");
  EXPECT_EQ(Message([&] { RunRestore(nullptr); }), "Restore:\r\nError cod: 2");
  fs::remove(U8(gbak_));
  EXPECT_EQ(Message([&] { RunBackup(nullptr); }), "Backup:\r\nError cod: -1");

  InstallGbak("out done\n");
  EXPECT_NO_THROW(RunBackup(nullptr));
  EXPECT_NO_THROW(RunRestore(nullptr));
}

TEST_F(GbakRuns, AFailedRunLeavesNoFileThatLooksLikeAGoodResult) {
  InstallGbak("out writing\nexit 1\n");
  RecordingFrame frame;
  frame.on_line = [this](const std::string&) { Write(file_, "half a backup"); };
  EXPECT_THROW(RunBackup(&frame), std::runtime_error);
  EXPECT_FALSE(tolvan::platform::FileExists(file_));
  frame.on_line = [this](const std::string&) { Write(target_, "half a database"); };
  EXPECT_THROW(RunRestore(&frame), std::runtime_error);
  EXPECT_FALSE(tolvan::platform::FileExists(target_));

  // What was there before the run is the operator's: it stays.
  Write(file_, "last week's backup");
  Write(target_, "a database");
  frame.on_line = nullptr;
  EXPECT_THROW(RunBackup(&frame), std::runtime_error);
  EXPECT_THROW(RunRestore(&frame), std::runtime_error);
  EXPECT_TRUE(tolvan::platform::FileExists(file_));
  EXPECT_TRUE(tolvan::platform::FileExists(target_));
}

TEST_F(GbakRuns, GuardPassesMatchingFilesAndSkipsTheToolCheckWithoutAnExpectedVersion) {
  InstallGbak("");
  InstallGbak("", kOld, "gbak_" + std::string(kOld));
  RunBackup(nullptr, kVersion);
  RunBackup(nullptr, "");
  EXPECT_EQ(GetVersao(gbak_, false), kVersion);
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
  EXPECT_THAT(boxes_.Texts(), IsEmpty());
  EXPECT_EQ(Calls().size(), 2u);
}

TEST_F(GbakRuns, GuardSwapsInAKeptGbakOfTheExpectedVersion) {
  InstallGbak("out run\n", kOld);
  InstallGbak("", kVersion, "gbak_" + std::string(kVersion));
  RecordingFrame frame;
  RunBackup(&frame, kVersion);
  EXPECT_EQ(GetVersao(gbak_, false), kVersion);
  EXPECT_EQ(GetVersao(bin_ + "gbak_" + kOld + kSuffix, false), kOld);
  EXPECT_THAT(boxes_.Texts(), IsEmpty());
  EXPECT_THAT(frame.events, ::testing::Contains("line run")) << "the swapped-in gbak runs";
}

TEST_F(GbakRuns, GuardReportsAGbakStillDifferentOnBackupOnly) {
  InstallGbak("", kOld);
  Write(bin_ + kLibrary, Tag(kOld));
  RunBackup(nullptr, kVersion);
  EXPECT_THAT(boxes_.Texts(),
              ElementsAre("gbak " + std::string(kOld) + " diferente do fbclient " + kVersion));
  RunRestore(nullptr, kVersion);
  EXPECT_EQ(boxes_.Texts().size(), 1u);
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
  EXPECT_EQ(Calls().size(), 2u) << "the guard never stops the run";
}

TEST_F(GbakRuns, GuardComparesTheClientLibraryWithGbak) {
  InstallGbak("");
  Write(bin_ + kLibrary, Tag(kOld));
  RunRestore(nullptr);
  ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs_.Dialogs()[0].Text, WrongVersion(kLibrary, kOld, kVersion));
  EXPECT_EQ(dialogs_.Dialogs()[0].Type, TMsgDlgType::mtWarning);
  EXPECT_THAT(dialogs_.Dialogs()[0].Buttons, ElementsAre("Ok"));

  Write(bin_ + "libfbclient_" + kVersion + ".so.2", Tag(kVersion));
  RunRestore(nullptr);
  EXPECT_EQ(GetVersao(bin_ + kLibrary, false), kVersion);
  EXPECT_EQ(GetVersao(bin_ + "libfbclient_" + kOld + ".so.2", false), kOld);
  EXPECT_EQ(dialogs_.Dialogs().size(), 1u);
}

TEST_F(GbakRuns, GuardComparesTheMessageFileBesideTheApplicationFolder) {
  InstallGbak("");
  const std::string message_file = folder_.Path() + "firebird.msg";
  Write(message_file, Tag(kOld));
  RunBackup(nullptr);
  EXPECT_THAT(dialogs_.Texts(), ElementsAre(WrongVersion("firebird.msg", kOld, "3.0")));

  // The kept copies lie beside the application; the copy replaces the file where it was found.
  Write(bin_ + "firebird_" + kVersion + ".msg", Tag(kVersion));
  RunBackup(nullptr);
  EXPECT_EQ(GetVersaoFirebirdmsg(message_file), kVersion);
  EXPECT_EQ(dialogs_.Texts().size(), 1u);

  // A message file of no version always passes.
  Write(message_file, "no tag");
  RunBackup(nullptr);
  EXPECT_EQ(dialogs_.Texts().size(), 1u);
}

TEST_F(GbakRuns, GuardFindsTheMessageFileInTheDefaultInstanceFolder) {
  FakeToolFolder instance;
  tolvan::platform::SetEnv("FIREBIRD", instance.Path());
  if (tolvan::platform::ReadRegistryString(tolvan::platform::RegistryRoot::LocalMachine,
                                           "SOFTWARE\\Firebird Project\\Firebird Server\\Instances",
                                           "DefaultInstance") != instance.Path()) {
    GTEST_SKIP() << "the default instance is read from the registry here";
  }
  InstallGbak("");
  Write(instance.Path() + "firebird.msg", Tag(kOld));
  Write(folder_.Path() + "firebird.msg", Tag(kVersion));
  RunBackup(nullptr);
  EXPECT_THAT(dialogs_.Texts(), ElementsAre(WrongVersion("firebird.msg", kOld, "3.0")));
}

class GbakConnRuns : public GbakRuns {
 protected:
  void SetUp() override {
    GbakRuns::SetUp();
    connection_ = std::make_unique<TVeskSQLConnection>();
    connection_->DriverName = driver_.name();
    connection_->Params = {"Database=srv:C:\\dados\\loja.fdb", "USER_NAME=OPER",
                           "PASSWORD=conn-pw"};
    connection_->ClientLibrary = kLibrary;
    connection_->Open();
    dm_.SQLConnection = connection_.get();
  }
  void TearDown() override {
    connection_.reset();
    GbakRuns::TearDown();
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
};

TEST_F(GbakConnRuns, TakeTheConnectionsSettingsAndAlwaysTheVerboseSwitch) {
  InstallGbak("");
  backup_conn_(&dm_, file_, true, nullptr, false, true);
  restore_conn_(&dm_, "caller-pw", file_, "novo.fdb", false, nullptr, false, true);
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_THAT(Calls()[0].args,
              ElementsAre("-b", "-z", "-V", "C:\\dados\\loja.fdb", file_, "-user", "OPER", "-pas",
                          "conn-pw", "-m", "-SE", "srv:Backup Database"));
  EXPECT_THAT(Calls()[1].args, ElementsAre("-c", "-z", "-V", "-I", file_, "srv:novo.fdb", "-user",
                                           "OPER", "-pas", "caller-pw", "-PAGE_SIZE", "8192"));
  EXPECT_TRUE(connection_->Connected());
}

TEST_F(GbakConnRuns, ReopenTheConnectionOnEveryWayOut) {
  const auto both = [this] {
    RecordingFrame frame;
    EXPECT_THROW(backup_conn_(&dm_, file_, false, &frame, false, false), std::exception);
    EXPECT_TRUE(connection_->Connected());
    EXPECT_THROW(restore_conn_(&dm_, "pw", file_, "novo.fdb", false, nullptr, false, false),
                 std::exception);
    EXPECT_TRUE(connection_->Connected());
  };
  InstallGbak("out failed\nexit 1\n");
  both();  // the tool fails

  fs::remove(U8(gbak_));
  both();  // the tool cannot start

  // The guard raises: the kept gbak cannot be put in place of a folder.
  fs::create_directory(U8(gbak_));
  InstallGbak("", kVersion, "gbak_" + std::string(kVersion));
  dm_.ExpectedClientVersion = kVersion;
  both();

  EXPECT_EQ(Message([&] { backup_conn_(nullptr, file_, false, nullptr, false, false); }),
            "BackupConn: DM não poder ser nil");
}

}  // namespace
