#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

#include "ci/TempDir.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan::test::TempDir;
using tolvan::test::U8;

const bool kWindows = tolvan::platform::kPathDelimiter == '\\';

void WriteAt(const std::string& file, std::uintmax_t size, std::uintmax_t at,
             const std::string& text) {
  { std::ofstream out(U8(file), std::ios::binary); }
  std::filesystem::resize_file(U8(file), size);
  std::fstream out(U8(file), std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(at));
  out << text;
}

// The guard asks for the version of whatever path it built: none of these may throw or hang.
TEST(Versions, WhatIsNotAReadablePlainFileCarriesNone) {
  TempDir dir;
  WriteAt(dir.File("plain"), 10, 0, "x");
  const std::string device = kWindows ? "NUL" : "/dev/zero";
  for (const std::string& path :
       {dir.File(""), dir.File("missing.dll"), dir.File("plain/inside"), device, std::string()}) {
    EXPECT_EQ(GetVersao(path, false), "") << path;
    EXPECT_EQ(GetVersaoFirebirdmsg(path), "") << path;
  }
}

TEST(Versions, BuildTagsAreFoundAcrossReadBlocksWithinTheScanLimit) {
  TempDir dir;
  constexpr std::uintmax_t kMiB = 1024 * 1024;
  // A tag cut by the border of the first read block is still read whole.
  const std::string across = dir.File("across");
  WriteAt(across, 3 * kMiB, kMiB - 8, "LI-V3.0.11.33637 Firebird 3.0");
  EXPECT_EQ(GetVersaoFirebirdmsg(across), "3.0.11.33637");

  // The product's own tag wins over an earlier compatibility tag, blocks apart.
  const std::string library = dir.File("library");
  WriteAt(library, 4 * kMiB, 100, "LI-V6.3.11.33637");
  std::fstream(U8(library), std::ios::binary | std::ios::in | std::ios::out).seekp(3 * kMiB)
      << "LI-V3.0.11.33637 Firebird 3.0";
  EXPECT_EQ(GetVersaoFirebirdmsg(library), "3.0.11.33637");

  // Beyond the first 64 MiB nothing is read (a sparse file: no disk space taken).
  const std::string far = dir.File("far");
  WriteAt(far, 70 * kMiB, 65 * kMiB, "LI-V3.0.11.33637 Firebird 3.0");
  EXPECT_EQ(GetVersaoFirebirdmsg(far), "");
  if (!kWindows) {
    EXPECT_EQ(GetVersao(far, false), "");
  }
}

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const auto name = entry.path().filename().u8string();
    names.emplace(name.begin(), name.end());
  }
  return names;
}

// The library in use must not be touched when the copy asked for is what it holds already
// (Windows can rename a loaded library but not delete it).
TEST(KeptCopySwap, ACopyEqualToTheFileInUseSwapsNothing) {
  TempDir dir;
  const std::string tag = "LI-V3.0.11.33637 Firebird 3.0";
  WriteAt(dir.File("fbclient.dll"), 100, 0, tag);
  WriteAt(dir.File("fbclient_3.0.11.33637.dll"), 100, 0, tag);
  std::error_code error;
  std::filesystem::create_hard_link(dir.path() / "fbclient.dll", dir.path() / "in-use", error);
  if (error) {
    GTEST_SKIP() << "no hard links here: " << error.message();
  }
  RenomearArqVerAproximada(dir.File("fbclient.dll"), dir.File("fbclient_3.0.11.33637.dll"));
  EXPECT_TRUE(std::filesystem::equivalent(dir.path() / "fbclient.dll", dir.path() / "in-use"))
      << "the file in use was replaced";
  EXPECT_EQ(Names(dir),
            (std::set<std::string>{"fbclient.dll", "fbclient_3.0.11.33637.dll", "in-use"}));
}

TEST(KeptCopySwap, SwappingBackLeavesNoStagingFiles) {
  TempDir dir;
  WriteAt(dir.File("fbclient.dll"), 100, 0, "LI-V3.0.5.1 Firebird 3.0");
  WriteAt(dir.File("fbclient_3.0.11.33637.dll"), 100, 0, "LI-V3.0.11.33637 Firebird 3.0");
  RenomearArqVerAproximada(dir.File("fbclient.dll"), dir.File("fbclient_3.0.11.33637.dll"));
  // Back again: the replaced file's identical copy is kept already, so it goes.
  RenomearArqVerAproximada(dir.File("fbclient.dll"), dir.File("fbclient_3.0.5.1.dll"));
  EXPECT_EQ(GetVersao(dir.File("fbclient.dll"), false), "3.0.5.1");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"fbclient.dll", "fbclient_3.0.11.33637.dll",
                                               "fbclient_3.0.5.1.dll"}));
}

// A swap that cannot be made says in Portuguese which file to copy where, and changes nothing.
TEST(KeptCopySwap, AFailedSwapSaysWhichFileToCopyWhere) {
  TempDir dir;
  WriteAt(dir.File("gbak"), 100, 0, "LI-V3.0.5.1 Firebird 3.0");
  const std::string missing = dir.File("gbak_4.0.5.3140");
  try {
    RenomearArqVerAproximada(dir.File("gbak"), missing);
    ADD_FAILURE() << "no failure";
  } catch (const std::system_error& e) {
    EXPECT_NE(
        std::string(e.what()).find("não há a cópia guardada \"" + missing + "\"; copie para \"" +
                                   dir.File("gbak") + "\" o arquivo da versão certa"),
        std::string::npos)
        << e.what();
  }
  std::filesystem::create_directory(U8(dir.File("lib")));
  WriteAt(dir.File("lib_4.0.5.3140"), 100, 0, "LI-V4.0.5.3140 Firebird 4.0");
  try {
    RenomearArqVerAproximada(dir.File("lib"), dir.File("lib_4.0.5.3140"));
    ADD_FAILURE() << "no failure";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + dir.File("lib") +
                                         "\" é uma pasta; troque-a pela cópia \"" +
                                         dir.File("lib_4.0.5.3140") + "\""),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(GetVersao(dir.File("gbak"), false), "3.0.5.1");
}

}  // namespace
