// The gbak command lines, the service split, RestoreConn's target and the message file's path, as
// exact texts.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "TolvanFirebirdUtil.h"
#include "platform/Paths.h"

namespace {

using namespace tolvan::firebird;

std::string Backup(const std::string& database, bool service, bool quiet = false,
                   bool metadata = false) {
  const auto split = SplitServiceHost(database, service);
  return GbakBackupArguments(split.text, "U", "F", split.server, quiet, metadata);
}

std::string Restore(const std::string& target, bool service, bool quiet = false,
                    bool inactive = false) {
  const auto split = SplitServiceHost(target, service);
  return GbakRestoreArguments(split.text, "U", "F", split.server, quiet, inactive);
}

TEST(GbakCommandLine, BackupWithEveryOptionOn) {
  EXPECT_EQ(Backup("srv:C:\\dados\\loja.fdb", true, false, true),
            " -V \"C:\\dados\\loja.fdb\" \"F\" -user U -m  -SE srv:\"Backup Database\" ");
  EXPECT_EQ(Backup("srv:D", true, true, false),
            " \"D\" \"F\" -user U -SE srv:\"Backup Database\" ");
}

TEST(GbakCommandLine, NoPieceCanTakeAnothersPlace) {
  // Unquoted names go as the security database keeps them: a to z in upper case, the rest as is.
  EXPECT_EQ(GbakBackupArguments("D", "João Silva", "F", "", true, false),
            " \"D\" \"F\" -user \"JOãO SILVA\"");
  EXPECT_EQ(GbakBackupArguments("D", "D'Ávila", "F", "", true, true),
            " \"D\" \"F\" -user D'ÁVILA -m ")
      << "a name without a blank goes in unquoted";
  EXPECT_EQ(GbakRestoreArguments("D", "\"joão\"", "F", "", true, false),
            " -c -z \"F\" \"D\" -user \"\\\"joão\\\"\" -PAGE_SIZE 8192")
      << "a name between double quotes is exact";
  EXPECT_EQ(GbakBackupArguments("D", "", "F", "", true, true), " \"D\" \"F\" -m ")
      << "an empty user gives no -user piece, so -m is never read as the user";
  EXPECT_EQ(GbakRestoreArguments("D", "", "F", "", true, false),
            " -c -z \"F\" \"D\" -PAGE_SIZE 8192");
  // A folder's trailing backslash would escape the closing quote.
  EXPECT_EQ(GbakBackupArguments("C:\\dados\\x.fdb", "U", "C:\\Meus Backups\\", "", true, false),
            " \"C:\\dados\\x.fdb\" \"C:\\Meus Backups\\\\\" -user U");
}

TEST(GbakCommandLine, ServiceSplitOfTheDatabaseKey) {
  EXPECT_EQ(Backup("C:\\dados\\loja.fdb", true), " -V \"C:\\dados\\loja.fdb\" \"F\" -user U");
  EXPECT_EQ(Backup("loja", true), " -V \"loja\" \"F\" -user U");
  EXPECT_EQ(Backup("srv:", true), " -V \"srv\" \"F\" -user U");
  EXPECT_EQ(Backup("srv/3050:C:\\x.fdb", true),
            " -V \"C:\\x.fdb\" \"F\" -user U -SE srv/3050:\"Backup Database\" ");
  EXPECT_EQ(Backup("srv:C:\\x.fdb", false), " -V \"srv:C:\\x.fdb\" \"F\" -user U");
  EXPECT_EQ(Backup("/data/x.fdb", true), " -V \"/data/x.fdb\" \"F\" -user U");
}

TEST(GbakCommandLine, RestoreReadsTheFileFirstAndEndsWithThePageSize) {
  EXPECT_EQ(Restore("srv:D", true, false, true),
            " -c -z -V -I \"F\" \"D\" -user U -SE srv:\"Restore Database\"  -PAGE_SIZE 8192");
  EXPECT_EQ(Restore("D", false, true, true), " -c -z -I \"F\" \"D\" -user U -PAGE_SIZE 8192");
  EXPECT_EQ(Restore("srv:D", false, true, false), " -c -z \"F\" \"srv:D\" -user U -PAGE_SIZE 8192");
}

TEST(GbakCommandLine, RestoreConnTargetTakesTheConnectionsHost) {
  const std::string key = "srv:C:\\dados\\loja.fdb";
  EXPECT_EQ(RestoreConnTarget("C:\\novo\\loja.fdb", key), "srv:C:\\novo\\loja.fdb");
  EXPECT_EQ(Restore(RestoreConnTarget("C:\\novo\\loja.fdb", key), true),
            " -c -z -V \"F\" \"C:\\novo\\loja.fdb\" -user U -SE srv:\"Restore Database\"  "
            "-PAGE_SIZE 8192");
  EXPECT_EQ(RestoreConnTarget("novo.fdb", key), "srv:novo.fdb");
  EXPECT_EQ(RestoreConnTarget("srv2:C:\\x.fdb", key), "srv2:C:\\x.fdb");
  EXPECT_EQ(RestoreConnTarget("C:\\novo.fdb", "C:\\dados\\loja.fdb"), "C:\\novo.fdb");
  EXPECT_EQ(RestoreConnTarget("novo.fdb", "loja"), "loja:novo.fdb");
  EXPECT_EQ(RestoreConnTarget("/tmp/y.fdb", "localhost/3050:/data/x.fdb"),
            "localhost/3050:/tmp/y.fdb");
  // A path of this machine names no server, though it holds no ":".
  EXPECT_EQ(RestoreConnTarget("/tmp/y.fdb", "/data/x.fdb"), "/tmp/y.fdb");
}

TEST(GbakCommandLine, MessageFileFromTheRegistryOrBesideTheApplicationFolder) {
  const std::string d(1, tolvan::platform::kPathDelimiter);
  const std::string app = d + "App" + d + "Bin" + d;
  EXPECT_EQ(FirebirdMsgPath(app, std::nullopt), d + "App" + d + "firebird.msg");
  EXPECT_EQ(FirebirdMsgPath(app, std::string()), d + "App" + d + "firebird.msg");
  EXPECT_EQ(FirebirdMsgPath("C:\\App\\Bin\\", std::string("D:\\Firebird\\")),
            "D:\\Firebird\\firebird.msg");
  EXPECT_EQ(FirebirdMsgPath("C:\\App\\Bin\\", std::string("D:\\Firebird")),
            "D:\\Firebirdfirebird.msg")
      << "no delimiter is added to the registry's folder";
}

// Only a server that says it has no such file makes a restore's target one that the run may drop.
TEST(RestoreTargetStatus, OnlyANoSuchFileOfTheOpenCounts) {
  const auto text = [](const char* s) { return reinterpret_cast<IscStatus>(s); };
  const IscStatus kGds = 1, kString = 2, kCstring = 3, kInterpreted = 5, kUnix = 7, kWin32 = 17;
  const IscStatus kIoError = 335544344, kOpen = 335544734;
  const auto check = [](std::vector<IscStatus> status) {
    status.resize(tolvan::firebird::kStatusVectorLength, 0);
    return StatusSaysNoSuchFile(status.data());
  };
  // Embedded, over the network from a POSIX server, from a Windows server in English and in
  // Portuguese (in its 8-bit code page).
  EXPECT_TRUE(check(
      {kGds, kIoError, kString, text("open"), kString, text("/x.fdb"), kGds, kOpen, kUnix, 2}));
  EXPECT_TRUE(check({kGds, kIoError, kString, text("open"), kString, text("/x.fdb"), kGds, kOpen,
                     kInterpreted, text("No such file or directory")}));
  EXPECT_TRUE(check({kGds, kIoError, kCstring, 4, text("open"), kString, text("C:\\x.fdb"), kGds,
                     kOpen, kWin32, 3}));
  EXPECT_TRUE(
      check({kGds, kIoError, kString, text("open"), kString, text("C:\\x.fdb"), kGds, kOpen,
             kInterpreted, text("O sistema n\xe3o pode encontrar o arquivo especificado.")}));

  // A file that is there but cannot be opened, another operation, another error.
  EXPECT_FALSE(check(
      {kGds, kIoError, kString, text("open"), kString, text("/x.fdb"), kGds, kOpen, kUnix, 13}));
  EXPECT_FALSE(check({kGds, kIoError, kString, text("open"), kString, text("/x.fdb"), kGds, kOpen,
                      kInterpreted, text("Permission denied")}));
  EXPECT_FALSE(check({kGds, kIoError, kString, text("lseek"), kString, text("/x.fdb"), kUnix, 2}));
  EXPECT_FALSE(check({kGds, 335544472}));
  EXPECT_FALSE(check({kGds, 335544721, kString, text("No such file or directory")}))
      << "a string argument is not the system's error";
  // A string whose address happens to read as a code is skipped as a string.
  EXPECT_FALSE(check({kGds, kIoError, kString, kOpen, kString, 2, kUnix, 2}));
}

}  // namespace
