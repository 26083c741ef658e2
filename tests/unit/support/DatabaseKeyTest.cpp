// The one reading of a database key, as each of its readers cuts it.
#include <gtest/gtest.h>

#include <string>

#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/Text.h"

namespace {

using namespace tolvan::support;

TEST(DatabaseKey, ServerPathAndWhatAServiceGets) {
  struct Case {
    std::string key;
    std::string server;          // Server(): none for a drive letter or a key without ":"
    std::string path_on_server;  // PathOnServer()
    std::string service_text;    // SplitOffServer(key).text
  };
  const Case cases[] = {
      {"srv:/d/x.fdb", "srv", "/d/x.fdb", "/d/x.fdb"},
      {"srv/3050:C:\\d\\x.fdb", "srv/3050", "C:\\d\\x.fdb", "C:\\d\\x.fdb"},
      {"C:\\d\\x.fdb", "", "C:\\d\\x.fdb", "C:\\d\\x.fdb"},
      {"/d/x.fdb", "", "/d/x.fdb", "/d/x.fdb"},
      {"loja", "", "loja", "loja"},
      {"srv:", "srv", "", "srv"},
      {"srv:a:b", "srv", "a:b", "a:b"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const DatabaseKey key = SplitDatabaseKey(c.key);
    EXPECT_EQ(key.Server(), c.server);
    EXPECT_EQ(key.PathOnServer(), c.path_on_server);
    EXPECT_EQ(SplitOffServer(c.key).text, c.service_text);
    EXPECT_EQ(SplitOffServer(c.key).server, c.path_on_server.empty() ? "" : c.server);
  }
}

TEST(DatabaseKey, PortsAndThisMachine) {
  EXPECT_EQ(SplitPortAtLastSlash("a/b/5433").server, "a/b");
  EXPECT_EQ(SplitPortAtLastSlash("a/b/5433").port, "5433");
  EXPECT_EQ(SplitPortAtFirstSlash("a/b/5433").server, "a");
  EXPECT_EQ(SplitPortAtFirstSlash("a/b/5433").port, "b/5433");
  EXPECT_EQ(SplitPortAtFirstSlash("srv").port, "");
  EXPECT_EQ(PortNumber("5433", 0), 5433);
  for (const char* not_a_port : {"", "x", "54x", "99999999999"}) {
    EXPECT_EQ(PortNumber(not_a_port, 5432), 5432) << not_a_port;
  }
  for (const char* here :
       {"", "localhost", "LocalHost/3050", "127.0.0.1", "127.1.2.3/5433", "::1"}) {
    EXPECT_TRUE(IsThisMachine(here)) << here;
  }
  for (const char* elsewhere : {"srv", "10.0.0.1", "localhost.example"}) {
    EXPECT_FALSE(IsThisMachine(elsewhere)) << elsewhere;
  }
}

TEST(DottedVersion, DotsGoAfterTheSecondSixthAndEighthDigitOrAtTheEnd) {
  EXPECT_EQ(DottedVersion(150020000000), "15.0020.00.0000");
  EXPECT_EQ(DottedVersion(170002000000), "17.0002.00.0000");
  EXPECT_EQ(DottedVersion(0), "0...");
  EXPECT_EQ(DottedVersion(12), "12...");
  EXPECT_EQ(DottedVersion(1234567), "12.3456.7.");
  EXPECT_EQ(DottedVersion(123456789), "12.3456.78.9");
}

}  // namespace
