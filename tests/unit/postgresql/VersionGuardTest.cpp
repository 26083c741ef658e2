// Versao's formatting, the version texts, and the tool guard against fake tools.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "platform/DynamicLibrary.h"
#include "platform/Interrupt.h"
#include "tolvan/Exports.h"

namespace tolvan::postgresql::test {
namespace {

using testing::Answer;
using testing::Operation;

TEST(PostgresVersionText, ServerAndToolMajorVersions) {
  EXPECT_EQ(ServerMajorVersion("PostgreSQL 17.2 on x86_64-pc-linux-gnu"), "17");
  EXPECT_EQ(ServerMajorVersion(kLinuxVersion), "15");
  EXPECT_EQ(ServerMajorVersion("PostgreSQL 9.6.24 on x86_64"), "9");
  // No "on": the whole text; no ".": all of it.
  EXPECT_EQ(ServerMajorVersion("PostgreSQL 16"), "16");
  EXPECT_EQ(ToolVersion("pg_dump (PostgreSQL) 14.5\r\n", "pg_dump"), "14.5");
  EXPECT_EQ(ToolVersion("pg_restore (PostgreSQL) 15.20 (Debian 15.20-0+deb12u1)\n", "pg_restore"),
            "15.20 (Debian 15.20-0+deb12u1)");
  EXPECT_EQ(MajorOf("15.20 (Debian 15.20-0+deb12u1)"), "15");
  EXPECT_EQ(MajorOf(""), "");
  const std::string delimiter(1, platform::kPathDelimiter);
  EXPECT_EQ(VersionFolder("/app/PostgreSQL" + delimiter, "17"), "/app/PostgreSQL17" + delimiter);
  EXPECT_EQ(VersionFolder("/app/PostgreSQL" + delimiter, "9"), "/app/PostgreSQL14" + delimiter);
}

class VersionGuardTest : public PluginHost {
 protected:
  void ServerSays(const std::string& version) {
    driver_->OnQuery("select version()", Answer::Column("version", {version}));
  }
  void InstallFolder(const std::string& folder, const std::string& version) {
    MakeFolder(app_.Path() + folder);
    app_.Install(folder + "/pg_dump", ToolScript("pg_dump", version));
    app_.Install(folder + "/pg_restore", ToolScript("pg_restore", version));
  }
  std::string Guard() {
    try {
      VerificarVersaoFerramentas(&connection_, tools_, {"pg_dump", "pg_restore"});
      return "";
    } catch (const std::runtime_error& e) {
      return e.what();
    }
  }
};

TEST_F(VersionGuardTest, EqualMajorVersionsRunEachToolTwiceWithoutCopying) {
  ServerSays("PostgreSQL 17.2 on x86_64-pc-linux-gnu");
  InstallTools("17.0");
  InstallFolder("PostgreSQL17", "16.1");  // would break the check if it were copied

  EXPECT_EQ(Guard(), "");
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_dump").size(), 2u);
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_restore").size(), 2u);
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_dump")[0].args, std::vector<std::string>{"--version"});
  EXPECT_EQ(driver_->Count(Operation::Query), 2);
}

TEST_F(VersionGuardTest, Server17TakesTheFolderFor17) {
  ServerSays("PostgreSQL 17.2 on x86_64-pc-linux-gnu");
  InstallTools("14.5");
  InstallFolder("PostgreSQL17", "17.2");
  InstallFolder("PostgreSQL14", "14.9");
  EXPECT_EQ(Guard(), "");
  // The copy stays: a second guard finds the right tools in place.
  EXPECT_EQ(Guard(), "");
}

TEST_F(VersionGuardTest, OtherServersTakeTheFolderFor14AndAMismatchLeftNamesTheWholeToolVersion) {
  ServerSays("PostgreSQL 16.4 on x86_64-pc-linux-gnu");
  InstallTools("15.1");
  InstallFolder("PostgreSQL14", "14.5 (Debian 14.5-1)");
  InstallFolder("PostgreSQL17", "16.0");

  EXPECT_EQ(Guard(),
            "O aplicativo pg_dump está na versão 14.5 (Debian 14.5-1) enquanto o PostgreSQL está "
            "na versão 16.\r\n\r\nFavor copiar o aplicativo na versão correta para executar esse "
            "processo.");
  // Later tools are not compared.
  EXPECT_EQ(driver_->Count(Operation::Query), 1);
}

// A tool that is missing or gives no version is named with what to put there, never compared as
// an empty version; a version folder that brings it still mends it.
TEST_F(VersionGuardTest, AMissingOrSilentToolIsNamedWithItsPackage) {
  using ::testing::AllOf;
  using ::testing::HasSubstr;
  using ::testing::Not;
  const std::string dump = tools_ + "pg_dump" + platform::kExecutableSuffix;
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::vector<std::string> said;  // empty: the guard passes
  };
  const std::vector<Case> cases = {
      {"missing, no version folder", [] {}, {"\"" + tools_ + "\"", "postgresql-client-15"}},
      {"missing, and missing from the version folder too",
       [this] { MakeFolder(app_.Path() + "PostgreSQL14"); },
       {"\"" + tools_ + "\"", "postgresql-client-15"}},
      {"not the tool",
       [this] {
         app_.Install("PostgreSQL/pg_dump",
                      "err pg_dump: error while loading shared libraries: libpq.so.5\nexit 127\n");
       },
       {"\"" + dump + "\"", "libpq.so.5", "postgresql-client-15"}},
      {"missing, brought by the version folder",
       [this] { InstallFolder("PostgreSQL14", "15.20"); },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Utf8Path(tools_));
    fs::remove_all(Utf8Path(app_.Path() + "PostgreSQL14"));
    MakeFolder(tools_);
    ServerSays("PostgreSQL 15.20 on x86_64-pc-linux-gnu");
    c.arrange();
    const std::string message = Guard();
    if (c.said.empty()) {
      EXPECT_EQ(message, "");
      continue;
    }
    EXPECT_THAT(message, Not(HasSubstr("está na versão")));
    for (const std::string& part : c.said) {
      EXPECT_THAT(message, HasSubstr(part));
    }
  }
}

TEST_F(VersionGuardTest, AMissingVersionFolderSaysWhatToCopyWhere) {
  ServerSays("PostgreSQL 17.2 on x86_64-pc-linux-gnu");
  InstallTools("15.20 (Debian 15.20-0+deb12u1)");
  const std::string folder = app_.Path() + "PostgreSQL17" + platform::kPathDelimiter;
  const std::string exe = platform::kExecutableSuffix;
  EXPECT_EQ(Guard(), "O aplicativo pg_dump da pasta \"" + tools_ +
                         "\" está na versão 15.20 (Debian 15.20-0+deb12u1) enquanto o PostgreSQL "
                         "está na versão 17, e não existe a pasta \"" +
                         folder +
                         "\" de onde copiar a versão certa.\r\n\r\nCrie essa pasta e copie "
                         "para a pasta \"" +
                         folder + "\" o pg_dump" + exe + " e o pg_restore" + exe +
                         " da versão 17 do PostgreSQL, com as bibliotecas que os acompanham.");
}

// A fake tool that answers --version only after a while, and an interrupt recorded meanwhile:
// the runner ends the tool with nothing read, and the guard stops there.
TEST_F(VersionGuardTest, AnInterruptStopsTheGuardBeforeAnyCopy) {
  ServerSays("PostgreSQL 17.2 on x86_64-pc-linux-gnu");
  app_.Install("PostgreSQL/pg_dump", "sleep 10000\n" + ToolScript("pg_dump", "17.2"));
  app_.Install("PostgreSQL/pg_restore", ToolScript("pg_restore", "17.2"));
  InstallFolder("PostgreSQL17", "16.0");
  const std::string before = ReadText(app_.ToolPath("PostgreSQL/pg_dump") + ".script");

  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    platform::RequestInterrupt(2);
  });
  const std::string message = Guard();
  interrupter.join();
  platform::ClearInterrupt();

  EXPECT_EQ(message,
            "A verificação da versão do pg_dump foi interrompida; nada foi copiado para "
            "a pasta \"" +
                tools_ + "\".");
  EXPECT_EQ(ReadText(app_.ToolPath("PostgreSQL/pg_dump") + ".script"), before);
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_restore").size(), 0u);

  // Recorded before the guard: no tool runs and nothing is copied either.
  platform::RequestInterrupt(15);
  EXPECT_THAT(Guard(), ::testing::HasSubstr("interrompida; nada foi copiado"));
  platform::ClearInterrupt();
  EXPECT_EQ(ReadText(app_.ToolPath("PostgreSQL/pg_dump") + ".script"), before);
}

