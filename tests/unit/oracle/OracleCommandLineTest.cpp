// The export and import command lines, their services and bases, and RestoreConn's target, as
// exact texts.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TolvanOracleUtil.h"

namespace {

using namespace tolvan::oracle;

std::string Export(const std::string& connect, bool strip, const std::string& file) {
  return ExportCommandLine("scott", "tiger", ConnectService(connect, strip), DumpBase(file));
}

std::string Import(const std::string& connect, const std::string& file) {
  return ImportCommandLine("scott", "tiger", ConnectService(connect, true), DumpBase(file));
}

// Only the extension of the file-name part goes, in any case, and .DMP and .LOG in capitals take
// its place: the export writes what the import reads.
TEST(OracleCommandLine, ExportAndImportToTheCharacterOnTheSameFiles) {
  const std::string exp(ExportTool());
  const std::string imp(ImportTool());
  const struct {
    const char* file;
    const char* base;
  } cases[] = {
      {"C:\\bkp\\loja.dmp", "C:\\bkp\\loja"},
      {"/bk/loja.Dump", "/bk/loja"},
      {"C:\\bkp\\loja.2024.dmp", "C:\\bkp\\loja.2024"},
      {"loja.2024.dmp", "loja.2024"},
      {"C:\\Users\\joao.silva\\loja.dmp", "C:\\Users\\joao.silva\\loja"},
      {"\\\\192.168.0.10\\bkp\\loja.dmp", "\\\\192.168.0.10\\bkp\\loja"},
      // A "." in a folder is part of the folder's name; a name without an extension keeps it all.
      {"C:\\dados.old\\loja.dmp", "C:\\dados.old\\loja"},
      {"C:\\dados.old\\loja", "C:\\dados.old\\loja"},
      {"/srv/dados.old/loja", "/srv/dados.old/loja"},
      {".\\loja.dmp", ".\\loja"},
      {"C:\\bkp\\loja", "C:\\bkp\\loja"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(DumpBase(c.file), c.base);
    const std::string files = std::string("FILE=") + c.base + ".DMP LOG=" + c.base + ".LOG   ";
    EXPECT_EQ(Export("ORCL", false, c.file), exp + " scott/tiger@ORCL OWNER=scott " + files);
    EXPECT_EQ(Import("ORCL", c.file), imp + " scott/tiger@ORCL FULL=YES IGNORE=YES " + files);
  }
  // The dump may go to a name of its own while the log keeps the final one.
  EXPECT_EQ(ExportCommandLine("scott", "tiger", "ORCL", "/bk/loja.DMP.~1.tmp", "/bk/loja.LOG"),
            exp + " scott/tiger@ORCL OWNER=scott FILE=/bk/loja.DMP.~1.tmp LOG=/bk/loja.LOG   ");
}

TEST(OracleCommandLine, PiecesWithBlanksOrQuotesStayOneArgument) {
  const std::string exp(ExportTool());
  EXPECT_EQ(ExportCommandLine("u", "p w", "S", "C:\\Meus Backups\\x"),
            exp +
                " \"u/p w@S\" OWNER=u \"FILE=C:\\Meus Backups\\x.DMP\" "
                "\"LOG=C:\\Meus Backups\\x.LOG\"   ");
  EXPECT_EQ(ImportCommandLine("u", "a\"b", "S", "/b/x"),
            std::string(ImportTool()) +
                " \"u/a\\\"b@S\" FULL=YES IGNORE=YES FILE=/b/x.DMP LOG=/b/x.LOG   ");
}

TEST(OracleCommandLine, OnlyNamesWithoutAFileNameOrWithADoubleQuoteAreRefused) {
  struct Case {
    std::string file;
    std::string why;  // empty: accepted
  } cases[] = {
      {"C:\\bkp\\.dmp", "falta o nome do arquivo antes da extensão"},
      {"C:\\bkp\\", "falta o nome do arquivo depois da pasta"},
      {"/bk/", "falta o nome do arquivo depois da pasta"},
      {"", "o nome está vazio"},
      {"/bk/q\"uote.dmp", "aspas duplas"},
      {"C:\\bkp\\loja.dmp", ""},
      {"C:\\bkp\\loja", ""},
      {"loja.dmp", ""},
      // A "." in a folder is part of the folder's name.
      {"C:\\Users\\joao.silva\\Backups\\loja.dmp", ""},
      {"\\\\192.168.0.10\\bkp\\loja.dmp", ""},
      {".\\loja.dmp", ""},
      {"./loja.dmp", ""},
      {"..\\bkp\\loja", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    for (const char* heading : {"Backup:\r\n", "Restore:\r\n"}) {
      try {
        RefuseUnusableFileName(heading, c.file);
        EXPECT_EQ(c.why, "");
      } catch (const std::runtime_error& e) {
        EXPECT_NE(c.why, "") << e.what();
        EXPECT_EQ(
            std::string(e.what()).rfind(
                heading + std::string("O arquivo \"") + c.file + "\" não pode ser usado: ", 0),
            0u);
        EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
      }
    }
  }
}

TEST(OracleCommandLine, ExportServiceDropsOnlyAHostPrefix) {
  EXPECT_EQ(ConnectService("srv:ORCL", true), "ORCL");
  EXPECT_EQ(ConnectService("ORCL", true), "ORCL");
  EXPECT_EQ(ConnectService("C:ORCL", true), "C:ORCL");
  EXPECT_EQ(ConnectService("srv:", true), "srv");
  EXPECT_EQ(ConnectService("srv:a:b", true), "a:b");
  EXPECT_EQ(ConnectService("srv:ORCL", false), "srv:ORCL");
  EXPECT_EQ(ConnectService("", true), "");
}

TEST(OracleCommandLine, RestoreConnTargetTakesTheConnectionsPrefix) {
  EXPECT_EQ(RestoreConnTarget("ORCL", "ORCL"), "ORCL:ORCL");
  EXPECT_EQ(RestoreConnTarget("ORCL", "srv:ORCL"), "srv:ORCL");
  EXPECT_EQ(RestoreConnTarget("C:\\bkp\\x", ""), "C:\\bkp\\x");
  EXPECT_EQ(RestoreConnTarget("C:\\bkp\\x", "X"), "C:\\bkp\\x");
  EXPECT_EQ(RestoreConnTarget("srv2:ORCL", "srv:ORCL"), "srv2:ORCL");
  EXPECT_EQ(ConnectService(RestoreConnTarget("ORCL", "ORCL"), true), "ORCL");
}

}  // namespace
