#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace {

using Clock = std::chrono::steady_clock;
using tolvan::testing::FakeToolFolder;

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::filesystem::path U8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

class Runners : public testing::Test {
 protected:
  // Installs the fake tool with the script and returns its quoted command line.
  std::string Tool(const std::string& script) { return Quoted(folder_.Install("tool", script)); }

  // CaptureExecute with a callback that collects the lines.
  int Capture(const std::string& command_line, Lines& lines, const std::string& parameters = "",
              const std::string& directory = ".") {
    return CaptureExecute(command_line, parameters, directory,
                          [&lines](const std::string& line, bool&) { lines.push_back(line); });
  }

  FakeToolFolder folder_;
};

TEST_F(Runners, FirstLineArrivesWhileTheToolIsStillRunning) {
  const auto tool = Tool("out first\nsleep 1500\nout second\n");
  std::vector<Clock::time_point> arrivals;
  Lines lines;
  const int code = CaptureExecute(tool, "", ".", [&](const std::string& line, bool&) {
    arrivals.push_back(Clock::now());
    lines.push_back(line);
  });
  const auto ended = Clock::now();
  EXPECT_EQ(code, 0);
  ASSERT_EQ(lines, (Lines{"first", "second"}));
  EXPECT_GE(ended - arrivals[0], std::chrono::milliseconds(1000))
      << "the first line was held back until the tool ended";
}

TEST_F(Runners, MergesStandardOutputAndErrorInTheOrderWritten) {
  const auto tool = Tool("out one\nerr two\nout three\n");
  Lines lines;
  EXPECT_EQ(Capture(tool, lines), 0);
  EXPECT_EQ(lines, (Lines{"one", "two", "three"}));

  std::string output;
  EXPECT_EQ(WinExec32AndRedirectOutput(tool, output, false, false), 0);
  EXPECT_EQ(output, "one\ntwo\nthree\n");
}

TEST_F(Runners, ReturnTheToolsExitCode) {
  for (const int expected : {0, 1, 255}) {
    const auto tool = Tool("out before exit\nexit " + std::to_string(expected) + "\n");
    Lines lines;
    EXPECT_EQ(Capture(tool, lines), expected);
    EXPECT_EQ(lines, Lines{"before exit"});
    std::string output;
    EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), expected);
    EXPECT_EQ(output, "before exit\n");
  }
  // A tool that dies is a failure, never a success.
  const auto crashing = Tool("crash\n");
  Lines lines;
  EXPECT_NE(Capture(crashing, lines), 0);
  std::string output;
  EXPECT_NE(WinExec32AndRedirectOutput(crashing, output), 0);
}

TEST_F(Runners, SplitLinesOnLfAndCrLfAndKeepALastLineWithoutEnd) {
  const auto tool = Tool("crlf a\nout b\nhex 630d640a\nout\nwrite e\n");
  Lines lines;
  EXPECT_EQ(Capture(tool, lines), 0);
  EXPECT_EQ(lines, (Lines{"a", "b", "c\rd", "", "e"}));

  // Without a callback the output keeps the tool's own line ends.
  std::string output = "stale";
  EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), 0);
  EXPECT_EQ(output, "a\r\nb\nc\rd\n\ne");
}

// "Cópias" as a Windows tool prints it in code page 1252, beside UTF-8 text and stray bytes.
TEST_F(Runners, ToolTextIsUtf8ElseTheAnsiCodePageOnWindowsElseReplaced) {
  const auto tool = Tool("hex 43f3706961730a\nhex 6ac3a1e282ac0a\nhex 41ff420a\nhex 80\n");
  const bool windows = tolvan::platform::kPathDelimiter == '\\';
  // Under Wine and on a Brazilian Windows the ANSI code page is 1252.
  const Lines expected = windows ? Lines{"C\xC3\xB3pias", "j\xC3\xA1\xE2\x82\xAC",
                                         "A\xC3\xBF"
                                         "B",
                                         "\xE2\x82\xAC"}
                                 : Lines{"C" + kReplacement + "pias", "j\xC3\xA1\xE2\x82\xAC",
                                         "A" + kReplacement + "B", kReplacement};
  Lines lines;
  EXPECT_EQ(Capture(tool, lines), 0);
  EXPECT_EQ(lines, expected);

  std::string output;
  EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), 0);
  EXPECT_EQ(output, expected[0] + "\n" + expected[1] + "\n" + expected[2] + "\n" + expected[3]);
}

