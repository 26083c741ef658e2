// What a run holds in memory while a tool writes a large stream with no line end.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>

#include "fake_tool/FakeTool.h"
#include "tolvan/support/KeptLines.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace {

constexpr long long kStreamBytes = 200LL * 1024 * 1024;
constexpr long kBoundKiB = 64 * 1024;

// The process's peak resident size in KiB since the last reset (Linux's VmHWM).
std::optional<long> PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmHWM:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return std::nullopt;
}

// Starts a new peak from the present resident size.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

TEST(RunnersMemory, AStreamWithoutLineEndsKeepsMemoryBounded) {
  if (!ResetPeak() || !PeakKiB()) {
    GTEST_SKIP() << "the peak memory of a process cannot be read here";
  }
  tolvan::testing::FakeToolFolder folder;
  const std::string tool =
      "\"" +
      folder.Install("tool", "fill " + std::to_string(kStreamBytes) + "\nout\nout last line\n") +
      "\"";
  const long start = *PeakKiB();

  TVeskFraProgresso frame;
  frame.SetCaptureGuardar(true);
  long long bytes = 0;
  std::size_t longest = 0;
  EXPECT_EQ(CaptureExecute(tool, "", ".",
                           [&](const std::string& line, bool& stop) {
                             bytes += static_cast<long long>(line.size());
                             longest = std::max(longest, line.size());
                             frame.DoCaptureLine(line, stop);
                           }),
            0);
  EXPECT_EQ(bytes, kStreamBytes + 9);
  EXPECT_LE(longest, kMaxLineBytes);
  const std::string captured = frame.GetCaptureText();
  EXPECT_LE(captured.size(), 2 * tolvan::support::KeptLines::kLimit + 1024);
  EXPECT_EQ(captured.substr(0, 3), "xxx");
  EXPECT_NE(captured.find("linhas omitidas"), std::string::npos);
  EXPECT_EQ(captured.substr(captured.size() - 11), "\r\nlast line");

  std::string output;
  EXPECT_EQ(WinExec32AndRedirectOutput(tool, output), 0);
  EXPECT_LE(output.size(), 2 * tolvan::support::KeptLines::kLimit + 1024);
  EXPECT_EQ(output.substr(output.size() - 11), "\nlast line\n");

  const long grown = *PeakKiB() - start;
  EXPECT_LT(grown, kBoundKiB) << "the peak grew by " << grown << " KiB";
  RecordProperty("peak_growth_kib", std::to_string(grown));
}

}  // namespace
