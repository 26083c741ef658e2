#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "ci/TempDir.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan::test::ReadAll;
using tolvan::test::TempDir;
using tolvan::test::U8;

TEST(PegarDirTemp, IsAnExistingFolderEndingWithTheDelimiter) {
  const std::string dir = PegarDirTemp();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(dir.back() == '/' || dir.back() == '\\') << dir;
  EXPECT_TRUE(std::filesystem::is_directory(U8(dir))) << dir;
}

TEST(GravarArquivo, OverwritesOrAppendsBytesAsTheyAre) {
  TempDir dir;
  const auto file = dir.File("pg_dump.cmd");
  GravarArquivo("first\r\nline\n", file, true);
  EXPECT_EQ(ReadAll(file), "first\r\nline\n");
  GravarArquivo("second", file, true);
  EXPECT_EQ(ReadAll(file), "second");
  GravarArquivo(" more", file, false);
  EXPECT_EQ(ReadAll(file), "second more");
  GravarArquivo("", file, true);
  EXPECT_EQ(ReadAll(file), "");
}

TEST(GravarArquivo, TakesUtf8FileNames) {
  TempDir dir;
  const auto file = dir.File("relat\xc3\xb3rio.txt");
  GravarArquivo("ok", file, true);
  EXPECT_TRUE(std::filesystem::exists(U8(file)));
  EXPECT_EQ(ReadAll(file), "ok");
}

TEST(GravarArquivo, ThrowsSystemErrorWhenFileCannotBeWritten) {
  TempDir dir;
  const std::string missing = dir.File("missing/sub/file.txt");
  // The operator reads why in Portuguese, with the system's own reason after the colon.
  try {
    GravarArquivo("x", missing, true);
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const std::system_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "GravarArquivo: não foi possível gravar \"" + missing + "\": " + e.code().message());
  }
  // A folder in the way of the file.
  EXPECT_THROW(GravarArquivo("x", dir.File(""), true), std::system_error);
  EXPECT_THROW(GravarArquivo("x", "", true), std::system_error);
}

TEST(CopyFile, CopiesAndReplacesOnlyWhenAllowed) {
  TempDir dir;
  const auto source = dir.File("fbclient.dll");
  const auto target = dir.File("ibclient64.dll");
  GravarArquivo("new", source, true);

  EXPECT_TRUE(CopyFile(source, target, false));
  EXPECT_EQ(ReadAll(target), "new");

  GravarArquivo("old", target, true);
  EXPECT_FALSE(CopyFile(source, target, true));
  EXPECT_EQ(ReadAll(target), "old");

  EXPECT_TRUE(CopyFile(source, target, false));
  EXPECT_EQ(ReadAll(target), "new");
}

TEST(CopyFile, ReportsFailureWithoutThrowingAndWithoutHarm) {
  TempDir dir;
  const auto source = dir.File("source");
  GravarArquivo("keep me", source, true);
  EXPECT_FALSE(CopyFile(dir.File("missing"), dir.File("target"), false));
  EXPECT_FALSE(std::filesystem::exists(U8(dir.File("target"))));
  EXPECT_FALSE(CopyFile(source, dir.File("no/such/folder/target"), false));
  EXPECT_FALSE(CopyFile("", dir.File("target"), false));
  // Onto itself: refused, and the file keeps its content.
  EXPECT_FALSE(CopyFile(source, source, false));
  EXPECT_EQ(ReadAll(source), "keep me");
}

}  // namespace
