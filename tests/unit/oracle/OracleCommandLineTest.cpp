// The export and import command lines, their services and bases, and RestoreConn's target, as
// exact texts.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TolvanOracleUtil.h"

namespace {

using namespace tolvan::oracle;

std::string Export(const std::string& connect, bool strip, const std::string& file) {
  return ExportCommandLine("scott", "tiger", BackupService(connect, strip), BackupBase(file));
}

std::string Import(const std::string& connect, const std::string& file) {
  return ImportCommandLine("scott", "tiger", RestoreService(connect), RestoreBase(file));
}

TEST(OracleCommandLine, ExportAndImportToTheCharacter) {
  const std::string exp(ExportTool());
  const std::string imp(ImportTool());
  EXPECT_EQ(Export("ORCL", false, "C:\\bkp\\loja.dmp"),
            exp + " scott/tiger@ORCL OWNER=scott FILE=C:\\bkp\\loja.DMP LOG=C:\\bkp\\loja.LOG   ");
  EXPECT_EQ(Import("ORCL", "C:\\bkp\\loja.dmp"),
            imp +
                " scott/tiger@ORCL FULL=YES IGNORE=YES FILE=C:\\bkp\\loja.DMP "
                "LOG=C:\\bkp\\loja.LOG   ");
  // Any extension, in any case, becomes .DMP and .LOG in capitals.
  EXPECT_EQ(Export("ORCL", false, "/bk/loja.Dump"),
            exp + " scott/tiger@ORCL OWNER=scott FILE=/bk/loja.DMP LOG=/bk/loja.LOG   ");
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

TEST(OracleCommandLine, FileNamesTheToolsWouldMisreadAreRefused) {
  struct Case {
    std::string file;
    bool backup;
    std::string why;  // empty: accepted
  } cases[] = {
      {"D:\\Backups\\loja.v2\\loja.dmp", true, "o nome de uma das pastas tem \".\""},
      {"./loja.dmp", true, "o nome de uma das pastas tem \".\""},
      {"C:\\bkp\\.dmp", true, "falta o nome do arquivo"},
      {"C:\\bkp\\", true, "falta o nome do arquivo"},
      {"C:\\bkp\\.dmp", false, "falta o nome do arquivo"},
      {"/bk/q\"uote.dmp", true, "aspas duplas"},
      {"/bk/q\"uote.dmp", false, "aspas duplas"},
      {"C:\\bkp\\loja.dmp", true, ""},
      {"C:\\bkp\\loja", true, ""},
      {"loja.dmp", true, ""},
      // The import cuts at the extension of the file-name part: a dot in a folder is harmless.
      {"D:\\Backups\\loja.v2\\loja.dmp", false, ""},
      {"./loja.dmp", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + (c.backup ? " (backup)" : " (restore)"));
    const std::string base = c.backup ? BackupBase(c.file) : RestoreBase(c.file);
    try {
      ConferirArquivo("Backup:\r\n", c.file, base);
      EXPECT_EQ(c.why, "");
    } catch (const std::runtime_error& e) {
      EXPECT_NE(c.why, "");
      EXPECT_EQ(std::string(e.what()).rfind(
                    "Backup:\r\nO arquivo \"" + c.file + "\" não pode ser usado: ", 0),
                0u);
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
  }
}

TEST(OracleCommandLine, ExportServiceDropsOnlyAHostPrefix) {
  EXPECT_EQ(BackupService("srv:ORCL", true), "ORCL");
  EXPECT_EQ(BackupService("ORCL", true), "ORCL");
  EXPECT_EQ(BackupService("C:ORCL", true), "C:ORCL");
  EXPECT_EQ(BackupService("srv:", true), "srv");
  EXPECT_EQ(BackupService("srv:a:b", true), "a:b");
  EXPECT_EQ(BackupService("srv:ORCL", false), "srv:ORCL");
  EXPECT_EQ(BackupService("", true), "");
}

TEST(OracleCommandLine, ImportServiceIsTheTextBeforeTheFirstColon) {
  EXPECT_EQ(RestoreService("srv:ORCL"), "srv");
  EXPECT_EQ(RestoreService("ORCL"), "ORCL");
  EXPECT_EQ(RestoreService("C:\\bkp\\x"), "C");
}

TEST(OracleCommandLine, ExportCutsAtTheFirstDotImportAtTheExtension) {
  EXPECT_EQ(BackupBase("C:\\dados.old\\loja.dmp"), "C:\\dados");
  EXPECT_EQ(RestoreBase("C:\\dados.old\\loja.dmp"), "C:\\dados.old\\loja");
  EXPECT_EQ(RestoreBase("C:\\bkp\\loja.2024.dmp"), "C:\\bkp\\loja.2024");
  EXPECT_EQ(BackupBase("C:\\bkp\\loja"), "C:\\bkp\\loja");
  EXPECT_EQ(RestoreBase("C:\\bkp\\loja"), "C:\\bkp\\loja");
  EXPECT_EQ(RestoreBase("C:\\dados.old\\loja"), "C:\\dados.old\\loja");
  EXPECT_EQ(RestoreBase("/srv/dados.old/loja"), "/srv/dados.old/loja");
  // One dot: both derive the same base, so the import replaces the export's log.
  EXPECT_EQ(BackupBase("C:\\bkp\\loja.dmp"), RestoreBase("C:\\bkp\\loja.dmp"));
}

TEST(OracleCommandLine, RestoreConnTargetTakesTheConnectionsPrefix) {
  EXPECT_EQ(RestoreConnTarget("ORCL", "ORCL"), "ORCL:ORCL");
  EXPECT_EQ(RestoreConnTarget("ORCL", "srv:ORCL"), "srv:ORCL");
  EXPECT_EQ(RestoreConnTarget("C:\\bkp\\x", ""), "C:\\bkp\\x");
  EXPECT_EQ(RestoreConnTarget("C:\\bkp\\x", "X"), "C:\\bkp\\x");
  EXPECT_EQ(RestoreConnTarget("srv2:ORCL", "srv:ORCL"), "srv2:ORCL");
  EXPECT_EQ(RestoreService(RestoreConnTarget("ORCL", "ORCL")), "ORCL");
}

}  // namespace
