// The live status of tolvan's frame while a tool runs silently.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "ConsoleFrame.h"

namespace {

TEST(ConsoleSpinner, TurnsWhileTheToolIsSilentAndStopsWithTheRun) {
  std::ostringstream out;
  tolvan::cli::ConsoleFrame frame(out, true);
  frame.SetEhCircularParcial(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  bool stop = false;
  frame.DoCaptureLine("gbak: writing data for table CLIENTES", stop);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  frame.SetEhCircularParcial(false);
  const std::string during = out.str();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(out.str(), during) << "nothing is drawn once the run is over";
  frame.Finish();

  std::set<char> spinner;
  std::size_t redraws = 0;
  for (std::size_t at = during.find("\r\x1b[K"); at != std::string::npos;
       at = during.find("\r\x1b[K", at + 1)) {
    ++redraws;
    spinner.insert(during[at + 4]);
  }
  EXPECT_GE(redraws, 4u);
  EXPECT_GE(spinner.size(), 3u) << during;
  EXPECT_NE(during.rfind("gbak: writing data for table CLIENTES"), std::string::npos);
  EXPECT_EQ(out.str().substr(out.str().size() - 4), "\r\x1b[K") << "the status is cleared";
}

}  // namespace
