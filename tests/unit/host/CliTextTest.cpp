// What the command-line host decides from text alone: how far a gbak run has gone, how a status
// fits a terminal, how sizes, times and failures read, and which options an export takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExportTable.h"
#include "Plugin.h"
#include "Report.h"
#include "StatusText.h"
#include "tolvan/Exports.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using tolvan::cli::DisplayWidth;
using tolvan::cli::FitToWidth;
using tolvan::cli::GbakProgress;
using tolvan::cli::PluginKind;

TEST(FitToWidthTest, CutsWholeCharactersAndExpandsTabs) {
  EXPECT_EQ(FitToWidth("ação", 3), "açã");
  EXPECT_EQ(DisplayWidth("ação"), 4u);
  // A wide character that does not fit whole is left out, never cut.
  EXPECT_EQ(FitToWidth("ab日本", 3), "ab");
  EXPECT_EQ(DisplayWidth("日本"), 4u);
  // Combining marks take no column and stay with their letter.
  EXPECT_EQ(FitToWidth("e\xcc\x81x", 1), "e\xcc\x81");
  EXPECT_EQ(FitToWidth("a\tb", 20), "a       b");
  EXPECT_EQ(FitToWidth("abc\tb", 6), "abc");
  EXPECT_EQ(FitToWidth("a\x1b[31mb\r", 20), "a[31mb") << "no escape reaches the terminal";
  EXPECT_EQ(FitToWidth("abc", 0), "");
  EXPECT_EQ(FitToWidth("é", 1), "é");
  // A stray byte counts as one column and is never followed by half of a character.
  EXPECT_EQ(DisplayWidth("a\xc3"), 2u);
}

// The lines gbak -V prints for a backup, as observed, trimmed to what matters.
const std::vector<std::string> kBackupLines = {
    "gbak:gbak version LI-V3.0.11.33637 Firebird 3.0",
    "gbak:writing tables",
    "gbak:    writing table A",
    "gbak:         writing column X",
    "gbak:    writing table Ação b",
    "gbak:    writing table C",
    "gbak:    writing data for table C",
    "gbak:0 records written",
    "gbak:    writing data for table Ação b",
    "gbak:0 records written",
    "gbak:    writing data for table A",
    "gbak:1 records written",
    "gbak:writing table constraints",
    "gbak:closing file, committing, and finishing. 1536 bytes written",
};

std::vector<int> PercentsOf(GbakProgress& progress, const std::vector<std::string>& lines) {
  std::vector<int> seen;
  for (const std::string& line : lines) {
    progress.Feed(line);
    if (const auto percent = progress.Percent()) {
      if (seen.empty() || seen.back() != *percent) {
        seen.push_back(*percent);
      }
    }
  }
  return seen;
}

TEST(GbakProgressTest, CountsTheTablesOfTheMetadataAndTheirData) {
  GbakProgress progress(GbakProgress::Kind::Backup);
  EXPECT_THAT(PercentsOf(progress, kBackupLines), ElementsAre(0, 33, 66, 99));
  EXPECT_EQ(progress.Tables(), 3u) << "\"writing table constraints\" is no table";
  EXPECT_EQ(progress.TablesDone(), 3u);
  progress.Complete();
  EXPECT_EQ(progress.Percent(), 100);

  // Through the service manager the lines come without the prefix; a restore names only the
  // tables with rows, so it stays short of the count until the run ends.
  GbakProgress restore(GbakProgress::Kind::Restore);
  EXPECT_THAT(PercentsOf(restore, {"restoring table A", "restoring table B", "committing metadata",
                                   "restoring data for table A", "   20000 records restored",
                                   "creating indexes"}),
              ElementsAre(0, 50));
}

TEST(GbakProgressTest, OddOrdersNeverGoBackwardsNorPastNinetyNine) {
  GbakProgress progress(GbakProgress::Kind::Backup);
  const std::vector<int> seen =
      PercentsOf(progress, {"gbak:    writing data for table A",  // data before any table was named
                            "gbak:    writing data for table B",  // A never said how many records
                            "gbak:    writing data for table B", "gbak:5 records written",
                            "gbak:7 records written",  // a count with no table open
                            "gbak:    writing table C", "gbak:    writing table D",
                            "gbak:    writing data for table A", "gbak:1 records written"});
  ASSERT_FALSE(seen.empty());
  for (std::size_t i = 1; i < seen.size(); ++i) {
    EXPECT_GT(seen[i], seen[i - 1]);
  }
  EXPECT_LE(seen.back(), 99);
  EXPECT_EQ(progress.Tables(), 2u) << "names after the data began are not metadata";

  GbakProgress empty(GbakProgress::Kind::Backup);
  EXPECT_THAT(PercentsOf(empty, {"gbak:writing tables", "gbak:writing table constraints",
                                 "gbak:closing file, committing, and finishing."}),
              ElementsAre());
  empty.Complete();
  EXPECT_EQ(empty.Percent(), 100) << "a database without tables still ends at 100";
}

TEST(TimeLeftTest, FollowsThePaceSoFar) {
  EXPECT_DOUBLE_EQ(tolvan::cli::TimeLeft(std::chrono::seconds(10), 25)->count(), 30.0);
  EXPECT_FALSE(tolvan::cli::TimeLeft(std::chrono::seconds(10), 0));
  EXPECT_FALSE(tolvan::cli::TimeLeft(std::chrono::seconds(10), 100));
}

