// The toolkit's version reads and its kept copies of other versions, on real files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan::testing::FakeToolFolder;

fs::path U8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(U8(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

std::string Read(const std::string& path) {
  std::ifstream in(U8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(U8(path), ignored));
}

// A file that reads as the given version: the build tag inside some other bytes.
std::string Tagged(const std::string& version, const std::string& extra = "") {
  return std::string(
             "\x7f"
             "ELF\0\0 junk ",
             12) +
         "LI-V" + version + " Firebird " + version.substr(0, 3) + std::string(1, '\0') + extra;
}

class KeptCopies : public testing::Test {
 protected:
  std::string At(const std::string& name) const { return folder_.Path() + name; }
  void Put(const std::string& name, const std::string& version, const std::string& extra = "") {
    Write(At(name), Tagged(version, extra));
  }
  FakeToolFolder folder_;
};

TEST_F(KeptCopies, VersionIsTheProductsBuildTag) {
  // A library carries a compatibility tag first; the product's own tag is the version.
  Write(At("lib"),
        std::string("LI-V6.3.11.3363737 Firebird 3.0\0...", 35) + "LI-V3.0.11.33637 Firebird 3.0");
  EXPECT_EQ(GetVersao(At("lib"), false), "3.0.11.33637");
  Write(At("win"), "xx WI-V4.0.5.3140 Firebird 4.0 yy");
  EXPECT_EQ(GetVersao(At("win"), false), "4.0.5.3140");
  Write(At("test"), "LI-T5.0.0.1 without a product name");
  EXPECT_EQ(GetVersao(At("test"), false), "5.0.0.1");
  Write(At("short"), "LI-V3.0 Firebird 3.0 li-v3.0.1.2");
  EXPECT_EQ(GetVersao(At("short"), false), "");
  EXPECT_EQ(GetVersao(At("missing"), false), "");
  EXPECT_EQ(GetVersaoFirebirdmsg(At("missing")), "");
  Write(At("firebird.msg"), std::string("\x01\x01\x00\x04 arithmetic exception", 26));
  EXPECT_EQ(GetVersaoFirebirdmsg(At("firebird.msg")), "");
}

TEST_F(KeptCopies, VersionResourceOfAWindowsFile) {
  const auto windows = tolvan::platform::GetEnv("SystemRoot");
  if (std::string(tolvan::platform::kExecutableSuffix) != ".exe" || !windows) {
    GTEST_SKIP() << "files carry version resources on Windows only";
  }
  EXPECT_THAT(GetVersao(*windows + "\\System32\\kernel32.dll", false),
              ::testing::MatchesRegex("\\d+\\.\\d+\\.\\d+\\.\\d+"));
}

TEST_F(KeptCopies, ApproximateCopySharesTheLongestPrefixThenIsTheHighest) {
  const std::string gbak = At(std::string("gbak") + tolvan::platform::kExecutableSuffix);
  const std::string ext = tolvan::platform::kExecutableSuffix;
  for (const char* version : {"2.5.9.1", "3.0.10.1", "3.0.11.2", "3.1.0.5"}) {
    Put("gbak_" + std::string(version) + ext, version);
  }
  Put("gbak_3.0.x" + ext, "3.0.11.33637");  // not a version: never picked
  Put("gbakx_3.0.11.33637" + ext, "3.0.11.33637");

  EXPECT_EQ(PegarArqVerAproximada("3.0.11.33637", gbak), At("gbak_3.0.11.2" + ext));
  EXPECT_EQ(PegarArqVerAproximada("3.0.9.9", gbak), At("gbak_3.0.11.2" + ext));
  EXPECT_EQ(PegarArqVerAproximada("3.1", gbak), At("gbak_3.1.0.5" + ext));
  EXPECT_EQ(PegarArqVerAproximada("3.2.0.1", gbak), "") << "major alone is not enough";
  EXPECT_EQ(PegarArqVerAproximada("", gbak), "");
  EXPECT_EQ(PegarArqVerAproximada("3.0.11.2", At("nofolder/gbak")), "");

  // Names with several dots keep everything from the first dot after the version.
  Put("libfbclient_3.0.11.33637.so.2", "3.0.11.33637");
  Put("libfbclient_3.0.11.33637.so.3", "3.0.11.33637");
  EXPECT_EQ(PegarArqVerAproximada("3.0.11.33637", At("libfbclient.so.2")),
            At("libfbclient_3.0.11.33637.so.2"));
}

TEST_F(KeptCopies, SwapKeepsTheReplacedFileUnderItsOwnVersion) {
  Put("fbclient.dll", "3.0.5.1", "old");
  Put("fbclient_3.0.11.33637.dll", "3.0.11.33637", "new");
  RenomearArqVerAproximada(At("fbclient.dll"), At("fbclient_3.0.11.33637.dll"));
  EXPECT_EQ(GetVersao(At("fbclient.dll"), false), "3.0.11.33637");
  EXPECT_EQ(Read(At("fbclient_3.0.5.1.dll")), Tagged("3.0.5.1", "old"));
  EXPECT_TRUE(Exists(At("fbclient_3.0.11.33637.dll"))) << "the kept copy stays kept";

  // Swapping back finds the old one's name taken by an identical file: no duplicate is made.
  RenomearArqVerAproximada(At("fbclient.dll"), At("fbclient_3.0.5.1.dll"));
  EXPECT_EQ(Read(At("fbclient.dll")), Tagged("3.0.5.1", "old"));
  EXPECT_FALSE(Exists(At("fbclient_3.0.11.33637~2.dll")));

  // A different file under the name it would get: both are kept.
  Put("fbclient_3.0.5.1.dll", "3.0.5.1", "rebuilt");
  RenomearArqVerAproximada(At("fbclient.dll"), At("fbclient_3.0.11.33637.dll"));
  EXPECT_EQ(Read(At("fbclient_3.0.5.1.dll")), Tagged("3.0.5.1", "rebuilt"));
  EXPECT_EQ(Read(At("fbclient_3.0.5.1~2.dll")), Tagged("3.0.5.1", "old"));

  // A file without a version is kept too, under a name that is never picked as a version.
  Write(At("firebird.msg"), "no tag");
  Put("firebird_3.0.11.33637.msg", "3.0.11.33637");
  RenomearArqVerAproximada(At("firebird.msg"), At("firebird_3.0.11.33637.msg"));
  EXPECT_EQ(Read(At("firebird_sem-versao.msg")), "no tag");
}

TEST_F(KeptCopies, SwapWithoutACopyLeavesTheFileAlone) {
  Put("gbak", "3.0.5.1");
  RenomearArqVerAproximada(At("gbak"), "");
  EXPECT_EQ(Read(At("gbak")), Tagged("3.0.5.1"));
  EXPECT_THROW(RenomearArqVerAproximada(At("gbak"), At("gbak_9.9.9.9")), std::system_error);
  EXPECT_EQ(Read(At("gbak")), Tagged("3.0.5.1"));
  // A missing file simply receives the copy.
  Put("gbak_3.0.11.33637", "3.0.11.33637");
  RenomearArqVerAproximada(At("fresh"), At("gbak_3.0.11.33637"));
  EXPECT_EQ(GetVersao(At("fresh"), false), "3.0.11.33637");
}

TEST_F(KeptCopies, SwapMovesALinkAsideAndNeverWritesThroughIt) {
  FakeToolFolder system;
  const std::string installed = system.Path() + "gbak";
  Write(installed, Tagged("3.0.5.1"));
  std::error_code error;
  fs::create_symlink(U8(installed), U8(At("gbak")), error);
  if (error) {
    GTEST_SKIP() << "no symbolic links here: " << error.message();
  }
  EXPECT_EQ(GetVersao(At("gbak"), false), "3.0.5.1") << "the link is followed";
  Put("gbak_3.0.11.33637", "3.0.11.33637");
  RenomearArqVerAproximada(At("gbak"), At("gbak_3.0.11.33637"));
  EXPECT_EQ(Read(installed), Tagged("3.0.5.1"));
  EXPECT_FALSE(fs::is_symlink(U8(At("gbak"))));
  EXPECT_EQ(GetVersao(At("gbak"), false), "3.0.11.33637");
  EXPECT_TRUE(fs::is_symlink(U8(At("gbak_3.0.5.1"))));
}

}  // namespace
