#include "fake_tool/FakeTool.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace tolvan::testing {
namespace {

namespace fs = std::filesystem;

std::string Unescape(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      plain += text[i];
    }
  }
  return plain;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream file(Utf8Path(path), std::ios::binary | std::ios::trunc);
  file << contents;
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace

FakeToolFolder::FakeToolFolder() {
  std::random_device random;
  // An operator's install folder has blanks and accents ("C:\Program Files\..."): the Windows
  // lane puts every application folder under such a base.
  std::string base = platform::GetEnv(kAppBaseVariable).value_or("");
  if (base.empty()) {
    base = platform::TemporaryDirectory();
  } else {
    fs::create_directories(Utf8Path(base));
    if (base.back() != '/' && base.back() != platform::kPathDelimiter) {
      base += platform::kPathDelimiter;
    }
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = base + "tolvan-app-" + std::to_string(random());
    if (fs::create_directory(Utf8Path(candidate))) {
      path_ = candidate + platform::kPathDelimiter;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder in " + base);
}

FakeToolFolder::~FakeToolFolder() {
  std::error_code ignored;
  fs::remove_all(Utf8Path(path_), ignored);
}

std::string FakeToolFolder::BuiltTool() {
  std::string real = platform::RealExecutablePath();
  std::string folder = real.substr(0, real.find_last_of("/\\") + 1);
  return folder + "tolvan_fake_tool" + platform::kExecutableSuffix;
}

std::string FakeToolFolder::ToolPath(const std::string& name) const {
  return path_ + name + platform::kExecutableSuffix;
}

std::string FakeToolFolder::Install(const std::string& name, const std::string& script) {
  const std::string target = ToolPath(name);
  platform::CopyFileOverwriting(BuiltTool(), target);
  fs::permissions(Utf8Path(target), fs::perms::owner_all, fs::perm_options::add);
  SetScript(name, script);
  return target;
}

void FakeToolFolder::SetScript(const std::string& name, const std::string& script) const {
  WriteFile(ToolPath(name) + ".script", script);
}

std::vector<FakeToolCall> FakeToolFolder::Calls(const std::string& name) const {
  return ReadFakeToolCalls(ToolPath(name) + ".calls");
}

std::vector<FakeToolCall> ReadFakeToolCalls(const std::string& record_path) {
  std::vector<FakeToolCall> calls;
  std::ifstream file(Utf8Path(record_path), std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (line == "call") {
      calls.emplace_back();
    } else if (calls.empty() || line == "end") {
      continue;
    } else if (line.rfind("arg ", 0) == 0) {
      calls.back().args.push_back(Unescape(line.substr(4)));
    } else if (line.rfind("cwd ", 0) == 0) {
      calls.back().cwd = Unescape(line.substr(4));
    } else if (line.rfind("env ", 0) == 0) {
      std::string entry = line.substr(4);
      std::size_t equals = entry.find('=');
      std::size_t blank = entry.find(' ');
      if (equals != std::string::npos && (blank == std::string::npos || equals < blank)) {
        calls.back().env[entry.substr(0, equals)] = Unescape(entry.substr(equals + 1));
      } else {
        calls.back().env[entry.substr(0, blank)] = std::nullopt;
      }
    }
  }
  return calls;
}

}  // namespace tolvan::testing
