// CaptureExecute against a plain pipe-reading loop over the same tool printing 1,000,000 lines.
// Prints the throughput ratio (goal: at least 0.9) and the time from launch to the first line.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "vesk/VeskPackBase5.h"

extern char** environ;

namespace {

constexpr long kLines = 1'000'000;
using Clock = std::chrono::steady_clock;

// The fake tool copied into a folder of its own with a script that prints kLines lines.
class Tool {
 public:
  Tool() {
    dir_ = std::filesystem::temp_directory_path() / ("tolvan-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "tool").string();
    std::filesystem::copy_file(TOLVAN_FAKE_TOOL, path_,
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(path_ + ".script") << "lines " << kLines << " line\n";
  }
  ~Tool() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

const Tool& TheTool() {
  static const Tool tool;
  return tool;
}

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// One run of each reader: the wall-clock time of the whole run and of launch to first line.
struct RunTimes {
  bool ok = false;
  double total_us = 0;
  double first_line_us = 0;
};

RunTimes RunCaptureExecute() {
  static const std::string command_line = "\"" + TheTool().path() + "\"";
  long count = 0;
  Clock::time_point first{};
  const auto start = Clock::now();
  const int code = CaptureExecute(command_line, "", ".", [&](const std::string&, bool&) {
    if (count++ == 0) {
      first = Clock::now();
    }
  });
  const auto end = Clock::now();
  return {code == 0 && count == kLines, Micros(end - start), Micros(first - start)};
}

// The baseline: spawn, one pipe for stdout and stderr, read big chunks, count the newlines.
RunTimes RunPlainPipe() {
  const std::string& path = TheTool().path();
  const auto start = Clock::now();
  int ends[2];
  if (::pipe(ends) != 0) {
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  posix_spawn_file_actions_addclose(&actions, ends[1]);
  std::vector<char*> argv = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (spawned != 0) {
    ::close(ends[0]);
    return {};
  }
  static char buffer[64 * 1024];
  long count = 0;
  RunTimes times;
  for (;;) {
    const ssize_t n = ::read(ends[0], buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    if (count == 0) {
      times.first_line_us = Micros(Clock::now() - start);
    }
    count += std::count(buffer, buffer + n, '\n');
  }
  ::close(ends[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  times.total_us = Micros(Clock::now() - start);
  times.ok = count == kLines && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return times;
}

template <RunTimes (*Run)()>
void BM_Reader(benchmark::State& state) {
  double first_line_us = 0;
  for (auto _ : state) {
    const RunTimes times = Run();
    if (!times.ok) {
      state.SkipWithError("the tool did not deliver every line");
      return;
    }
    first_line_us += times.first_line_us;
  }
  state.SetItemsProcessed(state.iterations() * kLines);
  state.counters["first_line_us"] =
      benchmark::Counter(first_line_us, benchmark::Counter::kAvgIterations);
}

// Both readers in turn within one benchmark, so a change of load on the machine weighs on both
// alike; "ratio" is the plain loop's time over CaptureExecute's (throughput of CaptureExecute
// over that of the plain loop).
void BM_Interleaved(benchmark::State& state) {
  double capture_us = 0;
  double plain_us = 0;
  for (auto _ : state) {
    const RunTimes plain = RunPlainPipe();
    const RunTimes capture = RunCaptureExecute();
    if (!plain.ok || !capture.ok) {
      state.SkipWithError("the tool did not deliver every line");
      return;
    }
    plain_us += plain.total_us;
    capture_us += capture.total_us;
  }
  state.counters["ratio"] = plain_us / capture_us;
}

// The tool's processes run beside the reader: wall-clock time is what counts.
BENCHMARK(BM_Reader<RunPlainPipe>)
    ->Name("BM_PlainPipe")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK(BM_Reader<RunCaptureExecute>)
    ->Name("BM_CaptureExecute")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK(BM_Interleaved)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(4);

// Keeps the lines-per-second and first-line figures of each benchmark for the final summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred) {
        continue;
      }
      const auto rate = run.counters.find("items_per_second");
      const auto first = run.counters.find("first_line_us");
      const auto ratio = run.counters.find("ratio");
      if (ratio != run.counters.end()) {
        interleaved_ratio_ = ratio->second.value;
      }
      if (rate != run.counters.end()) {
        rates_[run.run_name.function_name] = rate->second.value;
      }
      if (first != run.counters.end()) {
        first_us_[run.run_name.function_name] = first->second.value;
      }
    }
  }

  int PrintSummary() const {
    const auto capture = rates_.find("BM_CaptureExecute");
    const auto plain = rates_.find("BM_PlainPipe");
    if (capture == rates_.end() || plain == rates_.end() || plain->second <= 0) {
      std::fprintf(stderr, "no result to compare\n");
      return 1;
    }
    std::printf(
        "throughput ratio CaptureExecute/plain: %.3f interleaved, %.3f from the separate "
        "runs (goal >= 0.9)\n",
        interleaved_ratio_, capture->second / plain->second);
    std::printf("first line after launch: CaptureExecute %.0f us, plain %.0f us\n",
                Value(first_us_, "BM_CaptureExecute"), Value(first_us_, "BM_PlainPipe"));
    return 0;
  }

 private:
  static double Value(const std::map<std::string, double>& values, const std::string& key) {
    const auto it = values.find(key);
    return it == values.end() ? 0 : it->second;
  }

  std::map<std::string, double> rates_;
  std::map<std::string, double> first_us_;
  double interleaved_ratio_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.PrintSummary();
}
