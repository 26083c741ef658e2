// What a verified backup reads from text: gbak's verbose backup lines, a dump's table of contents
// and data members, and how a difference and the verdict read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Report.h"
#include "Verify.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace tolvan::cli;

TEST(ReadGbakBackupLinesTest, TakesTheObjectsAndTheLastCountOfEachTable) {
  const std::vector<std::string> lines = {
      "gbak:readied database /x/loja.fdb for backup",
      "gbak:writing tables",
      "gbak:writing table constraints",
      "gbak:    writing table CLIENTES",
      "gbak:    writing table PEDIDOS",
      "gbak:    writing table VAZIA",
      "gbak:    writing table CONSTRAINTS",
      "gbak:    writing view V_PED",
      "gbak:    writing generator G_PED value 41",
      "gbak:writing stored procedure P_TOTAL",
      "gbak:    writing index IX_VALOR",
      "gbak:    writing data for table PEDIDOS",
      "gbak:20000 records written",
      "gbak:40000 records written",
      "gbak:40123 records written",
      "gbak:    writing data for table CLIENTES",
      "gbak:2 records written",
      "gbak:    writing trigger CHECK_1",
      "gbak:writing trigger messages",
      "gbak:writing constraint INTEG_1",
      "gbak:closing file, committing, and finishing. 4608 bytes written",
  };
  const BackupContents c = ReadGbakBackupLines(lines);
  EXPECT_THAT(c.objects.at("tabela"), ElementsAre("CLIENTES", "CONSTRAINTS", "PEDIDOS", "VAZIA"));
  EXPECT_THAT(c.objects.at("gerador"), ElementsAre("G_PED"));
  EXPECT_THAT(c.objects.at("visão"), ElementsAre("V_PED"));
  EXPECT_THAT(c.objects.at("procedimento"), ElementsAre("P_TOTAL"));
  EXPECT_THAT(c.objects.at("gatilho"), ElementsAre("CHECK_1"));
  EXPECT_THAT(c.objects.at("restrição"), ElementsAre("INTEG_1"));
  EXPECT_EQ(c.rows.at("PEDIDOS"), 40123u);
  EXPECT_EQ(c.rows.at("CLIENTES"), 2u);
  // A table without data lines holds no rows; the closing byte count is no table's.
  EXPECT_EQ(c.rows.at("VAZIA"), 0u);
  EXPECT_EQ(c.rows.size(), 4u);
}

TEST(FirstDifferenceTest, NamesAMissingObjectOrTheFirstCountThatDiffersWithBothCounts) {
  BackupContents recorded;
  recorded.objects["tabela"] = {"A", "B"};
  recorded.objects["índice"] = {"IX"};
  recorded.rows = {{"A", 1234567}, {"B", 3}};
  BackupContents restored = recorded;
  EXPECT_EQ(FirstDifference(recorded, restored), std::nullopt);

  restored.rows["A"] = 1234566;
  EXPECT_EQ(FirstDifference(recorded, restored),
            "tabela A: 1.234.567 linhas no backup, 1.234.566 na cópia restaurada");

  restored = recorded;
  restored.objects["índice"].clear();
  EXPECT_THAT(*FirstDifference(recorded, restored), HasSubstr("índice IX"));

  restored = recorded;
  restored.objects["tabela"].insert("C");
  EXPECT_THAT(*FirstDifference(recorded, restored), HasSubstr("tabela C"));

  // Restored objects of other kinds (a system one the backup does not list) are no difference.
  restored = recorded;
  restored.objects["gatilho"] = {"RDB$X"};
  EXPECT_EQ(FirstDifference(recorded, restored), std::nullopt);
}

TEST(VerdictTest, ReadsInBrazilianFormAndFindsTheToolsMarkedLines) {
  BackupContents c;
  for (int i = 0; i < 14; ++i) {
    c.rows["T" + std::to_string(i)] = i == 0 ? 1234567 - 13 : 1;
  }
  EXPECT_EQ(VerdictLine("/bk/loja.fbk", c, std::chrono::duration<double>(42.1)),
            "Backup verificado: /bk/loja.fbk, 14 tabelas, 1.234.567 linhas, restaurado em 42,1 s");
  BackupContents one;
  one.rows["T"] = 1;
  EXPECT_EQ(VerdictLine("x", one, std::chrono::duration<double>(0.04)),
            "Backup verificado: x, 1 tabela, 1 linha, restaurado em 0,0 s");
  EXPECT_EQ(FormatCount(0), "0");
  EXPECT_EQ(FormatCount(999), "999");
  EXPECT_EQ(FormatCount(1000), "1.000");
  EXPECT_EQ(Enclosed("D'Ávila", '\''), "'D''Ávila'");
  EXPECT_EQ(Enclosed("tabela \"x\"", '"'), "\"tabela \"\"x\"\"\"");

  EXPECT_THAT(ProblemLines({"gbak:restoring table A", "ERROR: Backup incomplete",
                            "gbak: WARNING:index X cannot be used",
                            "pg_restore: error: could not execute query", "gbak:TERROR:x",
                            "gbak:    restoring index ERRORS_IX"}),
              ElementsAre("ERROR: Backup incomplete", "gbak: WARNING:index X cannot be used",
                          "pg_restore: error: could not execute query"));
}

TEST(DumpReadingTest, CountsCopyRowsAndReadsTheListedTableOfContents) {
  EXPECT_EQ(CountCopyRows(""), 0u);
  EXPECT_EQ(CountCopyRows("\\.\n\n\n"), 0u);
  // An escaped line end inside a value stays on its row.
  EXPECT_EQ(CountCopyRows("1\tJoão\n2\tD'Ávila\\nsegunda linha\n\\.\n\n"), 2u);
  EXPECT_EQ(CountCopyRows("1\ta\n2\tb"), 2u) << "a member cut before its end marker";

  const std::string listing =
      ";\n; Archive created at 2026-12-09\n;\n"
      "215; 1259 16386 TABLE public clientes postgres\n"
      "3340; 0 16386 TABLE DATA public clientes postgres\n"
      "3195; 2606 16391 CONSTRAINT public clientes clientes_pkey postgres\n"
      "3197; 2606 16400 FK CONSTRAINT public pedidos pedidos_cli_fkey postgres\n"
      "216; 1255 16405 FUNCTION public f_total(integer) postgres\n"
      "3350; 0 0 SEQUENCE SET public s_cli postgres\n"
      "218; 1259 16425 VIEW public v_ped postgres\n";
  const auto entries = ReadTocListing(listing);
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[1].id, 3340);
  EXPECT_EQ(entries[1].desc, "TABLE DATA");
  EXPECT_EQ(entries[1].tag, "clientes");
  EXPECT_EQ(entries[2].tag, "clientes clientes_pkey");
  EXPECT_EQ(entries[3].desc, "FK CONSTRAINT");
  EXPECT_EQ(entries[4].tag, "f_total(integer)");
  EXPECT_EQ(entries[5].desc, "SEQUENCE SET");
  EXPECT_EQ(entries[6].schema, "public");
}

}  // namespace
