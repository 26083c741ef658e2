#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "ci/TempDir.h"
#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "tolvan/support/ProductFile.h"

namespace {

using tolvan::test::ReadAll;
using tolvan::test::TempDir;
using tolvan::test::U8;

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
    tolvan::support::ProductFile product(final_path);
    EXPECT_EQ(U8(product.Path()).parent_path(), dir.path());
    EXPECT_EQ(ReadAll(product.Path()), "");
    Write(product.Path(), "half a backup");
    // Destroyed without Commit: a failed run.
  }
  EXPECT_EQ(ReadAll(final_path), "last night's backup");
  EXPECT_EQ(Names(dir), std::set<std::string>{"loja b\xC3\xA1sica.fbk"});

  {
    tolvan::support::ProductFile product(final_path);
    Write(product.Path(), "tonight's backup");
    product.Commit();
  }
  EXPECT_EQ(ReadAll(final_path), "tonight's backup");
  EXPECT_EQ(Names(dir).size(), 1u);

  // A new name: nothing there before, the product after.
  {
    tolvan::support::ProductFile product(dir.File("new.fbk"));
    Write(product.Path(), "first");
    product.Commit();
  }
  EXPECT_EQ(ReadAll(dir.File("new.fbk")), "first");
}

TEST(ProductFile, RunsAtOnceGetTheirOwnTemporaryNames) {
  TempDir dir;
  const std::string final_path = dir.File("same.fbk");
  tolvan::support::ProductFile first(final_path);
  tolvan::support::ProductFile second(final_path);
  EXPECT_NE(first.Path(), second.Path());
  Write(first.Path(), "first");
  Write(second.Path(), "second");
  second.Commit();
  // The first run failing later removes only its own file.
  { tolvan::support::ProductFile third(final_path); }
  EXPECT_EQ(ReadAll(final_path), "second");
  EXPECT_EQ(ReadAll(first.Path()), "first");
}

TEST(ProductFile, KeepLeavesTheTemporaryFileForAnUnknownOutcome) {
  TempDir dir;
  std::string kept;
  {
    tolvan::support::ProductFile product(dir.File("x.fbk"));
    kept = product.Path();
    Write(kept, "maybe whole");
    product.Keep();
  }
  EXPECT_EQ(ReadAll(kept), "maybe whole");
  EXPECT_FALSE(tolvan::platform::PathEntryExists(dir.File("x.fbk")));
}

TEST(ProductFile, AFolderThatCannotTakeTheFileThrows) {
  TempDir dir;
  EXPECT_THROW(tolvan::support::ProductFile(dir.File("missing/x.fbk")), std::system_error);
  fs::create_directory(dir.path() / "folder.fbk");
  EXPECT_THROW(tolvan::support::ProductFile(dir.File("folder.fbk")), std::system_error);
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder.fbk"));
}

