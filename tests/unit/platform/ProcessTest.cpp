#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace tolvan::platform {
namespace {

using tolvan::testing::FakeToolFolder;

struct Run {
  std::string output;
  int exit_code;
};

std::string ReadAll(ChildProcess& child) {
  std::string output;
  char buffer[4096];
  while (std::size_t count = child.Read(buffer, sizeof buffer)) {
    output.append(buffer, count);
  }
  return output;
}

Run RunCommand(const std::string& command_line, const std::string& working_directory = "") {
  auto child = LaunchProcess({command_line, working_directory});
  std::string output = ReadAll(*child);
  return {output, child->Wait()};
}

// Test folders may hold accents: paths reach std::filesystem as UTF-8.
std::filesystem::path U8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

class ProcessTest : public ::testing::Test {
 protected:
  std::string Install(const std::string& script) { return Quoted(folder_.Install("tool", script)); }

  FakeToolFolder folder_;
};

TEST_F(ProcessTest, StdoutAndStderrArriveMergedInOrder) {
  auto run = RunCommand(Install("out one\nerr two\nout three\ncrlf four\nwrite five"));
  EXPECT_EQ(run.output, "one\ntwo\nthree\nfour\r\nfive");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(ProcessTest, ExitCodesComeBack) {
  for (int code : {0, 1, 2, 255}) {
    folder_.Install("tool", "out x\nexit " + std::to_string(code));
    auto run = RunCommand(Quoted(folder_.ToolPath("tool")));
    EXPECT_EQ(run.exit_code, code);
    EXPECT_EQ(run.output, "x\n");
  }
  EXPECT_NE(RunCommand(Install("crash")).exit_code, 0);
}

TEST_F(ProcessTest, ArgumentsReachTheChildLiterally) {
  // Relative to the working folder, so that a folder with blanks does not change the split.
  const std::string marker = folder_.Path() + "pwned";
  const std::string command =
      Install("argv") +
      " \"a;b\" x|y \"$(touch pwned)\" `touch pwned` ; \"two  blanks\" \"\" "
      "\"q\\\"uote\" >out";
  auto run = RunCommand(command, folder_.Path());
  EXPECT_EQ(run.output,
            "arg:a;b\narg:x|y\narg:$(touch pwned)\narg:`touch\narg:pwned`\narg:;\narg:two  "
            "blanks\narg:\narg:q\"uote\narg:>out\n");
  EXPECT_FALSE(FileExists(marker));
  EXPECT_FALSE(FileExists(folder_.Path() + "out"));
  auto calls = folder_.Calls("tool");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args.size(), 10u);
}

// On Windows the child parses its own command line; the splitter must read it the same way.
TEST_F(ProcessTest, SplitterAgreesWithTheChildsOwnReading) {
  const std::string tool = Install("");
  const std::vector<std::string> tails = {
      R"( -b -z -V "D" "F" -user U -pas P -m  -SE srv:"Backup Database" )",
      R"( a\\"b c" d\\\"e "f\\" \"g\")",
      R"( "say ""hi""" "a""b" x""y "")",
      "\t tab\targ \"in\tquotes\" ",
  };
  for (const auto& tail : tails) {
    RunCommand(tool + tail);
    std::vector<std::string> expected = SplitCommandLine(tool + tail);
    expected.erase(expected.begin());
    EXPECT_EQ(folder_.Calls("tool").back().args, expected) << tail;
  }
}

TEST_F(ProcessTest, ProgramPathWithBlanks) {
  const std::string folder = folder_.Path() + "with blank";
  std::filesystem::create_directory(U8(folder));
  const std::string tool = folder + kPathDelimiter + "tool" + kExecutableSuffix;
  CopyFileOverwriting(FakeToolFolder::BuiltTool(), tool);
  // A program planted at the path's first blank-separated part is never the one started.
  folder_.Install("with", "out planted\nexit 9\n");
  auto run = RunCommand(Quoted(tool) + " x");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(folder_.Calls("with").empty());
}

TEST_F(ProcessTest, WorkingDirectoryIsTheChildsCurrentFolder) {
  const std::string work = folder_.Path() + "work";
  std::filesystem::create_directory(U8(work));
  RunCommand(Install(""), work);
  RunCommand(Quoted(folder_.ToolPath("tool")));
  auto calls = folder_.Calls("tool");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(std::filesystem::equivalent(U8(calls[0].cwd), U8(work)));
  EXPECT_TRUE(std::filesystem::equivalent(U8(calls[1].cwd), std::filesystem::current_path()));
}

TEST_F(ProcessTest, StandardInputIsAtItsEndAtOnce) {
  EXPECT_EQ(RunCommand(Install("stdin")).output, "stdin:0\n");
}

TEST_F(ProcessTest, EnvironmentOverlayReachesTheChildOnly) {
  SetEnv("TOLVAN_TEST_REAL", "real");
  const std::string tool = Install(
      "env TOLVAN_TEST_NEW\nenv TOLVAN_TEST_REAL\nenv TOLVAN_TEST_EMPTY\nrecord-env "
      "TOLVAN_TEST_NEW\nrecord-env TOLVAN_TEST_REAL");
  {
    ScopedEnvironmentOverride overlay;
    SetEnv("TOLVAN_TEST_NEW", "over lay");
    SetEnv("TOLVAN_TEST_EMPTY", "");
    UnsetEnv("TOLVAN_TEST_REAL");
    EXPECT_EQ(RunCommand(tool).output,
              "env:TOLVAN_TEST_NEW=over lay\nenv:TOLVAN_TEST_REAL unset\nenv:TOLVAN_TEST_EMPTY=\n");
    if (kPathDelimiter == '/') {  // the C runtime's copy on Windows does not follow SetEnv
      EXPECT_EQ(std::getenv("TOLVAN_TEST_NEW"), nullptr);
      EXPECT_STREQ(std::getenv("TOLVAN_TEST_REAL"), "real");
    }
  }
  EXPECT_EQ(RunCommand(tool).output,
            "env:TOLVAN_TEST_NEW unset\nenv:TOLVAN_TEST_REAL=real\nenv:TOLVAN_TEST_EMPTY unset\n");
  UnsetEnv("TOLVAN_TEST_REAL");

  auto calls = folder_.Calls("tool");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].env.at("TOLVAN_TEST_NEW"), "over lay");
  EXPECT_EQ(calls[0].env.at("TOLVAN_TEST_REAL"), std::nullopt);
  EXPECT_EQ(calls[1].env.at("TOLVAN_TEST_REAL"), "real");
}

TEST_F(ProcessTest, ProgramsThatCannotStartThrow) {
  EXPECT_THROW(LaunchProcess({"", ""}), std::system_error);
  EXPECT_THROW(LaunchProcess({"   ", ""}), std::system_error);
  EXPECT_THROW(LaunchProcess({Quoted(folder_.Path() + "missing" + kExecutableSuffix), ""}),
               std::system_error);
  EXPECT_THROW(LaunchProcess({"tolvan-no-such-program-anywhere", ""}), std::system_error);

  const std::string not_a_program = folder_.Path() + "text" + kExecutableSuffix;
  CopyFileOverwriting(FakeToolFolder::BuiltTool(), not_a_program);
  folder_.SetScript("text", "");
  { std::ofstream(U8(not_a_program), std::ios::trunc) << "just text\n"; }
  EXPECT_THROW(LaunchProcess({Quoted(not_a_program), ""}), std::system_error);

  try {
    LaunchProcess({Install(""), folder_.Path() + "no-such-folder"});
    ADD_FAILURE() << "started in a missing folder";
  } catch (const std::system_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("no-such-folder"));
  }
}

TEST_F(ProcessTest, OutputIsReadAsItIsWritten) {
  auto child = LaunchProcess({Install("out first\nsleep 20000\nout second"), ""});
  const auto start = std::chrono::steady_clock::now();
  char buffer[64];
  std::size_t count = child->Read(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, count), "first\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  child->Kill();
  EXPECT_NE(child->Wait(), 0);
  EXPECT_EQ(ReadAll(*child), "");
}

TEST_F(ProcessTest, LargeOutputDoesNotStall) {
  auto run = RunCommand(Install("lines 100000 line\nerr done"));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 100001);
  EXPECT_THAT(run.output, ::testing::StartsWith("line1\nline2\n"));
  EXPECT_THAT(run.output, ::testing::EndsWith("line100000\ndone\n"));
}

TEST_F(ProcessTest, DestroyingARunningChildEndsIt) {
  const std::string tool = Install("sleep 20000");
  const auto start = std::chrono::steady_clock::now();
  LaunchProcess({tool, ""}).reset();
  auto child = LaunchProcess({tool, ""});
  child->Kill();
  child->Kill();
  EXPECT_NE(child->Wait(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// A bounded wait gives up while the child runs; one without a bound waits for its end, also just
// after a kill, when the child may not be gone yet.
TEST_F(ProcessTest, WaitForGivesUpOnlyWhenBounded) {
  auto child = LaunchProcess({Install("sleep 300\nexit 3"), ""});
  EXPECT_EQ(child->WaitFor(0), std::nullopt);
  EXPECT_EQ(child->WaitFor(-1), 3);
  auto killed = LaunchProcess({Install("sleep 20000"), ""});
  killed->Kill();
  const std::optional<int> code = killed->WaitFor(-1);
  ASSERT_TRUE(code.has_value());
  EXPECT_NE(*code, 0);
}

// What a later run reads from the names a run leaves behind: this machine, and whether a process
// of an id exists.
TEST(ProcessExistence, TheRunningProgramExistsAndIdsNoProcessCanHaveDoNot) {
  EXPECT_FALSE(MachineName().empty());
  EXPECT_TRUE(ProcessExists(CurrentProcessId()));
  EXPECT_FALSE(ProcessExists(0));
  EXPECT_FALSE(ProcessExists(std::uint64_t{1} << 40));
}

}  // namespace
}  // namespace tolvan::platform
