// Which files a rotation may take for dated backups of a name, and which of them it removes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Rotation.h"

namespace {

using tolvan::cli::BackupRecord;
using tolvan::cli::BackupStamp;
using tolvan::cli::DatedBackup;

TEST(RotationTest, OnlyTheExactDatedShapeOfTheNameIsADatedBackup) {
#ifdef _WIN32
  GTEST_SKIP()
      << "the expected names are written with '/'; on Windows the name is joined with '\\'";
#endif
  const std::string name = "/bk/loja.fbk";
  EXPECT_EQ(tolvan::cli::DatedPath(name, {2026, 12, 9, 2, 30, 1}), "/bk/loja-2026-12-09_0230.fbk");
  struct Case {
    const char* file_name;
    std::optional<BackupStamp> stamp;
  } cases[] = {
      {"loja-2026-12-09_0230.fbk", BackupStamp{2026, 12, 9, 2, 30, 1}},
      {"loja-2026-12-09_0230-2.fbk", BackupStamp{2026, 12, 9, 2, 30, 2}},
      {"loja-2026-12-09_0230-1.fbk", std::nullopt},
      {"loja-2026-12-09_0230-02.fbk", std::nullopt},
      {"loja-2026-13-09_0230.fbk", std::nullopt},
      {"loja-2026-12-09_2460.fbk", std::nullopt},
      {"loja-2026-12-09_0230.fbk.nao-verificado", std::nullopt},
      {"loja-2026-12-09_0230.fbk.tolvan", std::nullopt},
      {"loja-2026-12-09_0230 (cópia).fbk", std::nullopt},
      {"loja-2026-12-09_0230.FBK", std::nullopt},
      {"lojas-2026-12-09_0230.fbk", std::nullopt},
      {"loja-velha-2026-12-09_0230.fbk", std::nullopt},
      {"loja.fbk", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tolvan::cli::StampOf(name, c.file_name), c.stamp) << c.file_name;
  }
  // A name without extension takes the date at its end.
  EXPECT_EQ(tolvan::cli::StampOf("/bk/loja", "loja-2026-12-09_0230"),
            (BackupStamp{2026, 12, 9, 2, 30, 1}));
}

DatedBackup Dated(const std::string& name, int day, bool ours, bool verified = false) {
  DatedBackup backup;
  backup.path = "/bk/" + name;
  backup.stamp = {2026, 12, day, 2, 30, 1};
  if (ours) {
    backup.record = BackupRecord{name, 10, 0, verified, {}};
  }
  return backup;
}

TEST(RotationTest, RemovesOnlyItsOwnBackupsBeyondTheNewestAndKeepsTheNewestVerified) {
  // Newest first: two unverified runs after the last verified one, a file of the same shape that
  // tolvan did not write, older runs of tolvan's.
  const std::vector<DatedBackup> backups = {
      Dated("loja-2026-12-09_0230.fbk", 9, true),
      Dated("loja-2026-12-08_0230.fbk", 8, true),
      Dated("loja-2026-12-07_0230.fbk", 7, false),
      Dated("loja-2026-12-06_0230.fbk", 6, true, true),
      Dated("loja-2026-12-05_0230.fbk", 5, true, true),
      Dated("loja-2026-12-04_0230.fbk", 4, true),
  };
  EXPECT_THAT(
      tolvan::cli::BackupsBeyond(backups, 2),
      ::testing::ElementsAre("/bk/loja-2026-12-05_0230.fbk", "/bk/loja-2026-12-04_0230.fbk"));
  EXPECT_THAT(tolvan::cli::BackupsBeyond(backups, 1),
              ::testing::ElementsAre("/bk/loja-2026-12-08_0230.fbk", "/bk/loja-2026-12-05_0230.fbk",
                                     "/bk/loja-2026-12-04_0230.fbk"));
  EXPECT_THAT(tolvan::cli::BackupsBeyond(backups, 5), ::testing::IsEmpty());
  // The backup just written stays even when its name sorts last (the clock was put back).
  EXPECT_THAT(tolvan::cli::BackupsBeyond(backups, 4, "/bk/loja-2026-12-04_0230.fbk"),
              ::testing::IsEmpty());
}

// The record beside a backup reads back as written, the rows of tables whose names have blanks
// included; a record that lacks what tells the backup is none.
TEST(RotationTest, ARecordReadsBackAsWrittenAndAnIncompleteOneIsNone) {
  const BackupRecord record{"loja-2026-12-09_0230.fbk",
                            1234,
                            1765247400,
                            true,
                            {{"CLIENTES", 250000}, {"ITENS DO PEDIDO", 7}}};
  const auto read = tolvan::cli::ReadRecordText(tolvan::cli::RecordText(record));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->file_name, record.file_name);
  EXPECT_EQ(read->size, record.size);
  EXPECT_EQ(read->written, record.written);
  EXPECT_EQ(read->verified, record.verified);
  EXPECT_EQ(read->rows, record.rows);
  const std::string text = tolvan::cli::RecordText(record);
  EXPECT_FALSE(tolvan::cli::ReadRecordText(text.substr(0, text.find("verificado:"))));
}

}  // namespace
