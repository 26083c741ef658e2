// A pg_dump whose end cannot be known (something else in the process reaps the children): what
// it wrote is kept under its temporary name and the message says where; the dump is untouched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "fake_tool/ChildrenReapedElsewhere.h"
#include "scripted_driver/MessageOf.h"

namespace tolvan::postgresql::test {
namespace {

using tolvan::testing::ChildrenReapedElsewhere;

class WaitFailedTest : public PluginHost {};

TEST_F(WaitFailedTest, TheDumpIsKeptBesideTheGoodFileAndTheMessageSaysWhere) {
  InstallTools("15.2");
  const std::string dump = app_.Path() + "temp/vendas.dump";
  WriteText(dump, "backup bom");
  std::string message;
  {
    ChildrenReapedElsewhere reaped;
    message = testing::MessageOf(
        [&] { ExecutarPgDump(tools_, "", "5432", "vendas", "postgres", "pw", dump, false); });
  }
  const auto calls = app_.Calls("PostgreSQL/pg_dump");
  ASSERT_EQ(calls.size(), 1u);
  const std::string kept = calls[0].args[9];
  EXPECT_EQ(message,
            "Backup:\r\nNão foi possível saber se o pg_dump terminou bem. O que ele gravou ficou "
            "em \"" +
                kept + "\"; o arquivo \"" + dump +
                "\" não foi alterado. Confira esse arquivo antes de usá-lo.");
  EXPECT_TRUE(fs::exists(Utf8Path(kept)));
  EXPECT_EQ(ReadText(dump), "backup bom");
  EXPECT_EQ(platform::GetEnv("PGPASSWORD").value_or(""), "");
}

}  // namespace
}  // namespace tolvan::postgresql::test
