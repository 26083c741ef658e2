// The fake tool: records how it was called, then runs the script beside it (see FakeTool.h).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace {

using tolvan::platform::GetEnv;

struct Directive {
  std::string verb;
  std::string text;  // everything after the first blank
};

// Paths are UTF-8 here; Windows would read a narrow path in the ANSI code page.
std::filesystem::path FromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::vector<Directive> ReadScript(const std::string& path) {
  std::vector<Directive> script;
  std::ifstream file(FromUtf8(path), std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty()) {
      continue;
    }
    std::size_t blank = line.find(' ');
    if (blank == std::string::npos) {
      script.push_back({line, ""});
    } else {
      script.push_back({line.substr(0, blank), line.substr(blank + 1)});
    }
  }
  return script;
}

std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string CurrentDirectory() {
  std::u8string path = std::filesystem::current_path().u8string();
  return std::string(path.begin(), path.end());
}

void Record(const std::string& path, const std::vector<std::string>& arguments,
            const std::vector<Directive>& script) {
  std::string record = "call\n";
  for (const auto& argument : arguments) {
    record += "arg " + Escape(argument) + "\n";
  }
  record += "cwd " + Escape(CurrentDirectory()) + "\n";
  for (const auto& directive : script) {
    if (directive.verb == "record-env") {
      auto value = GetEnv(directive.text);
      record += "env " + Escape(directive.text) +
                (value ? "=" + Escape(*value) : std::string(" unset")) + "\n";
    }
  }
  record += "end\n";
  std::ofstream file(FromUtf8(path), std::ios::binary | std::ios::app);
  file << record;
}

void Write(std::FILE* stream, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

std::string ToHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

void WriteLines(const std::string& text) {
  std::size_t blank = text.find(' ');
  long count = std::stol(text.substr(0, blank));
  std::string prefix = blank == std::string::npos ? "" : text.substr(blank + 1);
  std::string chunk;
  chunk.reserve(1 << 16);
  for (long i = 1; i <= count; ++i) {
    chunk += prefix;
    chunk += std::to_string(i);
    chunk += '\n';
    if (chunk.size() >= (1 << 16) - 256) {
      std::fwrite(chunk.data(), 1, chunk.size(), stdout);
      chunk.clear();
    }
  }
  Write(stdout, chunk);
}

// N bytes "x" and no line end, written as they are produced.
void WriteFill(long long count) {
  const std::string chunk(1 << 16, 'x');
  while (count > 0) {
    const auto size = static_cast<std::size_t>(std::min<long long>(count, 1 << 16));
    std::fwrite(chunk.data(), 1, size, stdout);
    count -= static_cast<long long>(size);
  }
  std::fflush(stdout);
}

std::size_t CountStandardInput() {
  std::size_t total = 0;
  char buffer[4096];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    total += count;
  }
  return total;
}

