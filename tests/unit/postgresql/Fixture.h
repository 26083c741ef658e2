// A host for the plug-in's work in a test: an application folder of its own with the tool folder
// and temp/, fake tools, a scripted driver standing in for the PostgreSQL one, and the
// environment and executable path overridden for the test's life.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "fake_tool/FakeTool.h"
#include "fake_tool/TarSample.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "scripted_driver/ScriptedDriver.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/DefaultConnection.h"

namespace tolvan::postgresql::test {

namespace fs = std::filesystem;

inline constexpr const char* kLinuxVersion =
    "PostgreSQL 15.20 (Debian 15.20-0+deb12u1) on x86_64-pc-linux-gnu, compiled by gcc";

using testing::Utf8Path;

// Paths here are UTF-8 text, as the plug-in takes them; the application folder may hold accents.
inline std::string ReadText(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(Utf8Path(path), std::ios::binary) << text;
}

inline void MakeFolder(const std::string& path) {
  fs::create_directories(Utf8Path(path));
}

// A program path as a command line names it: between double quotes when it holds a blank
// ("C:\Program Files\..."), as it is otherwise.
inline std::string ProgramOnTheLine(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

// A fake tool's script that records PGPASSWORD, keeps a copy of the runner's command file
// beside itself and answers --version like the real tools.
inline std::string ToolScript(const std::string& tool, const std::string& version,
                              const std::string& more = "") {
  return "record-env PGPASSWORD\nkeep-command-file " + tool + ".cmd\nout " + tool +
         " (PostgreSQL) " + version + "\n" + more;
}

class PluginHost : public ::testing::Test {
 protected:
  PluginHost()
      : exe_(app_.Path() + "host" + platform::kExecutableSuffix),
        tools_(app_.Path() + "PostgreSQL" + platform::kPathDelimiter) {
    MakeFolder(app_.Path() + "PostgreSQL");
    MakeFolder(app_.Path() + "temp");
    MakeFolder(app_.Path() + "tmp");
    WriteText(sample_dump_, testing::SampleDump());
    platform::SetEnv("TMPDIR", app_.Path() + "tmp");
    platform::SetEnv("TEMP", app_.Path() + "tmp");
    platform::SetEnv("TMP", app_.Path() + "tmp");
    driver_->OnQuery("select version()", testing::Answer::Column("version", {kLinuxVersion}));
    connection_.DriverName = driver_.name();
    connection_.Params = {"Database=loja", "USER_NAME=postgres", "PASSWORD=s3cr'et"};
    driver_->SetDatabaseKey("db1/5433:vendas");
    dm_.SQLConnection = &connection_;
    vesk::SetDefaultConnection(&connection_);
  }
  ~PluginHost() override { vesk::SetDefaultConnection(nullptr); }

  // A fake pg_dump's script: it writes a whole dump (SampleDump) to its -f file, as the real
  // one does, then goes on with `more`.
  std::string DumpScript(const std::string& version, const std::string& more = "") const {
    return ToolScript("pg_dump", version, "copy-to-option -f " + sample_dump_ + "\n" + more);
  }

  // Installs pg_dump and pg_restore of the given version in the tool folder.
  void InstallTools(const std::string& version, const std::string& dump_more = "",
                    const std::string& restore_more = "") {
    app_.Install("PostgreSQL/pg_dump", DumpScript(version, dump_more));
    app_.Install("PostgreSQL/pg_restore", ToolScript("pg_restore", version, restore_more));
  }

  // A tool of the folder as a command line names it: in double quotes when its path has a blank.
  std::string Tool(const std::string& name) const {
    const std::string path = tools_ + name + platform::kExecutableSuffix;
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
  }

  // The copy the fake tool kept of the command file its runner wrote for it (the runner's own
  // is gone with the run).
  std::string CommandFile(const std::string& name) const { return tools_ + name; }

  platform::ScopedEnvironmentOverride env_;
  testing::FakeToolFolder app_;
  const std::string sample_dump_ = app_.Path() + "sample.tar";
  platform::ScopedExecutablePathOverride exe_;
  std::string tools_;
  testing::ScopedScriptedDriver driver_{"PostgreSQL"};
  TVeskSQLConnection connection_;
  TVeskDMConexao dm_;
};

}  // namespace tolvan::postgresql::test
