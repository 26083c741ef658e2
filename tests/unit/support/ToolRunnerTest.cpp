// The plug-ins' tool runner: what the tool gets, and what the run gives back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "tolvan/support/ToolRunner.h"

namespace {

using tolvan::support::RunTool;
using tolvan::testing::FakeToolFolder;

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// A secret given to the tool never enters the process's environment, where every other child the
// host starts would inherit it, and never goes on the command line; a value the host had stays.
TEST(ToolRunner, TheToolAloneGetsItsVariables) {
  FakeToolFolder folder;
  const std::string tool = Quoted(folder.Install(
      "tool", "env TOLVAN_TEST_SECRET\nenv TOLVAN_TEST_HOSTS\nrecord-env TOLVAN_TEST_SECRET\n"));
  const tolvan::platform::ScopedEnvironmentOverride environment;
  tolvan::platform::SetEnv("TOLVAN_TEST_HOSTS", "do host");

  const tolvan::support::ToolOutcome run =
      RunTool({tool, {{"TOLVAN_TEST_SECRET", "a b\"c -m"}, {"TOLVAN_TEST_HOSTS", "da ferramenta"}}},
              nullptr, false);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.output, "env:TOLVAN_TEST_SECRET=a b\"c -m\nenv:TOLVAN_TEST_HOSTS=da ferramenta\n");
  EXPECT_EQ(tolvan::platform::GetEnv("TOLVAN_TEST_SECRET"), std::nullopt);
  EXPECT_EQ(tolvan::platform::GetEnv("TOLVAN_TEST_HOSTS"), "do host");

  EXPECT_EQ(RunTool({tool}, nullptr, false).output,
            "env:TOLVAN_TEST_SECRET unset\nenv:TOLVAN_TEST_HOSTS=do host\n");
  const auto calls = folder.Calls("tool");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].args.empty());
}

TEST(ToolRunner, AToolThatCannotStartIsNotStarted) {
  FakeToolFolder folder;
  for (const std::string& command_line : {Quoted(folder.Path() + "missing"), std::string(" ")}) {
    const tolvan::support::ToolOutcome run = RunTool({command_line}, nullptr, false);
    EXPECT_EQ(run.code, tolvan::support::kNotStarted) << command_line;
    EXPECT_EQ(run.output, "") << command_line;
  }
}

}  // namespace
