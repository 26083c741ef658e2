// tolvan at its exit with two copies of Firebird 4's own client in the process: the driver's
// libfbclient.so.2 and the copy the plug-in makes as libibclient64.so for the data-access
// components. The Debian 13 client cannot be loaded here, so this tolvan runs on the Debian 13
// root's loader and libraries, with the root's client and its plugins.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/host/Firebird.h"

namespace {

using tolvan::platform::GetEnv;

// The command's exit status; 128 + the signal for one a signal ended.
int ExitStatusOf(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

TEST(Firebird4Exit, TheUserExportsEndCleanlyWithTwoCopiesOfTheClient) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitized tolvan cannot run on the Debian 13 root's libraries";
#endif
  const auto root = GetEnv("TOLVAN_DEBIAN13_ROOT");
  const auto port = GetEnv("TOLVAN_FB4_PORT");
  const auto password = GetEnv("TOLVAN_FB4_PASSWORD");
  const auto data = GetEnv("TOLVAN_FB4_DATA");
  if (!root || !port || !password || !data) {
    TOLVAN_SKIP_OR_FAIL(
        "no Firebird 4 server (TOLVAN_DEBIAN13_ROOT, TOLVAN_FB4_*); source \"$(scripts/"
        "debian13-servers start)\"");
  }
  const fs::path folder =
      fs::temp_directory_path() / ("tolvan-fb4-exit-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  const fs::path bin = folder / "bin";
  fs::create_directories(bin);
  const std::string built = tolvan::platform::ExecutableDirectory();
  for (const char* file : {"tolvan", "TolvanFirebird.so", "libVeskPack5.so", "libVeskPackBase5.so",
                           "libtolvan_platform.so"}) {
    fs::copy_file(built + file, bin / file);
  }
  const std::string libs = *root + "/usr/lib/x86_64-linux-gnu";
  fs::copy_file(fs::canonical(libs + "/libfbclient.so.2"), bin / "libfbclient.so.2");
  const std::string search = bin.string() + ":" + libs + ":" + libs + "/firebird/4.0/lib";
  ASSERT_EQ(ExitStatusOf("patchelf --set-interpreter " + Quoted(libs + "/ld-linux-x86-64.so.2") +
                         " " + Quoted((bin / "tolvan").string())),
            0);
  for (const auto& entry : fs::directory_iterator(bin)) {
    ASSERT_EQ(ExitStatusOf("patchelf --force-rpath --set-rpath " + Quoted(search) + " " +
                           Quoted(entry.path().string())),
              0);
  }
  // The client's own folder: the root's plugins (wire encryption among them) and messages.
  const fs::path firebird = folder / "firebird";
  fs::create_directories(firebird);
  fs::copy(libs + "/firebird/4.0/plugins", firebird / "plugins", fs::copy_options::recursive);
  fs::copy_file(libs + "/firebird/4.0/firebird.msg", firebird / "firebird.msg");
  std::ofstream(firebird / "firebird.conf").close();
  tolvan::platform::SetEnv("FIREBIRD", firebird.string());
  tolvan::platform::SetEnv("TOLVAN_PASSWORD", *password);

  const std::string path = *data + "/saida_" + std::to_string(::getpid()) + ".fdb";
  const std::string key = "localhost/" + *port + ":" + path;
  // Through this machine's client, which speaks to a server of 4.0 too.
  vesk::firebird::CreateDatabase(key, "SYSDBA", *password);
  const std::string tolvan = Quoted((bin / "tolvan").string()) + " firebird ";
  const std::string connection = " --database " + Quoted(key) + " --user SYSDBA ";
  const std::vector<std::string> runs = {
      "AddUser --user-name SAIDA --user-password um",
      "ModifyUser --user-name SAIDA --user-password dois --first-name Ana",
      "PegarUser",
      "DeleteUser --user-name SAIDA",
  };
  for (const std::string& run : runs) {
    EXPECT_EQ(ExitStatusOf(tolvan + run + connection + ">/dev/null 2>&1"), 0) << run;
  }
  tolvan::platform::UnsetEnv("FIREBIRD");
  std::error_code ignored;
  fs::remove(path, ignored);
  fs::remove_all(folder, ignored);
}

}  // namespace
