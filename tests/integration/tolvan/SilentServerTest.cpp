// Connections to a server that accepts the connection and never answers, a listener of the test's
// own: tolvan obeys SIGINT within a second and gives up with the server's name after the time
// given, through the host's Firebird and PostgreSQL drivers; the Firebird plug-in's own attaches do
// the same in this process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Recorders.h"
#include "RunningTolvan.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "silent_listener/SilentListener.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct TolvanRun {
  const char* what;
  std::vector<std::string> args;
  std::string server;  // as the message names it
};

std::vector<TolvanRun> Runs(const tolvan::testing::SilentListener& silent) {
  const std::string firebird = "localhost/" + silent.port_text();
  return {
      {"Firebird Versao",
       {"firebird", "Versao", "--database", firebird + ":/dados/x.fdb"},
       firebird},
      {"Firebird BackupConn",
       {"firebird", "BackupConn", "--database", firebird + ":/dados/x.fdb", "--file",
        "/tmp/tolvan-silent-server.fbk"},
       firebird},
      {"PostgreSQL Versao",
       {"postgresql", "Versao", "--database", "127.0.0.1/" + silent.port_text() + ":postgres"},
       "127.0.0.1 porta " + silent.port_text()},
  };
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(SilentServer, TolvanObeysSigintWithinASecondWhileItConnects) {
  const std::size_t runs = Runs(tolvan::testing::SilentListener()).size();
  for (std::size_t i = 0; i < runs; ++i) {
    // A listener of each run's own, whose queue holds that run's connection alone.
    const tolvan::testing::SilentListener silent;
    const TolvanRun run = Runs(silent)[i];
    SCOPED_TRACE(run.what);
    tolvan_test::Tolvan tolvan(tolvan_test::Tolvan::Start{
        With(run.args, {"--user", "SYSDBA"}), {"TOLVAN_PASSWORD=senha"}, std::nullopt, false});
    ASSERT_TRUE(silent.WaitForConnection(20s)) << "tolvan never connected";
    // Past the client's first moments, when it has settled on waiting for the answer.
    std::this_thread::sleep_for(500ms);
    const auto sent = Clock::now();
    ::kill(tolvan.pid(), SIGINT);
    const tolvan_test::Outcome outcome = tolvan.Finish();
    EXPECT_LT(Clock::now() - sent, 1s);
    EXPECT_EQ(outcome.status, 128 + SIGINT) << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr("interrompido (SIGINT)"));
  }
}

TEST(SilentServer, TolvanGivesUpAfterTheTimeGivenNamingTheServer) {
  const tolvan::testing::SilentListener silent;
  for (const TolvanRun& run : Runs(silent)) {
    SCOPED_TRACE(run.what);
    const auto start = Clock::now();
    tolvan_test::Tolvan tolvan(
        tolvan_test::Tolvan::Start{With(run.args, {"--user", "SYSDBA", "--connect-timeout", "2"}),
                                   {"TOLVAN_PASSWORD=senha"},
                                   std::nullopt,
                                   false});
    const tolvan_test::Outcome outcome = tolvan.Finish();
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 4s);
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_THAT(outcome.err, AllOf(HasSubstr("O servidor " + run.server + " não respondeu em 2 s"),
                                   HasSubstr("ConnectTimeout")));
  }
}

// The plug-in's own attaches, each with the host connection's limit of one second, or ended by an
// interrupt half a second in: a real SIGINT to this process, whose handler is the host's (the
// loaded plug-in's copy of the platform code sees no record of the test's own).
TEST(SilentServer, ThePluginsOwnAttachesKeepTheLimitAndObeyAnInterrupt) {
  tolvan::platform::InstallInterruptHandlers();
  const tolvan::testing::SilentListener silent;
  const std::string server = "localhost/" + silent.port_text();
  const auto plugin = tolvan::platform::DynamicLibrary::Load(
      tolvan::platform::ExecutableDirectory() + "TolvanFirebird" TOLVAN_PLUGIN_SUFFIX);
  TVeskSQLConnection connection;
  connection.DriverName = vesk::firebird::kDriverName;
  connection.Params = {"Database=" + server + ":/dados/x.fdb", "USER_NAME=SYSDBA", "PASSWORD=senha",
                       "ConnectTimeout=1"};
  TVeskDMConexao dm;
  dm.SQLConnection = &connection;
  const tolvan::test::LogRecorder log;
  const tolvan::test::DialogRecorder dialogs;
  const tolvan::test::PlainMessageRecorder boxes;

  struct Attach {
    const char* what;
    std::function<void()> call;
  };
  std::vector<std::string> list;
  int32_t attachments = 0;
  int32_t databases = 0;
  const Attach attaches[] = {
      {"PegarDataBases",
       [&] {
         plugin->Function<tolvan::PegarDataBasesFn>("PegarDataBases")(&dm, &list, attachments,
                                                                      databases);
       }},
      {"PegarUser", [&] { plugin->Function<tolvan::PegarUserFn>("PegarUser")(&dm, &list); }},
      {"AddUser",
       [&] {
         plugin->Function<tolvan::AddUserFn>("AddUser")(&dm, "ANA", "senha", "", "", "", "");
       }},
      // Shows and logs its failure instead of raising it.
      {"CriarDataBase",
       [&] {
         plugin->Function<tolvan::CriarDataBaseFn>("CriarDataBase")(&dm, server + ":/dados/n.fdb",
                                                                    "", "");
         const auto entries = log.Entries();
         if (!entries.empty()) {
           throw std::runtime_error(entries.back().Text);
         }
       }},
  };
  for (const bool interrupt : {false, true}) {
    for (const Attach& attach : attaches) {
      SCOPED_TRACE(std::string(attach.what) + (interrupt ? ", interrupted" : ", limit"));
      tolvan::platform::ClearInterrupt();
      std::thread interrupter([interrupt] {
        if (interrupt) {
          std::this_thread::sleep_for(500ms);
          ::kill(::getpid(), SIGINT);
        }
      });
      const auto start = Clock::now();
      std::string message = "(no failure)";
      try {
        attach.call();
      } catch (const std::exception& e) {
        message = e.what();
      }
      const auto took = Clock::now() - start;
      interrupter.join();
      EXPECT_THAT(message, HasSubstr(server));
      EXPECT_THAT(message, HasSubstr(interrupt ? "interrompida" : "não respondeu em 1 s"));
      EXPECT_GE(took, interrupt ? 500ms : 1s);
      EXPECT_LT(took, interrupt ? 1500ms : 2500ms);
    }
  }
  tolvan::platform::ClearInterrupt();
}

}  // namespace
