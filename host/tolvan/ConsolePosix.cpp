#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "Console.h"

namespace tolvan::cli {

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

std::optional<std::string> ReadInputLine() {
  std::string line;
  if (!std::getline(std::cin, line)) {
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

namespace {

// Turns echo off for its lifetime and puts the terminal back however the read ends.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &saved_) == 0) {
      termios quiet = saved_;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
  }
  ~EchoOff() {
    if (active_) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

}  // namespace

std::string ReadSecret(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  std::optional<std::string> line;
  {
    EchoOff echo_off;
    line = ReadInputLine();
  }
  std::cerr << "\n";
  return line.value_or("");
}

}  // namespace tolvan::cli