// A tool writing a long stream with no line end (gbak's backup to stdout) is read in pieces and
// only the kept parts of its text stay in memory.
TEST_F(Runners, LongLinesArriveInPiecesAndTheOutputKeepsThemWhole) {
  const auto tool = Tool("fill 200000\nout\nout end\n");
  Lines lines;
  EXPECT_EQ(Capture(tool, lines), 0);
  const std::string piece(kMaxLineBytes, 'x');
  EXPECT_EQ(lines,
            (Lines{piece, piece, piece, std::string(200000 - 3 * kMaxLineBytes, 'x'), "end"}));
  std::string output;
  EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), 0);
  EXPECT_EQ(output, std::string(200000, 'x') + "\nend\n");
}

TEST_F(Runners, DeliverManyLinesAllInOrder) {
  const auto tool = Tool("lines 100000 L\n");
  Lines lines;
  lines.reserve(100000);
  EXPECT_EQ(Capture(tool, lines), 0);
  ASSERT_EQ(lines.size(), 100000u);
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i], "L" + std::to_string(i + 1)) << "line " << i;
  }
}

TEST_F(Runners, ArgumentsReachTheToolLiterallyWithNoShell) {
  const auto tool = Tool("argv\n");
  Lines lines;
  EXPECT_EQ(Capture(tool + " -b", lines, "a;b \"x|y\" $(id) `id` && > out.txt"), 0);
  const Lines expected = {"-b", "a;b", "x|y", "$(id)", "`id`", "&&", ">", "out.txt"};
  const auto calls = folder_.Calls("tool");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, expected);
  EXPECT_EQ(lines.size(), expected.size());
  EXPECT_FALSE(std::filesystem::exists("out.txt"));
  EXPECT_FALSE(std::filesystem::exists(U8(folder_.Path() + "out.txt")));

  // Empty parameters add nothing, not even an empty argument.
  lines.clear();
  EXPECT_EQ(Capture(tool, lines, ""), 0);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(folder_.Calls("tool").at(1).args.empty());
}

TEST_F(Runners, ToolRunsInTheGivenFolderOrTheCurrentOne) {
  const auto tool = Tool("");
  Lines lines;
  std::filesystem::create_directory(U8(folder_.Path() + "work"));
  EXPECT_EQ(Capture(tool, lines, "", folder_.Path() + "work"), 0);
  EXPECT_EQ(Capture(tool, lines, "", "."), 0);
  EXPECT_EQ(Capture(tool, lines, "", ""), 0);
  const auto calls = folder_.Calls("tool");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_TRUE(std::filesystem::equivalent(U8(calls[0].cwd), U8(folder_.Path() + "work")))
      << calls[0].cwd;
  EXPECT_TRUE(std::filesystem::equivalent(U8(calls[1].cwd), std::filesystem::current_path()));
  EXPECT_TRUE(std::filesystem::equivalent(U8(calls[2].cwd), std::filesystem::current_path()));
}

TEST_F(Runners, StandardInputIsAtItsEndAtOnce) {
  const auto tool = Tool("stdin\nout done\n");
  Lines lines;
  EXPECT_EQ(Capture(tool, lines), 0);
  EXPECT_EQ(lines, (Lines{"stdin:0", "done"}));
  std::string output;
  EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), 0);
  EXPECT_EQ(output, "stdin:0\ndone\n");
}

TEST_F(Runners, ToolsThatCannotStartGiveNotStartedAndNoOutput) {
  const auto tool = Tool("out should not run\n");
  std::filesystem::create_directory(U8(folder_.Path() + "folder"));
  GravarArquivo("not a program\n", folder_.Path() + "notes.txt", true);
  const std::vector<std::string> command_lines = {
      Quoted(folder_.Path() + "missing-tool"),
      "tolvan-no-such-tool-anywhere --version",
      "",
      "   \t ",
      Quoted(folder_.Path() + "notes.txt"),
      Quoted(folder_.Path() + "folder"),
  };
  for (const auto& command_line : command_lines) {
    int calls = 0;
    EXPECT_EQ(
        CaptureExecute(command_line, "", ".", [&calls](const std::string&, bool&) { ++calls; }),
        kResultadoNaoIniciado)
        << command_line;
    EXPECT_EQ(calls, 0) << command_line;
    std::string output = "stale";
    EXPECT_EQ(WinExec32AndRedirectOutput(command_line, output), kResultadoNaoIniciado)
        << command_line;
    EXPECT_EQ(output, "") << command_line;
  }

  // A working folder that is not there: the tool is not started at all.
  int calls = 0;
  EXPECT_EQ(CaptureExecute(tool, "", folder_.Path() + "no-such-folder",
                           [&calls](const std::string&, bool&) { ++calls; }),
            kResultadoNaoIniciado);
  EXPECT_EQ(CaptureExecute(tool, "", folder_.Path() + "notes.txt",
                           [&calls](const std::string&, bool&) { ++calls; }),
            kResultadoNaoIniciado);
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(folder_.Calls("tool").empty());
}

