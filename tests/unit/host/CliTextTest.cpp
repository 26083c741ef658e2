// What the command-line host decides from text alone: how far a gbak run has gone, how a status
// fits a terminal, how sizes, times and failures read, which options an export takes, and what
// the tour says the other plug-ins need.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ExportTable.h"
#include "Plugin.h"
#include "PluginNeeds.h"
#include "PostgresProgress.h"
#include "Report.h"
#include "StatusText.h"
#include "WrappedOutput.h"
#include "ci/TestNames.h"
#include "tolvan/Exports.h"

namespace {

using namespace tolvan::cli;

// Each plug-in's part of the tour's sentence says the ODBC driver (or the PostgreSQL tools) only
// when this machine lacks them.
TEST(OtherPluginNeedsTest, SaysWhatEachPluginStillLacks) {
  using tolvan::cli::MachineOffer;
  struct Case {
    MachineOffer offer;
    bool postgres_tools_named, oracle_driver_named, mssql_driver_named;
    const char* also;
  };
  const std::vector<Case> cases = {
      {{true, std::vector<std::string>{"SQLite3"}}, false, true, true, "SQLite3"},
      {{false, std::vector<std::string>{"ODBC Driver 18 for SQL Server", "Oracle 21 ODBC driver"}},
       true,
       false,
       false,
       "postgresql-client"},
      {{true, std::vector<std::string>{}}, false, true, true, "nenhum"},
      {{true, std::nullopt}, false, true, true, "unixodbc-dev"},
  };
  for (const Case& c : cases) {
    const std::string text = tolvan::cli::OtherPluginNeeds(c.offer);
    SCOPED_TRACE(text);
    // The parts after "postgresql, ", "oracle, " and "mssql, ".
    const auto part = [&text](const std::string& plugin) {
      const auto at = text.find(plugin + ", ");
      EXPECT_NE(at, std::string::npos);
      return text.substr(at, text.find(';', at) - at);
    };
    EXPECT_EQ(part("postgresql").find("pg_dump") != std::string::npos, c.postgres_tools_named);
    EXPECT_EQ(part("oracle").find("driver ODBC") != std::string::npos, c.oracle_driver_named);
    EXPECT_EQ(part("mssql").find("driver ODBC") != std::string::npos, c.mssql_driver_named);
    EXPECT_THAT(text, HasSubstr(c.also));
  }
}

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

// With the rows each table holds known before a restore, the percentage follows the rows, within
// the big table too; a view, which a restore names as a table first, is no table.
TEST(GbakProgressTest, KnownRowsWeighTheTablesAndViewsAreNoTables) {
  GbakProgress progress(GbakProgress::Kind::Restore, {{"BIG", 9900}, {"SMALL", 100}});
  EXPECT_THAT(
      PercentsOf(progress, {"gbak:restoring table BIG", "gbak:restoring table SMALL",
                            "gbak:restoring table VB", "gbak:    table VB is a view",
                            "gbak:restoring data for table SMALL", "gbak:   100 records restored",
                            "gbak:restoring data for table BIG", "gbak:   5000 records restored",
                            "gbak:   9900 records restored", "gbak:creating indexes"}),
      ElementsAre(0, 1, 51, 99));
  EXPECT_EQ(progress.Tables(), 2u);
}

// Rows counted beside a backup come during it: no percentage until they do (counting tables would
// run ahead), the rows' share from then on; rows that never come (a failed count) leave the share
// of tables.
TEST(GbakProgressTest, RowsThatComeDuringTheRunWeighTheTablesFromThenOn) {
  struct Case {
    const char* what;
    std::optional<std::map<std::string, std::uint64_t, std::less<>>> rows;
    int when_taken, at_half_of_big;
  };
  const std::vector<Case> cases = {{"counted", {{{"BIG", 9900}, {"SMALL", 100}}}, 1, 51},
                                   {"not counted", std::nullopt, 50, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GbakProgress progress(GbakProgress::Kind::Backup);
    progress.AwaitRows();
    EXPECT_THAT(
        PercentsOf(progress, {"gbak:    writing table BIG", "gbak:    writing table SMALL",
                              "gbak:    writing data for table SMALL", "gbak:100 records written",
                              "gbak:    writing data for table BIG"}),
        ElementsAre());
    progress.TakeRows(c.rows);
    EXPECT_EQ(progress.Percent(), c.when_taken);
    progress.Feed("gbak:5000 records written");
    EXPECT_EQ(progress.Percent(), c.at_half_of_big);
  }
}

// The server's COPY progress read beside pg_dump or pg_restore: the tables done by the order the
// tool copies them, within a table by what its COPY counted against its bytes (else its rows),
// never backwards, below 100 until the run ends.
TEST(CopyProgressTest, FollowsTheToolsOrderAndWhatEachCopyCounted) {
  using tolvan::cli::CopyProgress;
  using tolvan::cli::CopyReading;
  // Weights 100, 900 and 0 (an empty table counts as 1): 1001 in all.
  const std::vector<tolvan::cli::CopyTable> plan = {{"public.a", 100, 1000, std::nullopt},
                                                    {"public.b", 900, std::nullopt, 90},
                                                    {"public.c", 0, std::nullopt, std::nullopt}};
  struct Case {
    const char* what;
    std::vector<std::vector<CopyReading>> readings;
    std::vector<int> percents;  // after each reading
    std::size_t done;
  };
  const std::vector<Case> cases = {
      {"each table in turn, then nothing copying",
       {{}, {{"public.a", 500, 7}}, {{"public.b", 0, 45}}, {{"public.c", 0, 0}}, {}},
       {0, 4, 54, 99, 99},
       3},
      {"a table copied between two readings is done once a later one copies",
       {{{"public.b", 0, 0}}},
       {9},
       1},
      {"a COPY that counts more than the table was thought to hold stays within its table",
       {{{"public.a", 5000, 0}}},
       {9},
       0},
      {"a lower count takes nothing back; a table outside the plan is none of the run's",
       {{{"public.a", 900, 0}}, {{"public.a", 100, 0}}, {{"outro.x", 0, 0}}},
       {8, 8, 9},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CopyProgress progress(plan);
    EXPECT_FALSE(progress.State().percent) << "nothing is known before the first reading";
    std::vector<int> percents;
    for (const auto& reading : c.readings) {
      progress.Feed(reading);
      percents.push_back(progress.State().percent.value_or(-1));
    }
    EXPECT_EQ(percents, c.percents);
    EXPECT_EQ(progress.State().tables_done, c.done);
    EXPECT_EQ(progress.State().tables, 3u);
    progress.AllCopied();
    EXPECT_EQ(progress.State().percent, 99) << "the tool ended, the run goes on";
    EXPECT_EQ(progress.State().tables_done, 3u);
    progress.Complete();
    EXPECT_EQ(progress.State().percent, 100);
  }
}

// gbak's own verbose lines, captured from gbak -v of a database with a table of 25,000 rows (an
// intermediate count every 10,000), one of 2 rows and an empty one: embedded, and through a
// server's service manager.
std::vector<std::string> CapturedLines(const std::string& name) {
  std::ifstream in(std::string(TOLVAN_HOST_TEST_DATA) + "/" + name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(GbakProgressTest, ATableEndsWhenItsDataEndsNotAtAnIntermediateCount) {
  for (const auto& [file, kind] :
       {std::pair{"gbak-backup-verbose.txt", GbakProgress::Kind::Backup},
        std::pair{"gbak-restore-verbose.txt", GbakProgress::Kind::Restore},
        // Through a server's service manager over TCP: the same lines, with a blank at the end.
        std::pair{"gbak-service-backup-verbose.txt", GbakProgress::Kind::Backup},
        std::pair{"gbak-service-restore-verbose.txt", GbakProgress::Kind::Restore}}) {
    SCOPED_TRACE(file);
    const std::vector<std::string> lines = CapturedLines(file);
    ASSERT_EQ(lines.front().rfind("gbak:", 0), 0u) << "no capture of gbak at " << file;
    ASSERT_GT(lines.size(), 40u);
    GbakProgress progress(kind);
    std::uint64_t last_rows = 0;
    std::optional<std::size_t> done_when_big_began;
    for (const std::string& line : lines) {
      progress.Feed(line);
      EXPECT_GE(progress.Rows(), last_rows) << line;
      last_rows = progress.Rows();
      if (line.find("data for table BIG") != std::string::npos) {
        done_when_big_began = progress.TablesDone();
      } else if (done_when_big_began && line.find("records ") != std::string::npos) {
        // 10000, 20000 and 25000 of 25000 rows: BIG is done only when gbak moves on.
        EXPECT_EQ(progress.TablesDone(), *done_when_big_began) << line;
      }
    }
    EXPECT_EQ(progress.Tables(), 3u);
    EXPECT_EQ(progress.TablesDone(), kind == GbakProgress::Kind::Backup ? 3u : 2u)
        << "a restore names no empty table";
    EXPECT_EQ(progress.Rows(), 25002u);
  }
}

TEST(TimeLeftTest, FollowsThePaceOnlyOnceItMeansSomething) {
  EXPECT_DOUBLE_EQ(tolvan::cli::TimeLeft(std::chrono::seconds(10), 25)->count(), 30.0);
  EXPECT_FALSE(tolvan::cli::TimeLeft(std::chrono::seconds(10), 0));
  EXPECT_FALSE(tolvan::cli::TimeLeft(std::chrono::seconds(10), 4)) << "below 5%";
  EXPECT_FALSE(tolvan::cli::TimeLeft(std::chrono::milliseconds(1900), 50)) << "below 2 s";
  EXPECT_FALSE(tolvan::cli::TimeLeft(std::chrono::seconds(10), 100));
  EXPECT_EQ(tolvan::cli::FormatTimeLeft(std::chrono::seconds(59)), "menos de 1 min");
  EXPECT_EQ(tolvan::cli::FormatTimeLeft(std::chrono::seconds(125)), "~2 min 05 s");
  EXPECT_EQ(tolvan::cli::FormatCount(7), "7");
  EXPECT_EQ(tolvan::cli::FormatCount(25002), "25.002");
  EXPECT_EQ(tolvan::cli::FormatCount(1000000), "1.000.000");
}

TEST(FitToWidthTest, NarrowStatusDropsWholeFieldsAndWrapsHelpAtBlanks) {
  const std::vector<std::string> fields = {"| 3,1 s", "50% (2/4 tabelas)", "faltam ~1 min 02 s",
                                           "40.000 linhas"};
  EXPECT_EQ(tolvan::cli::JoinFieldsToWidth(fields, " · ", 120),
            "| 3,1 s · 50% (2/4 tabelas) · faltam ~1 min 02 s · 40.000 linhas");
  EXPECT_EQ(tolvan::cli::JoinFieldsToWidth(fields, " · ", 39), "| 3,1 s · 50% (2/4 tabelas)");
  EXPECT_EQ(tolvan::cli::JoinFieldsToWidth(fields, " · ", 4), "| 3,");
  // A tool's line, shown last, is cut to the room left; numbers before it stay whole or go.
  const std::vector<std::string> with_line = {"| 3,1 s", "40.000 linhas",
                                              "gbak: writing index RDB$PRIMARY1"};
  EXPECT_EQ(tolvan::cli::JoinFieldsToWidth(with_line, " · ", 39, true),
            "| 3,1 s · 40.000 linhas · gbak: writing");
  EXPECT_EQ(tolvan::cli::JoinFieldsToWidth(with_line, " · ", 28, true), "| 3,1 s · 40.000 linhas");
  EXPECT_EQ(tolvan::cli::JoinFieldsToWidth(with_line, " · ", 39), "| 3,1 s · 40.000 linhas");

  const std::string wrapped = tolvan::cli::Wrap("  --file ARQUIVO ",
                                                "o arquivo de backup, num caminho /muito/longo/que/"
                                                "não/cabe/em/linha/nenhuma/desta/largura",
                                                30, 6);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < wrapped.size(); at = wrapped.find('\n', at) + 1, ++lines) {
    const std::string line = wrapped.substr(at, wrapped.find('\n', at) - at);
    EXPECT_LE(DisplayWidth(line), 30u) << line;
    EXPECT_NE(line.back(), ' ') << line;
    // The path is cut only after its separators.
    if (line.find('/') != std::string::npos && at + line.size() + 1 < wrapped.size()) {
      EXPECT_EQ(line.back(), '/') << line;
    }
  }
  EXPECT_GE(lines, 3u);
  // Tabs part words; a word of control characters alone is left as it is, not looped over.
  EXPECT_EQ(tolvan::cli::Wrap("", "a\tb \x01\x02 c", 20, 0), "a b \x01\x02 c\n");
  EXPECT_THAT(wrapped, testing::StartsWith("  --file ARQUIVO o arquivo de\n      backup,"));
  // A number keeps its unit on its line; a number before any other word does not.
  EXPECT_EQ(tolvan::cli::Wrap("", "Backup feito: 403 MB em 1 min.", 17, 0),
            "Backup feito:\n403 MB em 1 min.\n");
  EXPECT_EQ(tolvan::cli::Wrap("", "faltam 1 min", 10, 0), "faltam\n1 min\n");
  EXPECT_EQ(tolvan::cli::Wrap("", "tabela 12 vazia", 9, 0), "tabela 12\nvazia\n");
}

// Whatever is written to a wrapped stream: a line that fits, the status line and a prompt go out as
// written; a long line is broken to the width, its continuation under the text after a stamp.
TEST(WrappedOutputTest, LongLinesBreakToTheWidthOthersPassAsWritten) {
  struct Case {
    std::string written;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"curto\n", "curto\n"},
      {"\r| 3,1 s · 50% (2/4 tabelas) · faltam ~1 min\x1b[K",
       "\r| 3,1 s · 50% (2/4 tabelas) · faltam ~1 min\x1b[K"},
      {"Senha de SYSDBA: ", "Senha de SYSDBA: "},
      {"[  12,5s] gbak: writing data for table CLIENTES_E_FORNECEDORES\n",
       "[  12,5s] gbak: writing data for\n          table\n          CLIENTES_E_FORNECEDORES\n"},
      {"Backup: /srv/backups/noturno/loja-2026-12-09_0230.fbk\n",
       "Backup:\n  /srv/backups/noturno/\n  loja-2026-12-09_0230.fbk\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream sink;
    {
      const tolvan::cli::ScopedLineWrapping wrapped(sink, [] { return std::size_t{34}; });
      sink << c.written << std::flush;
    }
    EXPECT_EQ(sink.str(), c.expected) << c.written;
  }
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

// The servers' and gbak's own texts, as they come, each give one line that names what to fix.
TEST(ReportTest, TheFailuresOperatorsMeetMostGetALineThatSaysWhatToDo) {
  const struct {
    const char* said;
    std::vector<const char*> named;
  } cases[] = {
      {"Your user name and password are not defined. Ask your database administrator to set up a "
       "Firebird login.",
       {"TOLVAN_PASSWORD", "terminal"}},
      {"FATAL:  password authentication failed for user \"postgres\"", {"TOLVAN_PASSWORD"}},
      {"fe_sendauth: no password supplied", {"TOLVAN_PASSWORD"}},
      {"gbak: ERROR:I/O error during \"open\" operation for file \"/dados/Cópia/loja.fdb\"\n"
       "gbak: ERROR:    Error while trying to open file\ngbak: ERROR:    No such file or directory",
       {"/dados/Cópia/loja.fdb", "--database"}},
      {"I/O error during \"lock\" operation for file \"/home/joão/tolvan/default.fdb\"\n"
       "Database already opened with engine instance, incompatible with current",
       {"/home/joão/tolvan/default.fdb"}},
      {"gbak: ERROR:cannot open backup file /bk/loja.fbk\ngbak:Exiting before completion",
       {"/bk/loja.fbk", "--file"}},
      {"gbak: ERROR:database /dados/loja2.fdb already exists.  To replace it, use the -REP switch",
       {"/dados/loja2.fdb", "--database", "--target"}},
      {"FATAL:  database \"lojas\" does not exist", {"lojas", "--database"}},
  };
  for (const auto& c : cases) {
    const auto hints = tolvan::cli::OperatorHints(c.said);
    ASSERT_EQ(hints.size(), 1u) << c.said;
    for (const char* word : c.named) {
      EXPECT_THAT(hints.front(), HasSubstr(word)) << c.said;
    }
    EXPECT_THAT(tolvan::cli::ErrorBlock(c.said),
                ::testing::StartsWith("erro:\n  " + hints.front()));
  }
  EXPECT_THAT(tolvan::cli::OperatorHints("Backup:\r\nError cod: 1"), ::testing::IsEmpty());
}

TEST(ExportTableTest, SuggestsTheNearestNameWhateverTheCase) {
  const std::vector<std::string> family(tolvan::kExportNames.begin(), tolvan::kExportNames.end());
  EXPECT_EQ(tolvan::cli::Nearest("Backp", family), "Backup");
  EXPECT_EQ(tolvan::cli::Nearest("versao", family), "Versao");
  EXPECT_EQ(tolvan::cli::Nearest("RESTORECON", family), "RestoreConn");
  EXPECT_EQ(tolvan::cli::Nearest("pegarusuario", family), "PegarUsuarios");
  EXPECT_FALSE(tolvan::cli::Nearest("compact", family));
  // Only among the candidates given: a plug-in without Backup gets no "Backup" for "Backp".
  EXPECT_EQ(tolvan::cli::Nearest("Backp", {"Versao", "CriarBackup"}), std::nullopt);
  EXPECT_EQ(tolvan::cli::Nearest("--databse", {"--database", "--target"}), "--database");
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
  // Without --database the Firebird plug-in would back up the embedded default database and
  // report success: work that copies a database or changes its users must name it.
  for (const char* name : {"Backup", "BackupConn", "RestoreConn", "CriarDataBaseVazia", "AddUser",
                           "ModifyUser", "DeleteUser"}) {
    const auto options = tolvan::cli::OptionsOf(fb, name);
    std::vector<std::string> given;
    for (const std::string& option : options->required) {
      if (option != "--database") {
        given.push_back(option);
      }
    }
    EXPECT_EQ(UsageMessage(fb, name, given),
              std::string(name) +
                  " precisa da opção --database: o banco embutido padrão serve "
                  "só ao tour e às consultas");
  }
  EXPECT_EQ(UsageMessage(fb, "PegarUsuarios", {}), "") << "the reports keep the default";
  EXPECT_THAT(UsageMessage(fb, "Restore", {"--file"}),
              testing::StartsWith("Restore precisa da opção --database"));
  EXPECT_EQ(UsageMessage(fb, "Versao", {"--file"}), "a opção --file não se aplica a Versao");
  EXPECT_EQ(UsageMessage(fb, "CriarDataBaseFD", {"--server", "--port", "--target", "--database"}),
            "a opção --database não se aplica a CriarDataBaseFD");
  EXPECT_THAT(UsageMessage(fb, "Backup", {"--file", "--database", "--no-frame", "--progress"}),
              HasSubstr("--progress não se aplica com --no-frame"));
  EXPECT_EQ(UsageMessage(fb, "BackupConn", {"--file", "--database", "--restore-password"}),
            "a opção --restore-password não se aplica a BackupConn");
  EXPECT_EQ(UsageMessage(fb, "Backup",
                         {"--file", "--database", "--progress", "--yes", "--quiet-result",
                          "--quiet", "--keep", "--no-wait"}),
            "");
  EXPECT_EQ(UsageMessage(fb, "Versao", {"--quiet"}), "") << "--quiet quiets every export";

  // A plug-in that reads fewer arguments takes fewer options, and needs those it refuses empty.
  EXPECT_EQ(UsageMessage(PluginKind::Oracle, "Backup", {"--file", "--metadata-only"}),
            "a opção --metadata-only não se aplica a Backup");
  EXPECT_EQ(UsageMessage(PluginKind::Oracle, "AddUser", {"--user-name", "--user-password"}),
            "AddUser precisa da opção --group-name");
  EXPECT_EQ(UsageMessage(PluginKind::PostgreSQL, "CriarDataBaseVazia",
                         {"--target", "--database", "--new-user"}),
            "a opção --new-user não se aplica a CriarDataBaseVazia");
}

}  // namespace