// The steps tell a final name that can take no product from a folder that cannot take a file, and
// run no work for either.
TEST(ProductSteps, ARefusedFinalNameAndAMissingFolderEachGetTheirOwnMessage) {
  TempDir dir;
  fs::create_directory(dir.path() / "folder.fbk");
  struct Case {
    std::string final_path;
    bool with_refused;    // whether the steps give a message of their own for a refusal
    std::string message;  // how it begins
  } cases[] = {
      {dir.File("folder.fbk"), true, "refused: "},
      {dir.File("folder.fbk"), false, "not created: "},
      {dir.File("missing/x.fbk"), true, "not created: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.final_path);
    tolvan::support::ProductSteps steps;
    steps.final_path = c.final_path;
    steps.not_created = [](const std::string& reason) { return "not created: " + reason; };
    if (c.with_refused) {
      steps.refused = [](const std::string& reason) { return "refused: " + reason; };
    }
    bool worked = false;
    try {
      tolvan::support::MakeProduct(steps, [&](const std::string&) { worked = true; });
      ADD_FAILURE() << "made";
    } catch (const std::runtime_error& error) {
      EXPECT_THAT(error.what(), ::testing::StartsWith(c.message));
    }
    EXPECT_FALSE(worked);
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder.fbk"));
}

// The first bytes of a gbak backup (format 10) and of an EXP dump.
const std::string kGbakHead("\x00\x02\x04\x0a\x00\x00\x00\x04\x04\x01\x00\x00\x00\x05", 14);
const std::string kExportHead = "\x03\x03iEXPORT:V10.02.01\nDSCOTT\n";

std::string MessageOfCommit(tolvan::support::ProductFile& product) {
  try {
    product.Commit();
  } catch (const tolvan::support::EProductNotPlaced& error) {
    return error.what();
  }
  return "(committed)";
}

TEST(ProductFile, AProductNotOfItsKindNeverReplacesTheEarlierFile) {
  TempDir dir;
  const std::string final_path = dir.File("loja.fbk");
  const std::string earlier = std::string("last night's\0 backup", 20);
  struct Case {
    const char* what;
    tolvan::support::ProductKind kind;
    std::string written;
    const char* reason;  // empty: it is a product of its kind
  } cases[] = {
      {"empty backup", tolvan::support::ProductKind::GbakBackup, "",
       "o arquivo que ela gerou está vazio"},
      {"empty dump", tolvan::support::ProductKind::ExportDump, "",
       "o arquivo que ela gerou está vazio"},
      {"text for a backup", tolvan::support::ProductKind::GbakBackup, "gbak: ERROR\n",
       "o arquivo que ela gerou (12 bytes) não começa como um backup do gbak"},
      {"a backup's first bytes only", tolvan::support::ProductKind::GbakBackup,
       kGbakHead.substr(0, 5), "(5 bytes) não começa como um backup do gbak"},
      {"a backup for a dump", tolvan::support::ProductKind::ExportDump, kGbakHead,
       "não começa como um dump do EXP (\"EXPORT:V\")"},
      {"a whole backup", tolvan::support::ProductKind::GbakBackup, kGbakHead + "rest", ""},
      {"a whole dump", tolvan::support::ProductKind::ExportDump, kExportHead, ""},
      {"an empty command file", tolvan::support::ProductKind::Any, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write(final_path, earlier);
    tolvan::support::ProductFile product(final_path, c.kind);
    Write(product.Path(), c.written);
    const std::string message = MessageOfCommit(product);
    if (std::string(c.reason).empty()) {
      EXPECT_EQ(message, "(committed)");
      EXPECT_EQ(ReadAll(final_path), c.written);
      continue;
    }
    EXPECT_THAT(message, ::testing::HasSubstr(c.reason));
    EXPECT_THAT(message, ::testing::StartsWith("A ferramenta terminou sem erro, mas "));
    EXPECT_THAT(message, ::testing::EndsWith("\"" + final_path + "\" ficou como estava."));
    EXPECT_EQ(ReadAll(final_path), earlier);
  }
  EXPECT_EQ(Names(dir), std::set<std::string>{"loja.fbk"});
}

TEST(ProductFile, AProductThatCannotTakeTheFinalNameIsKeptAndTheMessageSaysWhere) {
  TempDir dir;
  const std::string final_path = dir.File("loja.fbk");
  std::string kept;
  {
    tolvan::support::ProductFile product(final_path, tolvan::support::ProductKind::GbakBackup);
    kept = product.Path();
    Write(kept, kGbakHead + "tonight");
    // Something the rename cannot replace took the final name while the tool ran.
    fs::create_directory(U8(final_path));
    Write(final_path + "/inside", "x");
    try {
      product.Commit();
      ADD_FAILURE() << "renamed over a folder";
    } catch (const tolvan::support::EProductNotPlaced& error) {
      EXPECT_EQ(error.KeptAt(), kept);
      EXPECT_THAT(error.what(), ::testing::StartsWith("O arquivo gerado foi mantido em \"" + kept +
                                                      "\", mas não pôde ser posto no "
                                                      "lugar de \"" +
                                                      final_path + "\" ("));
    }
  }
  EXPECT_EQ(ReadAll(kept), kGbakHead + "tonight");
  EXPECT_TRUE(fs::is_directory(U8(final_path)));
  // Kept read-only: the next run to the same name does not take it for a leftover.
  { tolvan::support::ProductFile next(dir.File("loja.fbk2")); }
  fs::remove_all(U8(final_path));
  { tolvan::support::ProductFile next(final_path); }
  EXPECT_EQ(ReadAll(kept), kGbakHead + "tonight");
  fs::permissions(U8(kept), fs::perms::owner_write, fs::perm_options::add);
}

TEST(ProductFile, TheTemporariesNoRunHoldsAreRemovedByTheNextRun) {
  TempDir dir;
  const std::string final_path = dir.File("c\xC3\xB3pia.dump");
  // A host killed during its run left these.
  const std::string stale = final_path + ".~0123456789.tmp";
  const std::string stale_empty = final_path + ".~abcdef0123.tmp";
  Write(stale, "a whole dump nobody will put in place");
  Write(stale_empty, "");
  // Not temporaries of this name.
  const std::string others[] = {dir.File("outra.dump.~0123456789.tmp"), final_path + ".~0123.tmp",
                                final_path + ".~0123456789.old", final_path + ".~01234ABCDE.tmp"};
  for (const std::string& other : others) {
    Write(other, "not ours");
  }
  tolvan::support::ProductFile working(final_path);
  EXPECT_FALSE(tolvan::platform::PathEntryExists(stale));
  EXPECT_FALSE(tolvan::platform::PathEntryExists(stale_empty));
  for (const std::string& other : others) {
    EXPECT_EQ(ReadAll(other), "not ours") << other;
  }

  // A run still at work, its tool writing, keeps its own.
  std::ofstream tool(U8(working.Path()), std::ios::binary | std::ios::trunc);
  tool << "half written";
  tool.flush();
  {
    tolvan::support::ProductFile next(final_path);
    Write(next.Path(), "next");
    next.Commit();
  }
  tool.close();
  EXPECT_EQ(ReadAll(working.Path()), "half written");
  EXPECT_EQ(ReadAll(final_path), "next");
}

}  // namespace
