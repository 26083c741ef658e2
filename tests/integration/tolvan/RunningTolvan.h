// A tolvan (or another program) run as a process for the tests: its output read as it comes,
// through pipes or one pseudo-terminal, its status when it ends.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Paths.h"

extern char** environ;

namespace tolvan_test {

struct Outcome {
  int status = -1;
  pid_t pid = -1;
  std::string out;
  std::string err;  // on a terminal: everything the terminal got
};

// A running tolvan: its output read as it comes, through pipes or one pseudo-terminal.
class Tolvan {
 public:
  struct Start {
    std::vector<std::string> args;
    std::vector<std::string> env;  // NAME=VALUE added to this process's environment
    std::optional<unsigned short> terminal_columns;
    bool own_process_group = false;
    // Only `env` (and the sanitizers' options), as `env -i` would start it.
    bool clean_environment = false;
    // The program; tolvan beside this test when empty.
    std::string program = {};
  };

  explicit Tolvan(const Start& start) {
    std::vector<std::string> argv_text = {
        start.program.empty() ? tolvan::platform::ExecutableDirectory() + "tolvan" : start.program};
    argv_text.insert(argv_text.end(), start.args.begin(), start.args.end());
    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry(*e);
      if (!start.clean_environment || entry.starts_with("ASAN_OPTIONS=") ||
          entry.starts_with("LSAN_OPTIONS=") || entry.starts_with("UBSAN_OPTIONS=")) {
        env_text.push_back(entry);
      }
    }
    env_text.insert(env_text.end(), start.env.begin(), start.env.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env_text) {
      envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    if (start.terminal_columns) {
      winsize size{};
      size.ws_row = 24;
      size.ws_col = *start.terminal_columns;
      pid_ = forkpty(&err_fd_, nullptr, nullptr, &size);
      if (pid_ == 0) {
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
      }
      return;
    }
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      if (start.own_process_group) {
        setpgid(0, 0);
      }
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      dup2(out_pipe[1], 1);
      dup2(err_pipe[1], 2);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
  }

  ~Tolvan() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (const int fd : {out_fd_, err_fd_}) {
      if (fd >= 0) {
        close(fd);
      }
    }
  }
  Tolvan(const Tolvan&) = delete;
  Tolvan& operator=(const Tolvan&) = delete;

  pid_t pid() const { return pid_; }

  // Gives the pseudo-terminal a new width; the kernel tells tolvan with SIGWINCH.
  void Resize(unsigned short columns) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    ioctl(err_fd_, TIOCSWINSZ, &size);
  }

  // Reads until what came on stderr (or the terminal) satisfies `done`; false when the output
  // ended or the time ran out first.
  bool ReadUntil(const std::function<bool(const std::string&)>& done,
                 std::chrono::seconds timeout = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(outcome_.err)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) {
        return done(outcome_.err);
      }
    }
    return true;
  }
  // Reads until the error output holds text.
  bool ReadUntil(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    return ReadUntil(
        [&text](const std::string& err) { return err.find(text) != std::string::npos; }, timeout);
  }

  // Reads to the end and reaps tolvan; one that still runs after two minutes is killed and
  // reported with status -1.
  Outcome Finish() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    int raw = 0;
    pid_t reaped = 0;
    while ((reaped = waitpid(pid_, &raw, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      if (!ReadSome(100)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (reaped == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &raw, 0);
      raw = -1;
    }
    while (ReadSome(0)) {
    }
    reaped_ = true;
    outcome_.pid = pid_;
    outcome_.status = raw == -1 ? -1 : WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
    return outcome_;
  }

  // One read from whichever stream has something within the time; false once both have ended
  // (or nothing came).
  bool ReadSome(int timeout_ms) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if ((out_fd_ < 0 && err_fd_ < 0) || poll(fds, 2, timeout_ms) <= 0) {
      return false;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) {
        continue;
      }
      char buffer[65536];
      const ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
      if (count <= 0) {
        // A pseudo-terminal reports its end with EIO once the child has closed it.
        close(fds[i].fd);
        (i == 0 ? out_fd_ : err_fd_) = -1;
      } else {
        (i == 0 ? outcome_.out : outcome_.err).append(buffer, static_cast<std::size_t>(count));
      }
    }
    return true;
  }

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  bool reaped_ = false;
  Outcome outcome_;
};

inline Outcome RunTolvan(std::vector<std::string> args, std::vector<std::string> env = {}) {
  Tolvan tolvan(Tolvan::Start{std::move(args), std::move(env), std::nullopt, false});
  return tolvan.Finish();
}

