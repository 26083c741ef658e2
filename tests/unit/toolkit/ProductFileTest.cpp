#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "TempDir.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "vesk/VeskPackBase5.h"

namespace {

namespace fs = std::filesystem;
using tolvan::test::TempDir;

// Paths reach the streams as UTF-8 whatever the system's narrow code page is.
std::filesystem::path U8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string ReadAll(const std::string& file) {
  std::ifstream in(U8(file), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& file, const std::string& text) {
  std::ofstream(U8(file), std::ios::binary) << text;
}

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const auto name = entry.path().filename().u8string();
    names.emplace(name.begin(), name.end());
  }
  return names;
}

TEST(ProductFile, CommitPutsTheNewFileInPlaceAndOtherwiseNothingChanges) {
  TempDir dir;
  const std::string final_path = dir.File("loja b\xC3\xA1sica.fbk");
  Write(final_path, "last night's backup");
  {
    vesk::ProductFile product(final_path);
    EXPECT_FALSE(product.InPlace());
    EXPECT_EQ(U8(product.Path()).parent_path(), dir.path());
    EXPECT_EQ(ReadAll(product.Path()), "");
    Write(product.Path(), "half a backup");
    // Destroyed without Commit: a failed run.
  }
  EXPECT_EQ(ReadAll(final_path), "last night's backup");
  EXPECT_EQ(Names(dir), std::set<std::string>{"loja b\xC3\xA1sica.fbk"});

  {
    vesk::ProductFile product(final_path);
    Write(product.Path(), "tonight's backup");
    product.Commit();
  }
  EXPECT_EQ(ReadAll(final_path), "tonight's backup");
  EXPECT_EQ(Names(dir).size(), 1u);

  // A new name: nothing there before, the product after.
  {
    vesk::ProductFile product(dir.File("new.fbk"));
    Write(product.Path(), "first");
    product.Commit();
  }
  EXPECT_EQ(ReadAll(dir.File("new.fbk")), "first");
}

TEST(ProductFile, RunsAtOnceGetTheirOwnTemporaryNames) {
  TempDir dir;
  const std::string final_path = dir.File("same.fbk");
  vesk::ProductFile first(final_path);
  vesk::ProductFile second(final_path);
  EXPECT_NE(first.Path(), second.Path());
  Write(first.Path(), "first");
  Write(second.Path(), "second");
  second.Commit();
  // The first run failing later removes only its own file.
  { vesk::ProductFile third(final_path); }
  EXPECT_EQ(ReadAll(final_path), "second");
  EXPECT_EQ(ReadAll(first.Path()), "first");
}

TEST(ProductFile, KeepLeavesTheTemporaryFileForAnUnknownOutcome) {
  TempDir dir;
  std::string kept;
  {
    vesk::ProductFile product(dir.File("x.fbk"));
    kept = product.Path();
    Write(kept, "maybe whole");
    product.Keep();
  }
  EXPECT_EQ(ReadAll(kept), "maybe whole");
  EXPECT_FALSE(tolvan::platform::PathEntryExists(dir.File("x.fbk")));
}

TEST(ProductFile, AFolderThatCannotTakeTheFileThrows) {
  TempDir dir;
  EXPECT_THROW(vesk::ProductFile(dir.File("missing/x.fbk")), std::system_error);
  fs::create_directory(dir.path() / "folder.fbk");
  EXPECT_THROW(vesk::ProductFile(dir.File("folder.fbk")), std::system_error);
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder.fbk"));
}

TEST(ScopedChildEnvironment, OnlyTheChildrenSeeTheVariable) {
  tolvan::testing::FakeToolFolder folder;
  const std::string tool =
      "\"" + folder.Install("tool", "env TOLVAN_TEST_SECRET\nrecord-env TOLVAN_TEST_SECRET\n") +
      "\"";
  std::string output;
  {
    vesk::ScopedChildEnvironment secret("TOLVAN_TEST_SECRET", "a b\"c -m");
    EXPECT_EQ(tolvan::platform::GetEnv("TOLVAN_TEST_SECRET"), std::nullopt);
    EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), 0);
    EXPECT_EQ(output, "env:TOLVAN_TEST_SECRET=a b\"c -m\n");
  }
  EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), 0);
  EXPECT_EQ(output, "env:TOLVAN_TEST_SECRET unset\n");
  // Never on the command line either.
  const auto calls = folder.Calls("tool");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].args.empty());
}

}  // namespace