void CopyProduct(const std::string& source, const std::string& target) {
  // Through the streams: MinGW's copy_file refuses to overwrite even when told to.
  std::ifstream in(FromUtf8(source), std::ios::binary);
  std::ofstream out(FromUtf8(target), std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  if (!in || !out) {
    throw std::runtime_error("fake tool: cannot copy " + source + " to " + target);
  }
}

// "OPTION SOURCE": the file SOURCE copied to the argument that follows OPTION (pg_dump's -f),
// as a tool writes its product; nothing when the call has no such option.
void CopyToOption(const std::string& text, const std::vector<std::string>& arguments) {
  const std::size_t blank = text.find(' ');
  const std::string option = text.substr(0, blank);
  const std::string source = blank == std::string::npos ? "" : text.substr(blank + 1);
  const auto at = std::find(arguments.begin(), arguments.end(), option);
  if (at == arguments.end() || at + 1 == arguments.end()) {
    return;
  }
  const std::string target = *(at + 1);
  CopyProduct(source, target);
}

// "SOURCE": the file SOURCE copied to the temporary product name the tool was given (the first
// argument holding ".~", less a leading "FILE="), as gbak and EXP write their product; nothing
// when the call names none.
void CopyToProduct(const std::string& source, const std::vector<std::string>& arguments) {
  const auto at = std::find_if(arguments.begin(), arguments.end(), [](const std::string& a) {
    return a.find(".~") != std::string::npos;
  });
  if (at == arguments.end()) {
    return;
  }
  const std::string prefix = "FILE=";
  CopyProduct(source, at->rfind(prefix, 0) == 0 ? at->substr(prefix.size()) : *at);
}

// "NAME": the file NAME in a folder of its own under the temporary folder (where a runner puts
// its command file for the run alone) copied beside the tool, so that a test can read it after
// the runner removed its folder; nothing when there is none.
void KeepCommandFile(const std::string& name, const std::string& self) {
  std::error_code error;
  const std::filesystem::path temp = FromUtf8(tolvan::platform::TemporaryDirectory());
  for (std::filesystem::directory_iterator it(temp, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::path file = it->path() / FromUtf8(name);
    std::error_code ignored;
    if (std::filesystem::is_regular_file(file, ignored)) {
      const std::u8string source = file.u8string();
      const std::u8string target = (FromUtf8(self).parent_path() / FromUtf8(name)).u8string();
      CopyProduct({source.begin(), source.end()}, {target.begin(), target.end()});
      return;
    }
  }
}

int Run(int argc, char** argv) {
  tolvan::platform::UseBinaryStandardStreams();
  const std::vector<std::string> arguments = tolvan::platform::ProgramArguments(argc, argv);
  const std::string self = tolvan::platform::ExecutablePath();
  const std::string script_path = GetEnv("TOLVAN_FAKE_SCRIPT").value_or(self + ".script");
  const std::string record_path = GetEnv("TOLVAN_FAKE_RECORD").value_or(self + ".calls");

  const std::vector<Directive> script = ReadScript(script_path);
  Record(record_path, arguments, script);

  for (const auto& [verb, text] : script) {
    if (verb == "out") {
      Write(stdout, text + "\n");
    } else if (verb == "err") {
      Write(stderr, text + "\n");
    } else if (verb == "crlf") {
      Write(stdout, text + "\r\n");
    } else if (verb == "write") {
      Write(stdout, text);
    } else if (verb == "hex") {
      Write(stdout, FromHex(text));
    } else if (verb == "lines") {
      WriteLines(text);
    } else if (verb == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(text)));
    } else if (verb == "stdin") {
      Write(stdout, "stdin:" + std::to_string(CountStandardInput()) + "\n");
    } else if (verb == "env") {
      auto value = GetEnv(text);
      Write(stdout, "env:" + text + (value ? "=" + *value : std::string(" unset")) + "\n");
    } else if (verb == "argv") {
      for (const auto& argument : arguments) {
        Write(stdout, "arg:" + argument + "\n");
      }
    } else if (verb == "crt-argv") {
      // main's argv as the C runtime split the command line, then the arguments as the
      // platform's own splitter read the same line; hex, so that any byte shows.
      for (int i = 1; i < argc; ++i) {
        Write(stdout, "crt:" + ToHex(argv[i]) + "\n");
      }
      for (const auto& argument : arguments) {
        Write(stdout, "ours:" + ToHex(argument) + "\n");
      }
    } else if (verb == "exit") {
      std::fflush(nullptr);
      std::exit(std::stoi(text));
    } else if (verb == "fill") {
      WriteFill(std::stoll(text));
    } else if (verb == "fd") {
      // Linux only: whether the descriptor is open in the tool.
      const bool open = std::filesystem::exists("/proc/self/fd/" + text);
      Write(stdout, "fd:" + text + (open ? " open\n" : " closed\n"));
    } else if (verb == "copy-to-option") {
      CopyToOption(text, arguments);
    } else if (verb == "keep-command-file") {
      KeepCommandFile(text, self);
    } else if (verb == "product") {
      CopyToProduct(text, arguments);
    } else if (verb == "ignore-term") {
      std::signal(SIGTERM, SIG_IGN);
    } else if (verb == "crash") {
      std::fflush(nullptr);
      std::abort();
    } else if (verb != "record-env") {
      // A mistyped script must not pass for a tool that printed nothing.
      Write(stderr, "fake tool: unknown directive \"" + verb + "\"\n");
      return 99;
    }
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    Write(stderr, std::string("fake tool: bad script: ") + error.what() + "\n");
    return 99;
  }
}
