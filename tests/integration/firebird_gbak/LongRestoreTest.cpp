// A restore to the server that runs past three minutes, with a gbak that takes its time: the
// plug-in asked the server about the target through the client library before gbak started, and
// the threads the client started then run on for the whole run. Nothing else in this process loads
// the client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "FirebirdTestServer.h"
#include "LinkedPlugin.h"
#include "Recorders.h"
#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"

namespace {

TEST(LongRestore, ARunPastThreeMinutesEndsWithoutACrashAndAnInterruptLeavesNoDatabase) {
  const auto server = tolvan::test::FindFirebirdServer();
  REQUIRE_SERVER(server);
  if (!fs::exists("/usr/bin/isql-fb")) {
    GTEST_SKIP() << "no /usr/bin/isql-fb (package firebird3.0-utils)";
  }
  tolvan::testing::FakeToolFolder folder;
  // gbak makes the database as it begins, then works for over three minutes.
  folder.Install("gbak", "out iniciando\nsleep 190000\nout ainda restaurando\nsleep 60000\n");
  const tolvan::platform::ScopedExecutablePathOverride app(folder.Path() + "tolvan");
  const tolvan::test::DialogRecorder dialogs;
  // Linked in, so that the fake gbak's folder and the interrupt below reach it.
  const auto plugin = tolvan::testing::LinkedPlugin::Load("TolvanFirebird");
  const std::string path = server->data + "/longa_" + std::to_string(::getpid()) + ".fdb";
  const std::string target = server->Key(path);

  tolvan::test::HookedFrame frame([&](const std::string& line) {
    if (line == "iniciando") {
      // From another process: a client of this one would keep the client library loaded here.
      FILE* isql = ::popen("/usr/bin/isql-fb -q", "w");
      ASSERT_NE(isql, nullptr);
      const std::string create = "create database '" + target + "' user '" + server->user +
                                 "' password '" + server->password + "';\n";
      std::fputs(create.c_str(), isql);
      ASSERT_EQ(::pclose(isql), 0);
    } else if (line == "ainda restaurando") {
      tolvan::platform::RequestInterrupt(SIGINT);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  std::string message = "(no failure)";
  try {
    plugin->Function<tolvan::RestoreFn>("Restore")(target, server->user, server->password,
                                                   folder.Path() + "copia.fbk", false, &frame,
                                                   false, false, "", "libfbclient.so.2", false);
  } catch (const std::exception& e) {
    message = e.what();
  }
  tolvan::platform::ClearInterrupt();
  EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::minutes(3));
  EXPECT_THAT(message, StartsWith("Restore:\r\n"));
  EXPECT_FALSE(fs::exists(path)) << "the interrupted restore left its database";
  std::error_code ignored;
  fs::remove(path, ignored);
}

}  // namespace
