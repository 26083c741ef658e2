// The host's connection closed around a tool run: one rule for which failure the caller hears.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "ci/TestNames.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/support/Guards.h"
#include "vesk/VeskPack5.h"

namespace {

using tolvan::testing::Operation;

// The body's failure goes first; a connection that does not open again is told after it, or is
// the failure when the body went well. The connection is tried again in every case.
TEST(WithConnectionClosed, TheBodysFailureComesFirstAndAFailedReopenIsNeverHidden) {
  struct Case {
    const char* name;
    bool body_fails;
    bool reopen_fails;
    std::string starts;
    std::string holds;
  };
  const Case cases[] = {
      {"both fine", false, false, "", ""},
      {"body fails", true, false, "gbak falhou", "gbak falhou"},
      {"reopen fails", false, true, "servidor caiu", "servidor caiu"},
      {"both fail", true, true, "gbak falhou\r\n", "servidor caiu"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tolvan::testing::ScopedScriptedDriver driver;
    TVeskSQLConnection connection;
    connection.DriverName = driver.name();
    connection.Open();
    if (c.reopen_fails) {
      driver->FailAt(Operation::Connect, 2, "servidor caiu");
    }
    bool ran_closed = false;
    std::string message;
    try {
      tolvan::support::WithConnectionClosed(connection, [&] {
        ran_closed = !connection.Connected();
        if (c.body_fails) {
          throw std::runtime_error("gbak falhou");
        }
      });
    } catch (const std::exception& error) {
      message = error.what();
    }
    EXPECT_TRUE(ran_closed);
    EXPECT_THAT(message, StartsWith(c.starts));
    EXPECT_THAT(message, HasSubstr(c.holds));
    EXPECT_EQ(driver->Count(Operation::Connect), 2);
    EXPECT_EQ(connection.Connected(), !c.reopen_fails);
  }
}

}  // namespace
