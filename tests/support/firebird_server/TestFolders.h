// What a test of the Firebird plug-in makes for itself: an application folder that the program's
// path points into, and files in a server's data folder. Both are gone after the test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "ci/TempDir.h"
#include "platform/Machine.h"
#include "platform/Paths.h"

namespace tolvan::test {

// <temporary folder>/<prefix>-<pid>-<test name>, made afresh with an empty bin/; while it lives the
// program runs from bin/ (ExecutablePath() is bin/tolvan). Removed with all it holds.
class TestAppFolder {
 public:
  explicit TestAppFolder(const std::string& prefix)
      : root_(prefix + "-" + std::to_string(platform::CurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name()),
        app_((root_.path() / "bin" / "tolvan").string()) {
    std::filesystem::create_directories(root_.path() / "bin");
  }

  const std::filesystem::path& Root() const { return root_.path(); }

 private:
  TempDir root_;
  platform::ScopedExecutablePathOverride app_;
};

// Files of a server's data folder that a test makes, <data>/<prefix>_<pid>_<name>: none is there
// when the test takes its name, and all are removed when this goes.
class ServerFiles {
 public:
  explicit ServerFiles(std::string prefix) : prefix_(std::move(prefix)) {}
  ~ServerFiles() {
    std::error_code ignored;
    for (const auto& path : paths_) {
      std::filesystem::remove(path, ignored);
    }
  }
  ServerFiles(const ServerFiles&) = delete;
  ServerFiles& operator=(const ServerFiles&) = delete;

  // The path of name in the data folder, removed now and after the test.
  std::string Take(const std::string& data, const std::string& name) {
    const std::string path =
        data + "/" + prefix_ + "_" + std::to_string(platform::CurrentProcessId()) + "_" + name;
    std::filesystem::remove(path);
    paths_.push_back(path);
    return path;
  }
  // A file the test's run makes beside the others, removed after the test.
  void Add(const std::string& path) { paths_.push_back(path); }

 private:
  std::string prefix_;
  std::vector<std::string> paths_;
};

}  // namespace tolvan::test