TEST_F(VersionGuardTest, TheCopyReplacesALinkInsteadOfWritingThroughIt) {
  ServerSays("PostgreSQL 17.2 on x86_64-pc-linux-gnu");
  InstallTools("15.1");
  // The tool folder links to a file elsewhere (the system's tool, say).
  MakeFolder(app_.Path() + "system");
  const std::string system_tool = app_.Path() + "system/pg_restore";
  WriteText(system_tool, "the system's own file");
  std::error_code error;
  fs::remove(Utf8Path(app_.ToolPath("PostgreSQL/pg_restore")));
  fs::create_symlink(Utf8Path(system_tool), Utf8Path(app_.ToolPath("PostgreSQL/pg_restore")),
                     error);
  if (error) {
    GTEST_SKIP() << "links cannot be made here: " << error.message();
  }
  InstallFolder("PostgreSQL17", "17.2");

  EXPECT_EQ(Guard(), "");
  EXPECT_FALSE(fs::is_symlink(Utf8Path(app_.ToolPath("PostgreSQL/pg_restore"))));
  EXPECT_EQ(ReadText(system_tool), "the system's own file");
}

TEST_F(VersionGuardTest, VersaoThroughTheLoadedPlugin) {
  auto plugin = platform::DynamicLibrary::Load(
      platform::RealExecutablePath().substr(
          0, platform::RealExecutablePath().find_last_of("/\\") + 1) +
      "TolvanPostgreSQL" TOLVAN_PLUGIN_SUFFIX);
  auto versao = plugin->Function<VersaoFn>("Versao");
  ASSERT_NE(versao, nullptr);
  driver_->SetServerVersion(150020000000);
  EXPECT_EQ(versao(&dm_), "15.0020.00.0000");
  for (const char* name : {"VerificarVersaoFerramentas", "PegarVersaoServidor",
                           "CriarConexaoPostgres", "ExecutarPgDump", "ExecutarPgRestore",
                           "CriarBackup", "CriarDataBaseVazia", "CriarDataBaseFD", "AddUser"}) {
    EXPECT_NE(plugin->Symbol(name), nullptr) << name;
  }
}

}  // namespace
}  // namespace tolvan::postgresql::test
