// Backup, Restore and their Conn forms of the loaded plug-in, against the fake gbak in a temporary
// application folder: the tool-version guard, the frame, the failure texts, the connection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "LinkedPlugin.h"
#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "recorders/Recorders.h"
#include "scripted_driver/MessageOf.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/Exports.h"
#include "tolvan/support/ToolRunner.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan::testing::MessageOf;

using tolvan::testing::FakeToolFolder;

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

std::string Read(const std::string& path) {
  std::ifstream in(U8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The server's default instance folder as the registry gives it, on every platform.
std::unique_ptr<tolvan::platform::ScopedRegistryValueOverride> DefaultInstance(
    const std::string& folder) {
  return std::make_unique<tolvan::platform::ScopedRegistryValueOverride>(
      tolvan::platform::RegistryRoot::LocalMachine,
      "SOFTWARE\\Firebird Project\\Firebird Server\\Instances", "DefaultInstance", folder);
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
  std::string GetCaptureText() const override {
    events.push_back("read");
    return TVeskFraProgresso::GetCaptureText();
  }

  mutable Lines events;
  std::function<void(const std::string&)> on_line;

 private:
  static const char* Word(bool on) { return on ? "on" : "off"; }
};

class GbakRuns : public testing::Test {
 protected:
  void SetUp() override {
    plugin_ = tolvan::testing::LinkedPlugin::Load("TolvanFirebird");
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
    Write(bin_ + kLibrary, Tag(kVersion));
  }

  void TearDown() override { app_.reset(); }

  // The fake tool as gbak (or under another name) in the application folder, reading as version.
  // As a backup, it writes a whole one first (its header), as the real gbak does.
  void InstallGbak(const std::string& script, const std::string& version = kVersion,
                   const std::string& name = "gbak") {
    const std::string path = bin_ + name + kSuffix;
    tolvan::platform::CopyFileOverwriting(FakeToolFolder::BuiltTool(), path);
    fs::permissions(U8(path), fs::perms::owner_all, fs::perm_options::add);
    Write(path, Tag(version), true);
    if (name == "gbak") {
      Write(sample_backup_, kBackupHead);
      Write(gbak_ + ".script", "product " + sample_backup_ + "\n" + script);
    }
  }

  std::vector<tolvan::testing::FakeToolCall> Calls() const {
    return tolvan::testing::ReadFakeToolCalls(gbak_ + ".calls");
  }

  // The backup file the last gbak was told to write: file_ or a temporary name beside it.
  std::string WrittenFile() const {
    const auto calls = Calls();
    for (const std::string& arg : calls.back().args) {
      if (arg.rfind(file_, 0) == 0) {
        return arg;
      }
    }
    return "(none)";
  }

  // What a run left in the folder besides the final names.
  Lines Leftovers() const {
    Lines names;
    for (const auto& entry : fs::directory_iterator(U8(folder_.Path()))) {
      const auto name = entry.path().filename().u8string();
      const std::string text(name.begin(), name.end());
      if (text.find(".~") != std::string::npos) {
        names.push_back(text);
      }
    }
    return names;
  }

  // A frame on which gbak "writes" its product as its first line arrives.
  std::unique_ptr<RecordingFrame> WritingFrame(const std::string& bytes,
                                               std::function<void()> then = nullptr) {
    auto frame = std::make_unique<RecordingFrame>();
    frame->on_line = [this, bytes, then](const std::string&) {
      Write(WrittenFile(), bytes);
      if (then) {
        then();
      }
    };
    return frame;
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
  // A gbak backup's first bytes: the backup record and its format.
  const std::string kBackupHead{"\x00\x02\x04\x0a\x00\x00\x00\x04\x04\x01\x00\x00\x00\x05", 14};
  std::string sample_backup_ = folder_.Path() + "sample.fbk";
  std::string target_ = folder_.Path() + "y.fdb";
  tolvan::platform::ScopedEnvironmentOverride environment_;
  // No server instance here unless a test names one.
  tolvan::platform::ScopedRegistryValueOverride no_instance_{
      tolvan::platform::RegistryRoot::LocalMachine,
      "SOFTWARE\\Firebird Project\\Firebird Server\\Instances", "DefaultInstance", std::nullopt};
  std::unique_ptr<tolvan::platform::ScopedExecutablePathOverride> app_;
  tolvan::test::DialogRecorder dialogs_;
  tolvan::test::PlainMessageRecorder boxes_;
  std::unique_ptr<tolvan::testing::LinkedPlugin> plugin_;
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
  EXPECT_THAT(Calls()[0].args, ElementsAre("-b", "-z", "-V", "/d/x.fdb", file_, "-user", "U", "-SE",
                                           "srv:Backup Database"))
      << "through another host's service manager gbak writes the final name itself";

  RecordingFrame partial;
  partial.EhCircular = true;
  RunRestore(&partial);
  EXPECT_THAT(partial.events, ElementsAre("partial on", "keep on", "line gbak: one",
                                          "line gbak: two", "partial off"));
  EXPECT_FALSE(partial.EhCircular);
  EXPECT_THAT(Calls()[1].args,
              ElementsAre("-c", "-z", "-V", file_, target_, "-user", "U", "-PAGE_SIZE", "8192"));
}

TEST_F(GbakRuns, FailuresWithAFrame) {
  InstallGbak("out first\nerr second\nexit 3\n");
  RecordingFrame backup;
  EXPECT_EQ(MessageOf([&] { RunBackup(&backup); }), "Backup:\r\nError cod: 3\r\nfirst\r\nsecond");
  // The captured text is read before the frame is reset.
  EXPECT_THAT(backup.events, ElementsAre("circular on", "keep on", "line first", "line second",
                                         "read", "circular off"));
  RecordingFrame restore;
  EXPECT_EQ(MessageOf([&] { RunRestore(&restore); }), "Restore:\r\nfirst\r\nsecond");
  EXPECT_THAT(restore.events, ElementsAre("partial on", "keep on", "line first", "line second",
                                          "read", "partial off"));

  // A frame the host reuses tells each failure with that run's lines only.
  Write(gbak_ + ".script", "out third\nexit 4\n");
  EXPECT_EQ(MessageOf([&] { RunBackup(&backup); }), "Backup:\r\nError cod: 4\r\nthird");
  EXPECT_EQ(MessageOf([&] { RunRestore(&backup); }), "Restore:\r\nthird");

  Write(gbak_ + ".script", "exit 1\n");
  RecordingFrame silent_backup;
  EXPECT_EQ(MessageOf([&] { RunBackup(&silent_backup); }),
            "Backup:\r\nError cod: 1\r\ngbak.exe não Encontrado.");
  RecordingFrame silent_restore;
  EXPECT_EQ(MessageOf([&] { RunRestore(&silent_restore); }), "Restore:\r\n");

  fs::remove(U8(gbak_));
  RecordingFrame missing;
  EXPECT_EQ(MessageOf([&] { RunBackup(&missing); }),
            "Backup:\r\nError cod: -1\r\ngbak.exe não Encontrado.");
  EXPECT_EQ(missing.events.back(), "circular off");
}

TEST_F(GbakRuns, FailuresWithoutAFrameAreNeverSuccess) {
  InstallGbak("err gbak: unavailable database\nexit 3\n");
  EXPECT_EQ(MessageOf([&] { RunBackup(nullptr); }), "Backup:\r\ngbak: unavailable database\n");
  EXPECT_EQ(MessageOf([&] { RunRestore(nullptr); }), "Restore:\r\ngbak: unavailable database\n");

  // Silent failures: a gbak that died or never started.
  Write(gbak_ + ".script", "out  \nexit 3\n");
  EXPECT_EQ(MessageOf([&] { RunBackup(nullptr); }), "Backup:\r\nError cod: 3");
  EXPECT_EQ(MessageOf([&] { RunRestore(nullptr); }), "Restore:\r\nError cod: 3");
  fs::remove(U8(gbak_));
  EXPECT_EQ(MessageOf([&] { RunBackup(nullptr); }), "Backup:\r\nError cod: -1");

  InstallGbak("out done\n");
  EXPECT_NO_THROW(RunBackup(nullptr));
  EXPECT_NO_THROW(RunRestore(nullptr));
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
  const auto default_instance = DefaultInstance(instance.Path());
  InstallGbak("");
  Write(instance.Path() + "firebird.msg", Tag(kOld));
  Write(folder_.Path() + "firebird.msg", Tag(kVersion));
  RunBackup(nullptr);
  EXPECT_THAT(dialogs_.Texts(), ElementsAre(WrongVersion("firebird.msg", kOld, "3.0")));
}

TEST_F(GbakRuns, ABackupTakesThePlaceOfTheOldOneOnlyWhenItSucceeded) {
  const std::string old_backup = std::string("last week's backup\0\xff", 21);
  Write(file_, old_backup);
  const auto unchanged = [&](const char* way) {
    EXPECT_EQ(Read(file_), old_backup) << way;
    EXPECT_THAT(Leftovers(), IsEmpty()) << way;
  };

  InstallGbak("out writing\nexit 1\n");
  EXPECT_THAT(MessageOf([&] { RunBackup(WritingFrame("half a backup").get()); }),
              HasSubstr("Error cod: 1"));
  EXPECT_NE(WrittenFile(), file_) << "gbak writes a temporary name beside the final one";
  EXPECT_EQ(WrittenFile().rfind(file_ + ".~", 0), 0u) << WrittenFile();
  unchanged("gbak failed");

  EXPECT_EQ(MessageOf([&] { RunBackup(nullptr); }), "Backup:\r\nwriting\n");
  unchanged("gbak failed, no frame");

  // A frame that fails while gbak runs.
  InstallGbak("out writing\n");
  EXPECT_THAT(MessageOf([&] {
                RunBackup(WritingFrame("half", [] { throw std::runtime_error("frame"); }).get());
              }),
              "frame");
  unchanged("the frame raised");

  fs::remove(U8(gbak_));
  EXPECT_THAT(MessageOf([&] { RunBackup(nullptr); }), "Backup:\r\nError cod: -1");
  unchanged("gbak could not start");

  // The guard raises before gbak runs: a gbak that is a folder.
  fs::create_directory(U8(gbak_));
  EXPECT_THAT(MessageOf([&] { RunBackup(nullptr); }), HasSubstr("é uma pasta, não um programa"));
  unchanged("the guard raised");
  fs::remove(U8(gbak_));

  InstallGbak("out writing\n");
  RunBackup(WritingFrame(kBackupHead + "this week's backup").get());
  EXPECT_EQ(Read(file_), kBackupHead + "this week's backup");
  EXPECT_THAT(Leftovers(), IsEmpty());

  backup_("/d/x.fdb", "U", "P", "", false, nullptr, false, true, "", kLibrary, false);
  EXPECT_THAT(Calls().back().args, ElementsAre("-b", "-z", "/d/x.fdb", "", "-user", "U"));
  EXPECT_THAT(Leftovers(), IsEmpty());
}

TEST_F(GbakRuns, OnlyAWholeBackupReplacesTheOldOneAndItIsFlushedBeforeAndAfterTheRename) {
  const std::string& head = kBackupHead;
  const std::string old_backup = head + "last week's";
  Write(file_, old_backup);
  InstallGbak("");
  // A gbak that ends with 0 but writes nothing.
  Write(gbak_ + ".script", "out writing\n");
  EXPECT_EQ(
      MessageOf([&] { RunBackup(nullptr); }),
      "Backup:\r\nA ferramenta terminou sem erro, mas o arquivo que ela gerou está vazio; \"" +
          file_ + "\" ficou como estava.");
  EXPECT_THAT(MessageOf([&] { RunBackup(WritingFrame("gbak: done").get()); }),
              HasSubstr("(10 bytes) não começa como um backup do gbak"));
  EXPECT_EQ(Read(file_), old_backup);
  EXPECT_THAT(Leftovers(), IsEmpty());

  {
    // The fake gbak flushes nothing: we do, before the rename and the folder after it.
    const tolvan::platform::ScopedFileCallRecorder recorder;
    RunBackup(WritingFrame(head + "tonight").get());
    EXPECT_EQ(tolvan::test::DurableCommitProblem(recorder.Calls(), WrittenFile(), file_), "");
  }
  EXPECT_EQ(Read(file_), head + "tonight");

  // The final name cannot be replaced when gbak is done: the finished backup is kept.
  const auto blocked = [this] {
    fs::remove(U8(file_));
    fs::create_directory(U8(file_));
    Write(file_ + "/inside", "");
  };
  const std::string message =
      MessageOf([&] { RunBackup(WritingFrame(head + "finished", blocked).get()); });
  const std::string kept = WrittenFile();
  EXPECT_THAT(message, StartsWith("Backup:\r\nO arquivo gerado foi mantido em \"" + kept +
                                  "\", mas não pôde ser posto no lugar de \"" + file_ + "\""));
  EXPECT_EQ(Read(kept), head + "finished");
  fs::permissions(U8(kept), fs::perms::owner_write, fs::perm_options::add);
  fs::remove_all(U8(file_));
}

TEST_F(GbakRuns, AWaitThatFailedKeepsWhatGbakWroteAndSaysWhere) {
  Write(file_, "last week's backup");
  Write(target_ + ".old", "");
  InstallGbak("out writing\n");
  const auto wait_failed = [] {
    throw tolvan::support::ToolWaitFailed(std::make_error_code(std::errc::no_child_process),
                                          "waitpid");
  };
  const std::string message =
      MessageOf([&] { RunBackup(WritingFrame("maybe whole", wait_failed).get()); });
  const std::string kept = WrittenFile();
  EXPECT_THAT(message, HasSubstr("não foi possível saber como ele terminou"));
  EXPECT_THAT(message, HasSubstr("mantido em \"" + kept + "\", sem substituir \"" + file_ + "\""));
  EXPECT_EQ(Read(file_), "last week's backup");
  EXPECT_EQ(Read(kept), "maybe whole");

  auto frame = std::make_unique<RecordingFrame>();
  frame->on_line = [&](const std::string&) {
    Write(target_, "a restored database");
    wait_failed();
  };
  EXPECT_THAT(MessageOf([&] { RunRestore(frame.get()); }),
              HasSubstr("O banco \"" + target_ + "\" não foi apagado"));
  EXPECT_EQ(Read(target_), "a restored database");
}

TEST_F(GbakRuns, AFailedRestoreRemovesOnlyTheFileItCreated) {
  auto creating = std::make_unique<RecordingFrame>();
  creating->on_line = [this](const std::string&) { Write(target_, "half a database"); };
  InstallGbak("out restoring\nexit 1\n");
  EXPECT_THAT(MessageOf([&] { RunRestore(creating.get()); }), "Restore:\r\nrestoring");
  EXPECT_FALSE(fs::exists(U8(target_)));

  // What stood there before the run is the operator's, even when the run wrote over it.
  Write(target_, "a database");
  EXPECT_THROW(RunRestore(creating.get()), std::runtime_error);
  EXPECT_EQ(Read(target_), "half a database");
  fs::remove(U8(target_));

  // The frame fails while gbak runs: what gbak had made goes too.
  creating->on_line = [this](const std::string&) {
    Write(target_, "half a database");
    throw std::runtime_error("frame");
  };
  EXPECT_EQ(MessageOf([&] { RunRestore(creating.get()); }), "frame");
  EXPECT_FALSE(fs::exists(U8(target_)));

  // A failed run that made a folder there made no database file.
  creating->on_line = [this](const std::string&) { fs::create_directory(U8(target_)); };
  EXPECT_THROW(RunRestore(creating.get()), std::runtime_error);
  EXPECT_TRUE(fs::is_directory(U8(target_)));
}

TEST_F(GbakRuns, ARestoreWithIndexesLeftInactiveKeepsTheDatabase) {
  auto frame = std::make_unique<RecordingFrame>();
  frame->on_line = [this](const std::string&) { Write(target_, "a whole database"); };
  InstallGbak(
      "out gbak:Database is not online due to failure to activate one or more indices.\n"
      "out gbak:Run gfix -online to bring database online without active indices.\nexit 2\n");
  const std::string message = MessageOf([&] { RunRestore(frame.get()); });
  EXPECT_THAT(message, StartsWith("Restore:\r\ngbak:Database is not online"));
  EXPECT_THAT(message, HasSubstr("O banco \"" + target_ + "\" foi restaurado e mantido"));
  EXPECT_THAT(message, HasSubstr("gfix -online"));
  EXPECT_EQ(Read(target_), "a whole database");

  fs::remove(U8(target_));
  EXPECT_THAT(MessageOf([&] { RunRestore(nullptr); }), HasSubstr("foi restaurado e mantido"));
}

TEST_F(GbakRuns, ThePasswordReachesGbakThroughItsEnvironmentAndNeverItsArguments) {
  InstallGbak("record-env ISC_PASSWORD\n");
  const std::string password = "-m \"se nha\\\" x";
  backup_("/d/x.fdb", "João Silva", password, file_, false, nullptr, false, false, "", kLibrary,
          true);
  restore_(target_, "SYSDBA", password, file_, false, nullptr, false, false, "", kLibrary, false);
  ASSERT_EQ(Calls().size(), 2u);
  const auto calls = Calls();
  for (const auto& call : calls) {
    EXPECT_EQ(call.env.at("ISC_PASSWORD"), password);
    EXPECT_THAT(call.args, Not(::testing::Contains("-pas")));
    for (const std::string& arg : call.args) {
      EXPECT_THAT(arg, Not(HasSubstr("se nha")));
    }
  }
  EXPECT_THAT(Calls()[0].args, ElementsAre("-b", "-z", "-V", "/d/x.fdb", StartsWith(file_ + ".~"),
                                           "-user", "JOãO SILVA", "-m"));
  EXPECT_FALSE(tolvan::platform::GetEnv("ISC_PASSWORD")) << "the host's environment keeps none";

  // An empty password is given as empty, never left to what the host's environment holds.
  tolvan::platform::SetEnv("ISC_PASSWORD", "host's own");
  backup_("/d/x.fdb", "", "", file_, false, nullptr, false, false, "", kLibrary, false);
  EXPECT_EQ(Calls().back().env.at("ISC_PASSWORD"), "");
  EXPECT_THAT(Calls().back().args, ElementsAre("-b", "-z", "-V", "/d/x.fdb", WrittenFile()));
}

// gbak writes to its standard output under these names, and onto the database when given its
// path: either way no backup comes of it and, in the second, the database is gone.
TEST_F(GbakRuns, ABackupToStandardOutputOrOntoTheDatabaseIsRefusedBeforeAnythingRuns) {
  InstallGbak("");
  for (const std::string name : {"stdout", "STDOUT", "-", "/dev/stdout", "/dev/fd/1"}) {
    EXPECT_EQ(MessageOf([&] {
                backup_("/d/x.fdb", "U", "P", name, false, nullptr, false, true, "", kLibrary,
                        false);
              }),
              "Backup:\r\nO arquivo de backup \"" + name +
                  "\" é o nome que o gbak dá à saída padrão: o backup não seria gravado em "
                  "arquivo nenhum.\r\nInforme o caminho de um arquivo; nada foi executado.");
  }

  const std::string database = folder_.Path() + "loja.fdb";
  Write(database, "the database");
  fs::create_directory(U8(folder_.Path() + "sub"));
  // Where links cannot be made (Windows without the right), the link case is left out.
  std::error_code no_link;
  fs::create_symlink(U8(database), U8(folder_.Path() + "link.fdb"), no_link);
  const auto refused = [&](const std::string& key, const std::string& file, bool service) {
    return MessageOf(
        [&] { backup_(key, "U", "P", file, service, nullptr, false, true, "", kLibrary, false); });
  };
  Lines same_file = {database, folder_.Path() + "sub/../loja.fdb"};
  if (!no_link) {
    same_file.push_back(folder_.Path() + "link.fdb");
  }
  for (const std::string& file : same_file) {
    EXPECT_EQ(refused(database, file, false),
              "Backup:\r\nO arquivo de backup \"" + file + "\" é o próprio banco de dados \"" +
                  database +
                  "\": o backup o destruiria.\r\nInforme outro caminho para o arquivo de backup; "
                  "nada foi executado.");
  }
  // A server's path, by its text: the file is written there through the service manager.
  EXPECT_THAT(refused("srv/3050:/dados/loja.fdb", "/dados/./loja.fdb", true),
              HasSubstr("é o próprio banco de dados"));
  EXPECT_THAT(refused("srv:C:\\Dados\\Loja.fdb", "c:\\dados\\LOJA.FDB", true),
              HasSubstr("é o próprio banco de dados"));
  EXPECT_EQ(Read(database), "the database");
  EXPECT_THAT(Calls(), IsEmpty());

  // Beside it, the line is the usual one.
  backup_("srv:C:\\Dados\\Loja.fdb", "U", "P", "C:\\Dados\\Loja.fbk", true, nullptr, false, true,
          "", kLibrary, false);
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_THAT(Calls()[0].args, ElementsAre("-b", "-z", "C:\\Dados\\Loja.fdb", "C:\\Dados\\Loja.fbk",
                                           "-user", "U", "-SE", "srv:Backup Database"));
}

// A target on a server that could not be asked (here: nothing listens) may be the operator's: a
// failed run leaves it to the server and says nothing more than gbak did.
TEST_F(GbakRuns, AFailedRestoreToAServerThatCannotBeAskedTouchesNothing) {
  InstallGbak("out gbak: cannot attach\nexit 1\n");
  EXPECT_EQ(MessageOf([&] {
              restore_("127.0.0.1/1:/dados/novo.fdb", "U", "P", file_, true, nullptr, false, true,
                       "", "libfbclient.so.2", false);
            }),
            "Restore:\r\ngbak: cannot attach\n");
  ASSERT_EQ(Calls().size(), 1u);
}

TEST_F(GbakRuns, APathWithADoubleQuoteIsRefusedBeforeAnythingRuns) {
  InstallGbak("");
  Write(file_, "kept");
  const std::string quoted = folder_.Path() + "q\"uote.fbk";
  EXPECT_EQ(MessageOf([&] {
              backup_("/d/x.fdb", "U", "P", quoted, false, nullptr, false, false, "", kLibrary,
                      false);
            }),
            "Backup:\r\nO caminho do arquivo de backup contém aspas duplas (\"), que não podem "
            "fazer parte de um nome de arquivo: " +
                quoted);
  EXPECT_THAT(MessageOf([&] {
                backup_("srv:/d/a\"b.fdb", "U", "P", file_, true, nullptr, false, false, "",
                        kLibrary, false);
              }),
              HasSubstr("O caminho do banco de dados contém aspas duplas"));
  EXPECT_THAT(MessageOf([&] {
                restore_(target_ + "\"", "U", "P", file_, false, nullptr, false, false, "",
                         kLibrary, false);
              }),
              HasSubstr("Restore:\r\nO caminho do banco de destino contém aspas duplas"));
  EXPECT_THAT(MessageOf([&] {
                restore_(target_, "U", "P", quoted, false, nullptr, false, false, "", kLibrary,
                         false);
              }),
              HasSubstr("O caminho do arquivo de backup contém aspas duplas"));
  EXPECT_THAT(Calls(), IsEmpty());
  EXPECT_THAT(dialogs_.Texts(), IsEmpty()) << "refused before the guard";
  EXPECT_EQ(Read(file_), "kept");
  EXPECT_THAT(Leftovers(), IsEmpty());
}

TEST_F(GbakRuns, AnApplicationFolderWithABlankAndAnAccent) {
  const std::string bin =
      folder_.Path() + "Program Files" + kDelimiter + "Tolvan Açaí" + kDelimiter;
  fs::create_directories(U8(bin));
  const tolvan::platform::ScopedExecutablePathOverride app(bin + "tolvan" + kSuffix);
  bin_ = bin;
  gbak_ = bin + "gbak" + kSuffix;
  Write(bin + kLibrary, Tag(kVersion));
  InstallGbak("");
  // The fake tool opens its record by a narrow name, which Windows reads in the ANSI code page.
  const std::string record = folder_.Path() + "calls";
  tolvan::platform::SetEnv("TOLVAN_FAKE_RECORD", record);
  RunBackup(nullptr);
  RunRestore(nullptr);
  const auto calls = tolvan::testing::ReadFakeToolCalls(record);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_THAT(calls[0].args,
              ElementsAre("-b", "-z", "-V", "/d/x.fdb", StartsWith(file_ + ".~"), "-user", "U"));
  EXPECT_THAT(calls[1].args,
              ElementsAre("-c", "-z", "-V", file_, target_, "-user", "U", "-PAGE_SIZE", "8192"));
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
}

TEST_F(GbakRuns, BadSettingsGiveAClearMessageAndNeverACrash) {
  InstallGbak("");
  // No client library named, or a folder of that name: a warning, and the run goes on.
  backup_("/d/x.fdb", "U", "P", file_, false, nullptr, false, false, "", "", false);
  fs::create_directory(U8(bin_ + "lib"));
  backup_("/d/x.fdb", "U", "P", file_, false, nullptr, false, false, "", "lib", false);
  EXPECT_THAT(dialogs_.Texts(),
              ElementsAre(HasSubstr("Nenhuma biblioteca cliente do Firebird foi informada"),
                          HasSubstr("A biblioteca cliente \"lib\" é uma pasta")));
  EXPECT_THAT(dialogs_.Texts().back(),
              AllOf(HasSubstr("Troque essa pasta pela biblioteca cliente lib da versão "),
                    HasSubstr(" do Firebird, copiada para \"" + bin_ + "\".")));
  EXPECT_EQ(Calls().size(), 2u);

  // The default instance names a file: a warning, and the folder beside the application.
  const std::string not_a_folder = folder_.Path() + "firebird.conf";
  Write(not_a_folder, "x");
  Write(folder_.Path() + "firebird.msg", Tag(kVersion));
  {
    const auto default_instance = DefaultInstance(not_a_folder);
    RunBackup(nullptr);
    EXPECT_THAT(dialogs_.Texts().back(), HasSubstr("indica um arquivo, não uma pasta"));
    EXPECT_EQ(dialogs_.Texts().size(), 3u);
  }

  // gbak itself a folder.
  fs::remove(U8(gbak_));
  fs::create_directory(U8(gbak_));
  EXPECT_EQ(MessageOf([&] { RunRestore(nullptr); }),
            "O gbak esperado em \"" + gbak_ +
                "\" é uma pasta, não um programa.\r\nTroque essa pasta pelo gbak do Firebird, "
                "copiado para \"" +
                bin_ + "\".");
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

TEST_F(GbakConnRuns, AnEmptyCopyNeverReplacesABackupThatIsThere) {
  InstallGbak("");
  const std::string database = folder_.Path() + "novo.fdb";
  const std::string backup = folder_.Path() + "novo.fbk";
  Write(backup, "the full backup of a dropped database");
  const auto vazia = plugin_->Function<tolvan::CriarDataBaseVaziaFn>("CriarDataBaseVazia");
  // The structure's backup is written on this machine when the current database has no host.
  connection_->Params[0] = "Database=" + folder_.Path() + "loja.fdb";
  driver_->ClearRecord();
  EXPECT_EQ(MessageOf([&] { vazia(&dm_, database, "", "", false); }),
            "CriarDataBaseVazia: o arquivo \"" + backup +
                "\" já existe e seria substituído pela cópia da estrutura do banco.\r\nMova ou "
                "renomeie esse arquivo, ou escolha outro nome para o novo banco; nada foi "
                "alterado.");
  EXPECT_EQ(Read(backup), "the full backup of a dropped database");
  EXPECT_THAT(Calls(), IsEmpty());
  EXPECT_EQ(driver_->Count(tolvan::testing::Operation::Close), 0) << "the connection stayed open";
  EXPECT_TRUE(connection_->Connected());
}

TEST_F(GbakConnRuns, TakeTheConnectionsSettingsAndAlwaysTheVerboseSwitch) {
  InstallGbak("record-env ISC_PASSWORD\n");
  backup_conn_(&dm_, file_, true, nullptr, false, true);
  restore_conn_(&dm_, "caller-pw", file_, "novo.fdb", false, nullptr, false, true);
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_THAT(Calls()[0].args, ElementsAre("-b", "-z", "-V", "C:\\dados\\loja.fdb", file_, "-user",
                                           "OPER", "-m", "-SE", "srv:Backup Database"));
  EXPECT_EQ(Calls()[0].env["ISC_PASSWORD"], "conn-pw");
  EXPECT_THAT(Calls()[1].args, ElementsAre("-c", "-z", "-V", "-I", file_, "srv:novo.fdb", "-user",
                                           "OPER", "-PAGE_SIZE", "8192"));
  EXPECT_EQ(Calls()[1].env["ISC_PASSWORD"], "caller-pw");
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

  EXPECT_EQ(MessageOf([&] { backup_conn_(nullptr, file_, false, nullptr, false, false); }),
            "BackupConn: DM não poder ser nil");
}

TEST_F(GbakConnRuns, AFailedRunIsToldEvenWhenTheConnectionCannotOpenAgain) {
  using tolvan::testing::Operation;
  // The run failed: its own failure is the news, and the reopening's comes after it.
  InstallGbak("out gbak: unavailable database\nexit 1\n");
  driver_->FailAt(Operation::Connect, driver_->Count(Operation::Connect) + 1, "servidor caiu");
  const std::string both =
      MessageOf([&] { backup_conn_(&dm_, file_, false, nullptr, false, false); });
  EXPECT_THAT(both, StartsWith("Backup:\r\ngbak: unavailable database\n"));
  EXPECT_THAT(both, HasSubstr("servidor caiu"));

  // The run went well: a connection that does not open again is the failure to report.
  Write(gbak_ + ".script", "");
  driver_->FailAt(Operation::Connect, driver_->Count(Operation::Connect) + 1, "servidor caiu");
  EXPECT_EQ(MessageOf([&] {
              restore_conn_(&dm_, "pw", file_, "novo.fdb", false, nullptr, false, false);
            }),
            "servidor caiu");
  EXPECT_FALSE(connection_->Connected());
}

}  // namespace
