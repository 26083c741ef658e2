// An export whose end cannot be known (something else in the process reaps the children): what
// EXP wrote is kept under its temporary name and the message says where; the dump is untouched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TolvanOracleUtil.h"
#include "fake_tool/ChildrenReapedElsewhere.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "scripted_driver/MessageOf.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(OracleWaitFailed, TheDumpIsKeptBesideTheGoodFileAndTheMessageSaysWhere) {
  tolvan::platform::ScopedEnvironmentOverride environment;
  tolvan::testing::FakeToolFolder folder;
  folder.Install(std::string(tolvan::oracle::ExportTool()), "out Export terminated\n");
  std::string path = folder.Path();
  path.pop_back();
  tolvan::platform::SetEnv("PATH", path);
  const std::string dump = folder.Path() + "loja.DMP";
  std::ofstream(dump) << "dump bom";

  std::string message;
  {
    const tolvan::testing::ChildrenReapedElsewhere reaped;
    message = tolvan::testing::MessageOf([&] {
      tolvan::oracle::Backup("ORCL", "scott", "tiger", folder.Path() + "loja.dmp", false, nullptr,
                             false);
    });
  }
  EXPECT_THAT(message, StartsWith("Backup:\r\nNão foi possível saber se o EXP terminou bem. O que "
                                  "ele gravou ficou em \"" +
                                  dump + ".~"));
  EXPECT_THAT(message, HasSubstr("o arquivo \"" + dump + "\" não foi alterado"));
  std::ifstream in(dump);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "dump bom");
  int kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    kept += entry.path().filename().string().rfind("loja.DMP.~", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(kept, 1);
}

}  // namespace
