// The host's connection after a BackupConn or RestoreConn that SIGINT or SIGTERM stopped, with the
// real gbak and the private server: the signals are real ones, sent to this process while gbak
// runs, after the Firebird client has made its first calls here.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "FirebirdTestDatabase.h"
#include "FirebirdTestServer.h"
#include "LinkedPlugin.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

using tolvan::test::FindFirebirdServer;

// Sends the signal to this process at gbak's first line about the data, from the frame's callback.
class SignallingFrame : public TVeskFraProgresso {
 public:
  SignallingFrame(int signal_number, std::string at) : signal_(signal_number), at_(std::move(at)) {}
  void DoCaptureLine(const std::string& line, bool& stop) override {
    if (!sent && line.find(at_) != std::string::npos) {
      // From another thread, as a signal from outside comes while this one waits for gbak.
      std::thread([this] { sent = ::kill(::getpid(), signal_) == 0; }).join();
    }
    TVeskFraProgresso::DoCaptureLine(line, stop);
  }
  bool sent = false;

 private:
  int signal_;
  std::string at_;
};

TEST(InterruptedConnection,
     TheHostConnectionWorksAfterSigintOrSigtermDuringBackupConnAndRestoreConn) {
  if (!fs::exists("/usr/bin/gbak")) {
    GTEST_SKIP() << "no /usr/bin/gbak (package firebird3.0-utils)";
  }
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  // Ours before the client's first call, as in tolvan.
  tolvan::platform::InstallInterruptHandlers();

  const fs::path folder =
      fs::temp_directory_path() / ("tolvan-interrupted-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder / "bin");
  fs::create_symlink("/usr/bin/gbak", folder / "bin" / "gbak");
  fs::create_symlink("/usr/lib/x86_64-linux-gnu/libfbclient.so.2",
                     folder / "bin" / "libfbclient.so.2");
  const tolvan::platform::ScopedExecutablePathOverride app((folder / "bin" / "tolvan").string());
  const auto plugin = tolvan::testing::LinkedPlugin::Load("TolvanFirebird");

  // Large enough that gbak is still at its data when the signal comes.
  const std::string path = (folder / "grande.fdb").string();
  vesk::firebird::CreateDatabase(server->Key(path), server->user, server->password);
  tolvan::test::FirebirdDatabase db(server->Key(path), server->user, server->password);
  db.connection.ExecuteDirect("create table linhas (id integer, texto varchar(100))");
  db.connection.ExecuteDirect(
      "execute block as declare i integer = 0; begin while (i < 300000) do begin "
      "insert into linhas values (:i, lpad('', 100, 'x')); i = i + 1; end end");
  const std::string whole = (folder / "inteiro.fbk").string();
  plugin->Function<tolvan::BackupConnFn>("BackupConn")(&db.dm, whole, true, nullptr, false, false);

  int round = 0;
  for (const int signal_number : {SIGINT, SIGTERM}) {
    for (const bool restore : {false, true}) {
      SCOPED_TRACE(std::string(restore ? "RestoreConn" : "BackupConn") + " stopped by " +
                   (signal_number == SIGINT ? "SIGINT" : "SIGTERM"));
      ++round;
      SignallingFrame frame(signal_number, restore ? "restoring data for table" : "writing data");
      try {
        if (restore) {
          plugin->Function<tolvan::RestoreConnFn>("RestoreConn")(
              &db.dm, server->password, whole,
              (folder / ("alvo" + std::to_string(round) + ".fdb")).string(), false, &frame, false,
              false);
        } else {
          plugin->Function<tolvan::BackupConnFn>("BackupConn")(
              &db.dm, (folder / ("parte" + std::to_string(round) + ".fbk")).string(), false, &frame,
              false, false);
        }
      } catch (const std::exception&) {
        // The stopped run fails; what matters here is the connection afterwards.
      }
      EXPECT_TRUE(frame.sent) << "gbak ended before the signal was sent";
      EXPECT_EQ(tolvan::platform::InterruptSignal(), signal_number);
      tolvan::platform::ClearInterrupt();
      EXPECT_TRUE(db.connection.Connected()) << "the connection was not opened again";
      EXPECT_EQ(db.Select("select count(*) from linhas").at(0), "300000");
    }
  }

  db.connection.Close();
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    ::signal(signal_number, SIG_DFL);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
