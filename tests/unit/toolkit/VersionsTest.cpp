#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TempDir.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan::test::TempDir;

const bool kWindows = tolvan::platform::kPathDelimiter == '\\';

void WriteAt(const std::string& file, std::uintmax_t size, std::uintmax_t at,
             const std::string& text) {
  { std::ofstream out(std::filesystem::u8path(file), std::ios::binary); }
  std::filesystem::resize_file(std::filesystem::u8path(file), size);
  std::fstream out(std::filesystem::u8path(file), std::ios::binary | std::ios::in | std::ios::out);
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
  std::fstream(std::filesystem::u8path(library), std::ios::binary | std::ios::in | std::ios::out)
          .seekp(3 * kMiB)
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

}  // namespace
