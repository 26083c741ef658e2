#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>

#include "Console.h"
#include "platform/Interrupt.h"

namespace tolvan::cli {

void PrepareConsole() {}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

namespace {

constexpr int kInputPollMs = 100;

}  // namespace

std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) {
    return 0;
  }
  return size.ws_col;
}

std::size_t OutputColumns() {
  winsize size{};
  // Output piped on (tolvan help | head) is read on the terminal of stderr.
  if ((ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) &&
      (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2)) {
    return 80;
  }
  // Short of the last column, as every line tolvan prints on a terminal.
  return size.ws_col - 1U;
}

std::optional<std::string> ReadInputLine() {
  // Waits in short steps rather than in one blocking read: an interrupt that comes just before
  // the read would otherwise leave it waiting for a line nobody types.
  while (std::cin.rdbuf()->in_avail() <= 0) {
    if (tolvan::platform::InterruptSignal() != 0) {
      return std::nullopt;
    }
    pollfd entry{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&entry, 1, kInputPollMs);
    if (ready > 0 || (ready < 0 && errno != EINTR)) {
      break;
    }
  }
  return ReadLineWithoutEnd(std::cin);
}

namespace {

// What an interrupted prompt must put back: the terminal is left echoing even when the operator
// presses Ctrl-C at the password prompt.
termios g_saved_terminal{};
volatile std::sig_atomic_t g_echo_off = 0;

// Ends tolvan as an interrupted run ends it (status 128 + the signal), with the terminal echoing
// again; nothing has started yet, so there is nothing to clean up.
extern "C" void RestoreTerminalAndExit(int signal_number) {
  if (g_echo_off != 0) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  }
  constexpr char kMessage[] = "\nInterrompido antes de ler a senha.\n";
  const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  static_cast<void>(written);
  _exit(128 + signal_number);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};

// Turns echo off for its lifetime and puts the terminal back however the read ends.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) {
      return;
    }
    struct sigaction action {};
    action.sa_handler = RestoreTerminalAndExit;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      sigaction(kStopSignals[i], &action, &previous_[i]);
    }
    termios quiet = g_saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    g_echo_off = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0 ? 1 : 0;
    installed_ = true;
  }
  ~EchoOff() {
    if (!installed_) {
      return;
    }
    if (g_echo_off != 0) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_terminal);
      g_echo_off = 0;
    }
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      sigaction(kStopSignals[i], &previous_[i], nullptr);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  struct sigaction previous_[std::size(kStopSignals)]{};
  bool installed_ = false;
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
