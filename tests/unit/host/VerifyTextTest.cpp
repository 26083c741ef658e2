// What a verified backup reads from text: gbak's verbose backup lines, a dump's table of contents
// and data members, and how a difference and the verdict read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Report.h"
#include "Verify.h"
#include "VerifyPostgres.h"
#include "ci/TestNames.h"

namespace {

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

TEST(ReadGbakRestoredRowsTest, TakesTheLastCountOfEachTableGbakStored) {
  const std::vector<std::string> lines = {
      "gbak:restoring table PEDIDOS",
      "gbak:restoring table VAZIA",
      "gbak:restoring data for table PEDIDOS",
      "gbak:   20000 records restored",
      "gbak:   40123 records restored",
      "gbak:restoring data for table CLIENTES",
      "gbak:   2 records restored",
      "gbak:    restoring index IX_VALOR",
      "gbak:finishing, closing, and going home",
  };
  EXPECT_THAT(ReadGbakRestoredRows(lines),
              ElementsAre(std::pair<const std::string, std::uint64_t>{"CLIENTES", 2},
                          std::pair<const std::string, std::uint64_t>{"PEDIDOS", 40123}));
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

TEST(DumpReadingTest, CountsCopyRowsInPiecesOfAnySize) {
  struct Case {
    std::string data;
    std::uint64_t rows;
  };
  const Case cases[] = {
      {"", 0},
      {"\\.\n\n\n", 0},
      // An escaped line end inside a value stays on its row; an empty line is a row.
      {"1\tJoão\n2\tD'Ávila\\nsegunda linha\n\n\\.\n\n", 3},
      {"1\ta\n2\tb", 2},  // a member cut before its end marker
      {"\\.x\n\\\n\\.", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    EXPECT_EQ(CountCopyRows(c.data), c.rows);
    // Cut in two at every byte, as a member read a piece at a time may be.
    for (std::size_t cut = 0; cut <= c.data.size(); ++cut) {
      CopyRowCounter counter;
      counter.Feed(std::string_view(c.data).substr(0, cut));
      counter.Feed(std::string_view(c.data).substr(cut));
      EXPECT_EQ(counter.Rows(), c.rows) << "cut at " << cut;
    }
  }
}

TEST(DumpReadingTest, ReadsTheListedTableOfContentsByItsEntryTypes) {
  const std::string listing =
      ";\n; Archive created at 2026-12-09\n;\n"
      "5; 2615 16384 SCHEMA - vendas do dia postgres\n"
      "215; 1259 16386 TABLE public clientes postgres\n"
      "3340; 0 16386 TABLE DATA public clientes postgres\n"
      "3195; 2606 16391 CONSTRAINT public clientes clientes_pkey postgres\n"
      "3197; 2606 16400 FK CONSTRAINT public pedidos pedidos_cli_fkey postgres\n"
      "216; 1255 16405 FUNCTION public f_total(integer) postgres\n"
      "3350; 0 0 SEQUENCE SET public s_cli postgres\n"
      "218; 1259 16425 VIEW public v_ped postgres\n"
      "3400; 0 0 TABLE ATTACH public payment_p2022_01 postgres\n"
      "3401; 0 0 INDEX ATTACH public payment_p2022_01_customer_idx postgres\n"
      "230; 1259 16500 TABLE vendas do dia itens de venda postgres\n";
  std::vector<std::string> read;
  for (const TocEntry& e : ReadTocListing(listing)) {
    read.push_back(std::to_string(e.id) + "|" + e.desc + "|" + e.schema + "|" + e.tag);
  }
  EXPECT_THAT(read,
              ElementsAre("215|TABLE|public|clientes", "3340|TABLE DATA|public|clientes",
                          "3195|CONSTRAINT|public|clientes clientes_pkey",
                          "3197|FK CONSTRAINT|public|pedidos pedidos_cli_fkey",
                          "216|FUNCTION|public|f_total(integer)", "3350|SEQUENCE SET|public|s_cli",
                          "218|VIEW|public|v_ped", "3400|TABLE ATTACH|public|payment_p2022_01",
                          "3401|INDEX ATTACH|public|payment_p2022_01_customer_idx",
                          "230|TABLE|vendas do dia|itens de venda"));
}

TEST(ScratchNameTest, IsAsciiOfOneShapeThatReadsBackForEveryMachine) {
  for (const std::string machine :
       {"caixa-01", "CAIXA01", "servidor-da-loja-de-são-joão.local", "", "Ω"}) {
    SCOPED_TRACE(machine);
    const std::string tag = AsciiTag(machine);
    const std::string name = ScratchDatabaseName(tag, 4294967295u, 0xffffffffu);
    EXPECT_LE(name.size(), 63u);
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string::npos);
    const auto parts = ReadScratchDatabaseName(name);
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->machine_tag, tag);
    EXPECT_EQ(parts->pid, 4294967295u);
  }
  // Machines whose names differ only in what a tag leaves out have tags of their own.
  EXPECT_NE(AsciiTag("caixa-01"), AsciiTag("caixa01"));
  for (const std::string other :
       {"loja_verificar_12_0abc", "tolvan_verificar_caixa_12", "tolvan_verificar_caixa_12_0abcdef",
        "tolvan_verificar_Caixa_12_0abcdef0", "tolvan_verificar_caixa_12_0abcdef0_x"}) {
    EXPECT_EQ(ReadScratchDatabaseName(other), std::nullopt) << other;
  }
}

TEST(ToolDatabaseArgumentTest, ANameThatReadsAsAConnectionStringOrAnOptionNamesOnlyItself) {
  const std::pair<std::string, std::string> cases[] = {
      {"tolvan_verificar_caixa01ab12_77_0000abcd", "-d tolvan_verificar_caixa01ab12_77_0000abcd"},
      {"loja nova", "-d \"loja nova\""},
      {"dbname=vv application_name=", "\"--dbname=dbname='dbname=vv application_name='\""},
      {"PostgreSQL://x", "--dbname=dbname='PostgreSQL://x'"},
      {"-loja", "--dbname=dbname='-loja'"},
      {"a=b'c\\d", "--dbname=dbname='a=b\\'c\\\\d'"},
  };
  for (const auto& [name, argument] : cases) {
    EXPECT_EQ(ToolDatabaseArgument(name), argument) << name;
  }
}

}  // namespace
