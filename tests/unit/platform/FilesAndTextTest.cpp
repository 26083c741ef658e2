#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/DynamicLibrary.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/PrivateFolder.h"
#include "platform/Text.h"

namespace tolvan::platform {
namespace {

constexpr bool kPosix = kPathDelimiter == '/';

// The folders of the tests may hold accents: paths go to the streams as UTF-8.
std::filesystem::path U8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(U8(path), std::ios::binary) << text;
}

std::string Read(const std::string& path) {
  std::ifstream file(U8(path), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(Files, CopyOverwritesRemoveAndExists) {
  tolvan::testing::FakeToolFolder folder;
  const std::string source = folder.Path() + "source.bin";
  const std::string target = folder.Path() + "target.bin";
  Write(source, std::string("new\0data", 8));
  Write(target, "old contents, longer than the new ones");
  CopyFileOverwriting(source, target);
  EXPECT_EQ(Read(target), std::string("new\0data", 8));

  EXPECT_TRUE(FileExists(target));
  EXPECT_FALSE(FileExists(folder.Path()));  // a folder is not a file
  EXPECT_TRUE(RemoveFile(target));
  EXPECT_FALSE(FileExists(target));
  EXPECT_FALSE(RemoveFile(target));

  try {
    CopyFileOverwriting(folder.Path() + "missing", target);
    ADD_FAILURE() << "copied a missing file";
  } catch (const std::system_error& error) {
    // Portuguese for the operator, the system's own reason after the colon.
    EXPECT_THAT(error.what(), StartsWith("não foi possível copiar \"" + folder.Path() +
                                         "missing\" para \"" + target + "\": "));
    EXPECT_THAT(error.what(), EndsWith(error.code().message()));
  }
  EXPECT_THROW(CopyFileOverwriting(source, folder.Path() + "no-folder" + kPathDelimiter + "x"),
               std::system_error);
  EXPECT_FALSE(FileExists(target));
}

// The folder a path of the fake tool folder lies in, as ReplaceDurably names it.
std::string FolderOf(const tolvan::testing::FakeToolFolder& folder) {
  std::string path = folder.Path();
  path.pop_back();
  return path;
}

TEST(Files, ReplaceDurablyFlushesTheFileBeforeTheRenameAndTheFolderAfter) {
  tolvan::testing::FakeToolFolder folder;
  const std::string source = folder.Path() + "novo.fbk.~0123456789.tmp";
  const std::string target = folder.Path() + "c\xC3\xB3pia.fbk";
  const std::string flush = kPosix ? "fsync " : "FlushFileBuffers ";
  {
    // A first product: nothing to take over, a plain move.
    Write(source, "first");
    const ScopedFileCallRecorder recorder;
    ReplaceDurably(source, target);
    EXPECT_THAT(
        recorder.Calls(),
        ElementsAre(flush + source, (kPosix ? "rename " : "MoveFileExW ") + source + " " + target,
                    flush + FolderOf(folder)));
  }
  {
    Write(source, "second");
    const ScopedFileCallRecorder recorder;
    ReplaceDurably(source, target);
    if (kPosix) {
      EXPECT_THAT(recorder.Calls(),
                  ElementsAre("fchmod " + source, flush + source, "rename " + source + " " + target,
                              flush + FolderOf(folder)));
    } else {
      EXPECT_THAT(recorder.Calls(),
                  ElementsAre(flush + source, "ReplaceFileW " + source + " " + target,
                              flush + FolderOf(folder)));
    }
  }
  EXPECT_EQ(Read(target), "second");
  EXPECT_FALSE(PathEntryExists(source));
  // A failed rename leaves both where they were.
  Write(source, "third");
  EXPECT_THROW(ReplaceDurably(source, folder.Path() + "no-folder" + kPathDelimiter + "x"),
               std::system_error);
  EXPECT_EQ(Read(source), "third");
  EXPECT_EQ(Read(target), "second");
}

TEST(Files, AHeldFileStaysAndAnUnheldOneIsRemoved) {
  tolvan::testing::FakeToolFolder folder;
  const std::string path = folder.Path() + "x.fbk.~0123456789.tmp";
  const FileHold hold = CreateHeldFile(path);
  ASSERT_NE(hold, kNoFileHold);
  EXPECT_EQ(CreateHeldFile(path), kNoFileHold) << "the name is taken";
  // The tool writes the held file by its name, truncating it.
  Write(path, "backup");
  {
    // While it writes (opened without delete sharing, as the C runtime opens a file).
    std::ofstream tool(U8(path), std::ios::binary | std::ios::trunc);
    tool << "a backup";
    tool.flush();
    EXPECT_FALSE(RemoveUnheldFile(path));
  }
  if (kPosix) {
    // The flock outlasts the tool's own handle; on Windows the tool's handle is what counts.
    EXPECT_FALSE(RemoveUnheldFile(path));
  }
  EXPECT_EQ(Read(path), "a backup");
  ReleaseFileHold(hold);
  EXPECT_TRUE(RemoveUnheldFile(path));
  EXPECT_FALSE(PathEntryExists(path));

  // A read-only file was kept on purpose; a folder is no leftover file.
  Write(path, "kept");
  ASSERT_TRUE(MakeReadOnly(path));
  EXPECT_FALSE(RemoveUnheldFile(path));
  EXPECT_EQ(Read(path), "kept");
  std::filesystem::permissions(U8(path), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  EXPECT_FALSE(RemoveUnheldFile(folder.Path()));
  EXPECT_FALSE(RemoveUnheldFile(folder.Path() + "missing"));
}

TEST(Files, APrivateFolderIsTheUsersAloneUsableAndNeverOneThatStood) {
  tolvan::testing::FakeToolFolder parent;
  const std::string folder = parent.Path() + "tolvan-verificar-1";
  ASSERT_TRUE(CreatePrivateFolder(folder));
  // Its access list must still let the user who made it work inside.
  Write(folder + kPathDelimiter + "x", "x");
  EXPECT_EQ(Read(folder + kPathDelimiter + "x"), "x");
  if (kPosix) {
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(U8(folder)).permissions(), fs::perms::owner_all);
  }
  EXPECT_FALSE(CreatePrivateFolder(folder));
  Write(parent.Path() + "arquivo", "x");
  EXPECT_FALSE(CreatePrivateFolder(parent.Path() + "arquivo"));
  EXPECT_THROW(CreatePrivateFolder(parent.Path() + "sem-pasta" + kPathDelimiter + "x"),
               std::system_error);
}

TEST(DynamicLibrary, LoadsLooksUpAndReportsFailures) {
  auto library = DynamicLibrary::Load(kPosix ? "libc.so.6" : "kernel32.dll");
  EXPECT_NE(library->Symbol(kPosix ? "getpid" : "GetCurrentProcessId"), nullptr);
  EXPECT_EQ(library->Symbol("tolvan_no_such_symbol"), nullptr);
  try {
    DynamicLibrary::Load("tolvan-no-such-library");
    ADD_FAILURE() << "loaded a missing library";
  } catch (const std::system_error& error) {
    EXPECT_THAT(error.what(), StartsWith("não foi possível carregar \"tolvan-no-such-library\""));
  }
  // The names the programs' folders hold their client libraries under.
  EXPECT_EQ(SharedLibraryFileName("fbclient", "2"), kPosix ? "libfbclient.so.2" : "fbclient.dll");
  EXPECT_EQ(SharedLibraryFileName("ibclient64"), kPosix ? "libibclient64.so" : "ibclient64.dll");
  EXPECT_EQ(ClientLibrariesComeWithTheSystem(), kPosix);
}

TEST(MessageBox, TheSinkGetsTheText) {
  std::vector<std::string> shown;
  MessageBoxSink previous =
      SetMessageBoxSink([&](const std::string& text) { shown.push_back(text); });
  ShowPlainMessageBox("gbak.exe não Encontrado.");
  ShowPlainMessageBox("");
  MessageBoxSink mine = SetMessageBoxSink(previous);
  EXPECT_THAT(shown, ElementsAre("gbak.exe não Encontrado.", ""));
  ASSERT_TRUE(mine);
}

// The system's own box (a stderr line on POSIX; under Wine, with no display, it returns at once)
// with an owner that is no window: shown without one, never a crash.
TEST(MessageBox, TheOwnerIsKeptAndAStaleOneIsHarmless) {
  int fake_window = 0;
  EXPECT_EQ(SetMessageBoxOwner(&fake_window), nullptr);
  ShowPlainMessageBox(
      "Backup conclu\xC3\xAD"
      "do.");
  EXPECT_EQ(SetMessageBoxOwner(nullptr), &fake_window);
}

TEST(DecodeUtf8, GivesCodePointsOrNothingForAnyInvalidSequence) {
  EXPECT_EQ(DecodeUtf8("jo\xC3\xA3o \xF0\x9F\x98\x80"), std::u32string(U"jo\u00E3o \U0001F600"));
  EXPECT_EQ(DecodeUtf8(""), std::u32string());
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xC3", "\x80"}) {
    EXPECT_FALSE(DecodeUtf8(bad).has_value()) << bad;
  }
}

TEST(SanitizeUtf8, ValidTextIsKept) {
  const std::string text = "plain ASCII, olá ação € \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF";
  EXPECT_EQ(SanitizeUtf8(text), text);
  EXPECT_EQ(SanitizeUtf8(""), "");
  EXPECT_EQ(SanitizeUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(SanitizeUtf8, EachInvalidByteBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(SanitizeUtf8("A\xFF"
                         "B"),
            "A" + r + "B");
  EXPECT_EQ(SanitizeUtf8("ol\xE1"), "ol" + r);                 // Latin-1
  EXPECT_EQ(SanitizeUtf8("\x80x"), r + "x");                   // stray continuation
  EXPECT_EQ(SanitizeUtf8("\xC3"), r);                          // truncated at the end
  EXPECT_EQ(SanitizeUtf8("\xE2\x82(\xC3\xA7"), r + r + "(ç");  // truncated, then valid
  EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), r + r);                  // overlong '/'
  EXPECT_EQ(SanitizeUtf8("\xE0\x80\xAF"), r + r + r);          // overlong, three bytes
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), r + r + r);          // surrogate U+D800
  EXPECT_EQ(SanitizeUtf8("\xF4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
  EXPECT_EQ(SanitizeUtf8("\xF8\x88\x80\x80\x80"), r + r + r + r + r);
}

TEST(FromSystemCodePage, PosixKeepsUtf8AndReadsOtherBytesAsLatin1) {
  if (!kPosix) {
    GTEST_SKIP() << "depends on the Windows code page";
  }
  EXPECT_EQ(FromSystemCodePage("ação"), "ação");
  EXPECT_EQ(FromSystemCodePage("a\xE7\xE3o \xFF"), "ação ÿ");
  EXPECT_EQ(FromSystemCodePage(""), "");
}

}  // namespace
}  // namespace tolvan::platform
