// POSIX tests of the runner: an interrupt sent to the program while a plug-in's tool runs, and a
// tool whose end cannot be known.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "fake_tool/ChildrenReapedElsewhere.h"
#include "fake_tool/FakeTool.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "scripted_driver/MessageOf.h"
#include "tolvan/support/ProductFile.h"
#include "tolvan/support/ToolRunner.h"

namespace {

using Clock = std::chrono::steady_clock;
using tolvan::testing::FakeToolFolder;

std::atomic<int> g_host_saw{0};

extern "C" void HostHandler(int signal_number) {
  g_host_saw = signal_number;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The plug-in notices an interrupt meant for its host while its tool runs, ends the tool, and
// leaves the host's handling as it was: the host's own handler is called, and afterwards in place
// again. A record that only the run made is forgotten, so that a host that goes on after the
// interrupt gets its next tool run; one the host's handler made in the same copy stays.
TEST(ToolRunnerInterrupt, EndsTheToolAndPassesTheSignalOn) {
  struct Case {
    const char* host;
    void (*install)();
    int signal_number;
    int record_after;
  };
  const Case cases[] = {
      {"a host handler of its own", [] { ::signal(SIGTERM, HostHandler); }, SIGTERM, 0},
      {"this copy's handlers", [] { tolvan::platform::InstallInterruptHandlers(); }, SIGINT,
       SIGINT},
  };
  FakeToolFolder folder;
  const std::string tool = "\"" + folder.Install("tool", "out started\nsleep 20000\n") + "\"";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    g_host_saw = 0;
    c.install();
    struct sigaction before {};
    ::sigaction(c.signal_number, nullptr, &before);

    std::thread sender([&c] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::kill(::getpid(), c.signal_number);
    });
    const auto start = Clock::now();
    const tolvan::support::ToolOutcome run = tolvan::support::RunTool({tool}, nullptr, false);
    sender.join();

    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(run.code, 0);
    EXPECT_EQ(run.interrupt, c.signal_number);
    EXPECT_EQ(tolvan::platform::InterruptSignal(), c.record_after);
    struct sigaction after {};
    ::sigaction(c.signal_number, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler) << "the host's handler is back";
    if (c.record_after == 0) {
      EXPECT_EQ(g_host_saw, c.signal_number) << "the host's handler heard it too";
    }
    tolvan::platform::ClearInterrupt();
    ::signal(c.signal_number, SIG_DFL);
  }
}

// A product whose tool ran but whose end is unknown (something else in the process reaps the
// children): what the tool wrote stays under its temporary name, out of the way of the next run,
// the final name is as it was, and the message says where the work is.
TEST(MakeProduct, AnUnknownEndKeepsWhatTheToolWrote) {
  FakeToolFolder folder;
  const std::string tool =
      "\"" + folder.Install("tool", "product " + folder.Path() + "feito\n") + "\"";
  std::ofstream(folder.Path() + "feito") << "talvez inteiro";
  const std::string final_path = folder.Path() + "copia.bak";
  std::ofstream(final_path) << "copia boa";

  tolvan::support::ProductSteps steps;
  steps.final_path = final_path;
  steps.heading = "Backup:\r\n";
  steps.not_created = [](const std::string& reason) { return reason; };
  steps.outcome_unknown = [](const tolvan::support::ToolWaitFailed&, const std::string& kept_at) {
    return "kept at " + kept_at;
  };
  std::string kept;
  const std::string message = tolvan::testing::MessageOf([&] {
    const tolvan::testing::ChildrenReapedElsewhere reaped;
    tolvan::support::MakeProduct(steps, [&](const std::string& path) {
      kept = path;
      tolvan::support::RunTool({tool + " \"" + path + "\""}, nullptr, false);
    });
  });
  EXPECT_EQ(message, "kept at " + kept);
  EXPECT_NE(kept, final_path);
  EXPECT_EQ(ReadAll(kept), "talvez inteiro");
  EXPECT_EQ(ReadAll(final_path), "copia boa");
  EXPECT_FALSE(tolvan::platform::RemoveUnheldFile(kept)) << "kept read-only for the operator";
}

}  // namespace
