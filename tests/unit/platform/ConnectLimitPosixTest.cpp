// The connection limit around a blocking call that waits on a server that accepted the connection
// and never answers: a listener of the test's own, and a call that connects and reads from it as a
// client library does.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "ci/TestNames.h"
#include "platform/ConnectLimit.h"
#include "platform/Interrupt.h"
#include "silent_listener/SilentListener.h"

namespace {

using namespace std::chrono_literals;
using tolvan::platform::ConnectWithinLimit;
using tolvan::platform::EConnectCut;

// Connects and waits for the first byte, as long as it takes; fails when the connection ends.
void ConnectAndRead(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  char byte = 0;
  const bool read = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::recv(fd, &byte, 1, 0) == 1;
  ::close(fd);
  if (!read) {
    throw std::runtime_error("the connection ended");
  }
}

TEST(ConnectLimit, ASilentServerIsGivenUpOnAtTheLimitOrAtAnInterruptThatComesDuringTheCall) {
  const tolvan::testing::SilentListener server;
  struct Case {
    const char* what;
    std::optional<std::chrono::milliseconds> interrupt_at;
    bool interrupted_before;  // the call is a clean-up after an earlier interrupt
    bool interrupted;
    std::chrono::milliseconds at_least;
    std::chrono::milliseconds within;
  };
  const Case cases[] = {
      {"the limit", std::nullopt, false, false, 1000ms, 1800ms},
      {"an interrupt during the call", 300ms, false, true, 300ms, 1000ms},
      {"an interrupt before the call", std::nullopt, true, false, 1000ms, 1800ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tolvan::platform::ClearInterrupt();
    if (c.interrupted_before) {
      tolvan::platform::RequestInterrupt(SIGINT);
    }
    std::thread interrupter([&c] {
      if (c.interrupt_at) {
        std::this_thread::sleep_for(*c.interrupt_at);
        tolvan::platform::RequestInterrupt(SIGINT);
      }
    });
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    bool interrupted = false;
    try {
      ConnectWithinLimit("servidor-mudo/" + std::to_string(server.port()), 1s,
                         [&] { ConnectAndRead(server.port()); });
    } catch (const EConnectCut& e) {
      message = e.what();
      interrupted = e.interrupted();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    interrupter.join();
    EXPECT_EQ(interrupted, c.interrupted);
    EXPECT_THAT(message, HasSubstr("servidor-mudo/" + std::to_string(server.port())));
    EXPECT_GE(took, c.at_least);
    EXPECT_LT(took, c.within);
  }
  tolvan::platform::ClearInterrupt();
}

TEST(ConnectLimit, ACallThatEndsOnItsOwnKeepsItsOutcomeAndTheLimitReadsAsWholeSeconds) {
  EXPECT_NO_THROW(ConnectWithinLimit("s", 1s, [] {}));
  try {
    ConnectWithinLimit("s", 1s, [] { throw std::invalid_argument("the library's own"); });
    ADD_FAILURE() << "no failure";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "the library's own");
  }
  struct Case {
    const char* value;
    std::chrono::seconds limit;
  };
  const Case cases[] = {{"", 30s},   {"5", 5s},      {"86400", 86400s}, {"0", 30s},
                        {"-3", 30s}, {"86401", 30s}, {"5s", 30s},       {" 5", 30s}};
  for (const Case& c : cases) {
    EXPECT_EQ(tolvan::platform::ConnectTimeoutFrom(c.value), c.limit) << c.value;
  }
}

}  // namespace