TEST_F(Runners, StopFromTheCallbackEndsTheTool) {
  const auto slow = Tool("out tick\nsleep 30000\nout never\n");
  Lines lines;
  const auto started = Clock::now();
  const int code = CaptureExecute(slow, "", ".", [&lines](const std::string& line, bool& stop) {
    lines.push_back(line);
    stop = true;
  });
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(15));
  EXPECT_NE(code, 0);
  EXPECT_EQ(lines, Lines{"tick"});

  // Lines already read past the stop are not handed on.
  const auto fast = Tool("lines 1000000 x\n");
  int count = 0;
  CaptureExecute(fast, "", ".", [&count](const std::string&, bool& stop) { stop = ++count == 10; });
  EXPECT_EQ(count, 10);
}

TEST_F(Runners, ACallbackThatThrowsEndsTheToolAndTheErrorGoesOn) {
  const auto tool = Tool("out tick\nsleep 30000\n");
  const auto started = Clock::now();
  try {
    CaptureExecute(tool, "", ".",
                   [](const std::string&, bool&) { throw std::runtime_error("frame gone"); });
    ADD_FAILURE() << "the exception was swallowed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "frame gone");
  }
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(15));
}

TEST_F(Runners, AnEmptyCallbackStillRunsTheTool) {
  const auto tool = Tool("out ignored\nexit 7\n");
  EXPECT_EQ(CaptureExecute(tool, "", ".", TCaptureLineCallback()), 7);
}

// An interrupt recorded by another thread after a delay, as the host's signal handler would.
class LateInterrupt {
 public:
  explicit LateInterrupt(int signal_number)
      : thread_([signal_number] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          tolvan::platform::RequestInterrupt(signal_number);
        }) {}
  ~LateInterrupt() {
    thread_.join();
    tolvan::platform::ClearInterrupt();
  }
  LateInterrupt(const LateInterrupt&) = delete;
  LateInterrupt& operator=(const LateInterrupt&) = delete;

 private:
  std::thread thread_;
};

TEST_F(Runners, AnInterruptEndsTheToolAndReturnsAFailure) {
  // Silent, chatty, and deaf to the polite request: each ends soon after the interrupt.
  const std::vector<std::string> scripts = {"out tick\nsleep 30000\nout never\n",
                                            "lines 100000000 x\n",
                                            "ignore-term\nout tick\nsleep 30000\n"};
  for (const auto& script : scripts) {
    const auto tool = Tool(script);
    for (const bool capture : {true, false}) {
      const auto started = Clock::now();
      int code;
      {
        LateInterrupt interrupt(15);
        if (capture) {
          Lines lines;
          code = Capture(tool, lines);
        } else {
          std::string output;
          code = WinExec32AndRedirectOutput(tool, output);
        }
      }
      const auto took = Clock::now() - started;
      EXPECT_NE(code, 0) << script;
      EXPECT_NE(code, kResultadoNaoIniciado) << script;
      EXPECT_LT(took, std::chrono::seconds(8)) << script << " capture=" << capture;
    }
  }
}

TEST_F(Runners, AnInterruptBeforeTheStartStartsNothing) {
  const auto tool = Tool("out should not run\n");
  tolvan::platform::RequestInterrupt(2);
  Lines lines;
  std::string output = "stale";
  const int captured = Capture(tool, lines);
  const int redirected = WinExec32AndRedirectOutput(tool, output);
  tolvan::platform::ClearInterrupt();
  EXPECT_EQ(captured, kResultadoNaoIniciado);
  EXPECT_EQ(redirected, kResultadoNaoIniciado);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(output, "");
  EXPECT_TRUE(folder_.Calls("tool").empty());
}

}  // namespace