// What a terminal shows, redraw by redraw: the texts between line starts.
inline std::vector<std::string> TerminalPieces(const std::string& text) {
  std::vector<std::string> pieces;
  const std::regex starts("\r\x1b\\[K|\r\n|\r");
  for (std::sregex_token_iterator it(text.begin(), text.end(), starts, -1), end; it != end; ++it) {
    pieces.push_back(*it);
  }
  return pieces;
}

inline std::string LastLine(const std::string& text) {
  const std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
  return trimmed.substr(trimmed.rfind('\n') + 1);
}

// A process that `parent` started, as /proc shows it.
struct ChildProcess {
  pid_t pid = 0;
  std::string comm;                    // the program's short name
  std::vector<std::string> arguments;  // its command line, program first
};

inline std::vector<ChildProcess> ChildrenOf(pid_t parent) {
  std::vector<ChildProcess> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...
    const auto open_paren = line.find('(');
    const auto close_paren = line.rfind(')');
    if (open_paren == std::string::npos || close_paren == std::string::npos) {
      continue;
    }
    std::istringstream rest(line.substr(close_paren + 2));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid != parent) {
      continue;
    }
    ChildProcess child{static_cast<pid_t>(std::stoi(name)),
                       line.substr(open_paren + 1, close_paren - open_paren - 1),
                       {}};
    std::ifstream cmdline(entry.path() / "cmdline");
    for (std::string argument; std::getline(cmdline, argument, '\0');) {
      child.arguments.push_back(argument);
    }
    children.push_back(std::move(child));
  }
  return children;
}

// A child of pid whose command line names `program` and holds `word` as one of its arguments (the
// tool of a verification run).
inline bool DescendantRuns(pid_t pid, const std::string& program, const std::string& word) {
  for (const ChildProcess& child : ChildrenOf(pid)) {
    bool names_program = false;
    bool holds_word = false;
    // A whole argument: the backup's own file name may hold the word ("~verificar-c3…").
    for (const std::string& argument : child.arguments) {
      names_program = names_program || argument.find(program) != std::string::npos;
      holds_word = holds_word || argument == word;
    }
    if (names_program && holds_word) {
      return true;
    }
  }
  return false;
}

// Runs a program (args.front()) with stdin on /dev/null, reading its two streams to their end.
// `watch` is called with the child's pid while it runs, until it returns true. With `columns`,
// its stderr and stdout are a pseudo-terminal of that width, read as err.
inline Outcome RunWatching(const std::vector<std::string>& args,
                           const std::vector<std::string>& env,
                           const std::function<bool(pid_t)>& watch = {},
                           std::optional<unsigned short> columns = std::nullopt) {
  Tolvan run(
      Tolvan::Start{{args.begin() + 1, args.end()}, env, columns, false, false, args.front()});
  if (watch) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (!watch(run.pid()) && std::chrono::steady_clock::now() < deadline) {
      if (!run.ReadSome(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  }
  return run.Finish();
}

// True when every one of names stands in the test program's folder (scripts/layout-appdir puts
// tolvan, its plug-ins and the tools there).
inline bool BesideTest(std::initializer_list<const char*> names) {
  const std::string bin = tolvan::platform::ExecutableDirectory();
  for (const char* name : names) {
    if (!std::filesystem::exists(bin + name)) {
      return false;
    }
  }
  return true;
}

// A folder of the test's own under the system's temporary folder, name-<pid>, made afresh with the
// given subfolders.
inline std::filesystem::path FreshFolder(const std::string& name,
                                         std::initializer_list<const char*> subfolders) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  for (const char* subfolder : subfolders) {
    fs::create_directories(dir / subfolder);
  }
  return dir;
}

// An application folder of its own for tolvan: tolvan copied from bin (it finds its plug-ins
// and tools beside itself), the PostgreSQL/ tools copied so that a test may replace them, the
// rest linked; an empty temp/.
inline void LayOutApplicationFolder(const std::string& bin, const std::filesystem::path& app) {
  namespace fs = std::filesystem;
  fs::create_directories(app / "temp");
  fs::create_directories(app / "PostgreSQL");
  for (const auto& entry : fs::directory_iterator(bin)) {
    const std::string name = entry.path().filename().string();
    if (name == "tolvan") {
      fs::copy_file(entry.path(), app / name);
    } else if (name == "PostgreSQL") {
      for (const auto& tool : fs::directory_iterator(entry.path())) {
        fs::copy_file(tool.path(), app / "PostgreSQL" / tool.path().filename());
      }
    } else if (name != "temp" && name.rfind("tolvan-", 0) != 0) {
      fs::create_symlink(entry.path(), app / name);
    }
  }
}

}  // namespace tolvan_test
