// A fresh folder under the system's temporary folder, removed with everything in it; the text
// helpers of the tests that use it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace tolvan::test {

// A path from UTF-8 text, whatever the system's narrow code page is.
inline std::filesystem::path U8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// The whole content of a file named in UTF-8; empty when it cannot be read.
inline std::string ReadAll(const std::string& file) {
  std::ifstream in(U8(file), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    // Test programs run side by side: the random part keeps their folders apart.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tolvan-toolkit-" + std::to_string(stamp) + "-" +
             std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  // The folder of that name under the system's temporary folder, made afresh.
  explicit TempDir(const std::string& name) : path_(std::filesystem::temp_directory_path() / name) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // A path inside the folder as UTF-8 text, the form the toolkit takes (name is UTF-8 too).
  std::string File(const std::string& name) const {
    const auto text = (path_ / std::u8string(name.begin(), name.end())).u8string();
    return std::string(text.begin(), text.end());
  }

 private:
  std::filesystem::path path_;
};

}  // namespace tolvan::test