TEST(ReportTest, SizesAndTimesReadTheBrazilianWay) {
  EXPECT_EQ(tolvan::cli::FormatSize(0), "0 bytes");
  EXPECT_EQ(tolvan::cli::FormatSize(1023), "1023 bytes");
  EXPECT_EQ(tolvan::cli::FormatSize(1024), "1,0 KB");
  EXPECT_EQ(tolvan::cli::FormatSize(32715571), "31,2 MB");
  EXPECT_EQ(tolvan::cli::FormatSize(1024 * 1024 - 10), "1,0 MB") << "never \"1024,0 KB\"";
  EXPECT_EQ(tolvan::cli::FormatSize(5ull << 40), "5,0 TB");
  EXPECT_EQ(tolvan::cli::FormatDuration(std::chrono::milliseconds(4100)), "4,1 s");
  EXPECT_EQ(tolvan::cli::FormatDuration(std::chrono::milliseconds(59990)), "1 min 00 s");
  EXPECT_EQ(tolvan::cli::FormatDuration(std::chrono::seconds(125)), "2 min 05 s");
  EXPECT_EQ(tolvan::cli::FormatDuration(std::chrono::seconds(3725)), "1 h 02 min");
}

TEST(ReportTest, MessagesKeepTheirLinesWithGbakErrorsFirst) {
  const std::string message =
      "Backup:\r\nError cod: 1\r\ngbak:gbak version LI-V3.0.11.33637\r\n"
      "gbak: ERROR:I/O error during \"open\" operation for file \"/x.fdb\"\r\n"
      "gbak: ERROR:    No such file or directory  \r\n\r\ngbak:Exiting before completion\n";
  EXPECT_THAT(tolvan::cli::MessageLines(message),
              ElementsAre("gbak: ERROR:I/O error during \"open\" operation for file \"/x.fdb\"",
                          "gbak: ERROR:    No such file or directory", "Backup:", "Error cod: 1",
                          "gbak:gbak version LI-V3.0.11.33637", "gbak:Exiting before completion"));
  EXPECT_EQ(tolvan::cli::ErrorBlock("one\rtwo\n"), "erro:\n  one\n  two\n");
  EXPECT_EQ(tolvan::cli::ErrorBlock(""), "erro:\n");
}

TEST(ExportTableTest, SuggestsTheNearestNameWhateverTheCase) {
  EXPECT_EQ(tolvan::cli::NearestExport("Backp"), "Backup");
  EXPECT_EQ(tolvan::cli::NearestExport("versao"), "Versao");
  EXPECT_EQ(tolvan::cli::NearestExport("RESTORECON"), "RestoreConn");
  EXPECT_EQ(tolvan::cli::NearestExport("pegarusuario"), "PegarUsuarios");
  EXPECT_FALSE(tolvan::cli::NearestExport("compact"));
}

TEST(ExportTableTest, EveryExportIsDescribedWithOptionsTolvanHas) {
  for (const PluginKind kind : {PluginKind::Firebird, PluginKind::PostgreSQL, PluginKind::Oracle,
                                PluginKind::MSSQL, PluginKind::Unknown}) {
    for (std::string_view name : tolvan::kExportNames) {
      const auto options = tolvan::cli::OptionsOf(kind, std::string(name));
      ASSERT_TRUE(options) << name;
      EXPECT_FALSE(options->description.empty()) << name;
      for (const auto* list : {&options->required, &options->optional}) {
        for (const std::string& option : *list) {
          bool known = false;
          for (const auto& help : tolvan::cli::AllOptions()) {
            known = known || option == help.name;
          }
          EXPECT_TRUE(known) << name << " " << option;
        }
      }
    }
  }
  EXPECT_FALSE(tolvan::cli::OptionsOf(PluginKind::Firebird, "Backp"));
}

std::string UsageMessage(PluginKind kind, const std::string& name,
                         const std::vector<std::string>& given) {
  try {
    tolvan::cli::CheckOptions(kind, name, given);
  } catch (const tolvan::cli::UsageError& e) {
    return e.what();
  }
  return "";
}

TEST(ExportTableTest, RefusesMissingAndForeignOptionsByName) {
  const auto fb = PluginKind::Firebird;
  EXPECT_EQ(UsageMessage(fb, "BackupConn", {"--database"}), "BackupConn precisa da opção --file");
  EXPECT_EQ(UsageMessage(fb, "RestoreConn", {"--file"}), "RestoreConn precisa da opção --target");
  EXPECT_EQ(UsageMessage(fb, "Restore", {"--file"}), "Restore precisa da opção --database");
  EXPECT_EQ(UsageMessage(fb, "Versao", {"--file"}), "a opção --file não se aplica a Versao");
  EXPECT_EQ(UsageMessage(fb, "CriarDataBaseFD", {"--server", "--port", "--target", "--database"}),
            "a opção --database não se aplica a CriarDataBaseFD");
  EXPECT_THAT(UsageMessage(fb, "Backup", {"--file", "--no-frame", "--progress"}),
              HasSubstr("--progress não se aplica com --no-frame"));
  EXPECT_EQ(UsageMessage(fb, "BackupConn", {"--file", "--quiet"}),
            "a opção --quiet não se aplica a BackupConn");
  EXPECT_EQ(UsageMessage(fb, "Backup", {"--file", "--progress", "--yes", "--quiet-result"}), "");

  // A plug-in that reads fewer arguments takes fewer options, and needs those it refuses empty.
  EXPECT_EQ(UsageMessage(PluginKind::Oracle, "Backup", {"--file", "--metadata-only"}),
            "a opção --metadata-only não se aplica a Backup");
  EXPECT_EQ(UsageMessage(PluginKind::Oracle, "AddUser", {"--user-name", "--user-password"}),
            "AddUser precisa da opção --group-name");
  EXPECT_EQ(UsageMessage(PluginKind::PostgreSQL, "CriarDataBaseVazia", {"--target", "--new-user"}),
            "a opção --new-user não se aplica a CriarDataBaseVazia");
}

}  // namespace
