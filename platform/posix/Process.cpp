#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/EnvironmentOverlay.h"
#include "common/StartFailure.h"
#include "platform/Environment.h"

extern char** environ;

namespace tolvan::platform {

struct ChildProcess::Handles {
  pid_t pid = -1;
  int output = -1;  // read end of the child's stdout+stderr pipe
};

namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& context) {
  throw std::system_error(error, std::generic_category(), context);
}

// A parent that writes to a pipe whose reader is gone must get EPIPE, not die.
void IgnoreSigpipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      ::sigaction(SIGPIPE, &ignore, nullptr);
    }
  });
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// A program without '/' is looked up in PATH as the child's environment has it (the overlay
// included), as posix_spawnp would with the real one.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return program;
  }
  std::string path = GetEnv("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find(':', start);
    std::string folder = path.substr(start, end == std::string::npos ? end : end - start);
    std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
    if (IsExecutableFile(candidate)) {
      return candidate;
    }
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  ThrowErrno(ENOENT, internal::StartFailureContext(program, ""));
}

// The real environment with the overlay and the launch's own variables applied.
std::vector<std::string> ChildEnvironment(const LaunchOptions& options) {
  auto overlay = internal::ChildOverlay(options.extra_environment);
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text(*entry);
    std::string name = text.substr(0, text.find('='));
    if (overlay && overlay->count(internal::EnvironmentKey(name)) != 0) {
      continue;
    }
    entries.push_back(std::move(text));
  }
  if (overlay) {
    for (const auto& [key, entry] : *overlay) {
      if (entry.value) {
        entries.push_back(entry.name + "=" + *entry.value);
      }
    }
  }
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (auto& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_;
};

// Blocks every signal in the calling thread for its lifetime, so that no handler of the parent
// runs in the child between fork and exec.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous_);
  }
  ~SignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

struct ChildSetup {
  const char* program;
  char* const* argv;
  char* const* envp;
  const char* working_directory;  // nullptr keeps the parent's
  int input;                      // the null device
  int output;                     // write end of the output pipe
  int report;                     // write end of the pipe that carries a failure's errno
  pid_t parent;
};

// Tells the parent why the child could not become the program, and ends the child.
[[noreturn]] void ReportAndExit(int report, int error) {
  const ssize_t written = ::write(report, &error, sizeof error);
  static_cast<void>(written);
  ::_exit(127);
}

// The child's side of the launch, between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(const ChildSetup& setup) {
  // Default handling for every signal the parent catches (exec would reset them too, but only
  // after the steps below) and for an ignored SIGPIPE; nothing blocked once the program runs.
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    struct sigaction current {};
    if (::sigaction(signal_number, nullptr, &current) == 0 &&
        ((current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) ||
         signal_number == SIGPIPE)) {
      struct sigaction defaults {};
      defaults.sa_handler = SIG_DFL;
      sigemptyset(&defaults.sa_mask);
      ::sigaction(signal_number, &defaults, nullptr);
    }
  }
  const auto fail = [&setup](int error) { ReportAndExit(setup.report, error); };
  // A session of its own: no controlling terminal (a tool that would ask for a password on
  // /dev/tty fails at once instead of waiting), and a process group the parent ends as a whole.
  if (::setsid() < 0) {
    fail(errno);
  }
  // Killed when the thread that started it ends, however it ends (SIGKILL included). A parent
  // that died before this line would never send it: the child stops here instead.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
    fail(errno);
  }
  if (::getppid() != setup.parent) {
    ::_exit(127);
  }
  if (::dup2(setup.input, STDIN_FILENO) < 0 || ::dup2(setup.output, STDOUT_FILENO) < 0 ||
      ::dup2(setup.output, STDERR_FILENO) < 0) {
    fail(errno);
  }
  // Nothing else of the host reaches the tool: a descriptor opened without close-on-exec (by a
  // library, or by the host program) would otherwise stay open in it, and a pipe's write end held
  // there would keep that pipe's reader waiting. The report pipe closes at exec too.
  if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    fail(errno);
  }
  if (setup.working_directory != nullptr && ::chdir(setup.working_directory) != 0) {
    fail(errno);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(setup.program, setup.argv, setup.envp);
  ReportAndExit(setup.report, errno);
}

// A descriptor the child moves onto 0, 1 or 2 must not be one of them already: the program may
// have been started with a standard stream closed, and the next descriptor opened takes its
// number. Moved above them, close-on-exec kept.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) {
    return fd;
  }
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

// Two ends of a new pipe, both close-on-exec and above the standard streams.
void MakePipe(Fd& read_end, Fd& write_end) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ThrowErrno(errno, "não foi possível criar o canal da saída do processo (pipe)");
  }
  read_end.Reset(AboveStandardStreams(ends[0]));
  const int error = errno;
  write_end.Reset(AboveStandardStreams(ends[1]));
  if (read_end.get() < 0 || write_end.get() < 0) {
    ThrowErrno(read_end.get() < 0 ? error : errno,
               "não foi possível criar o canal da saída do processo (pipe)");
  }
}

// The errno the child reported before exec, or 0 once exec closed the report pipe.
int ReadStartFailure(int report) {
  int error = 0;
  for (;;) {
    const ssize_t count = ::read(report, &error, sizeof error);
    if (count == static_cast<ssize_t>(sizeof error)) {
      return error;
    }
    if (count < 0 && errno == EINTR) {
      continue;
    }
    return 0;
  }
}

}  // namespace

std::unique_ptr<ChildProcess> LaunchProcess(const LaunchOptions& options) {
  std::vector<std::string> arguments = SplitCommandLine(options.command_line);
  if (arguments.empty() || arguments.front().empty()) {
    ThrowErrno(EINVAL, "não foi possível iniciar um processo: a linha de comando está vazia");
  }
  IgnoreSigpipeOnce();
  const std::string program = ResolveProgram(arguments.front());
  std::vector<std::string> environment = ChildEnvironment(options);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);

  Fd read_end;
  Fd write_end;
  MakePipe(read_end, write_end);
  Fd report_read;
  Fd report_write;
  MakePipe(report_read, report_write);
  Fd null_input(AboveStandardStreams(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
  if (null_input.get() < 0) {
    ThrowErrno(errno, "não foi possível preparar o processo (/dev/null)");
  }

  const ChildSetup setup{
      program.c_str(),
      argv.data(),
      envp.data(),
      options.working_directory.empty() ? nullptr : options.working_directory.c_str(),
      null_input.get(),
      write_end.get(),
      report_write.get(),
      ::getpid()};
  pid_t pid = -1;
  {
    const SignalsBlocked blocked;
    pid = ::fork();
    if (pid == 0) {
      RunChild(setup);
    }
  }
  if (pid < 0) {
    ThrowErrno(errno, internal::StartFailureContext(arguments.front(), options.working_directory));
  }
  write_end.Reset();  // the child holds the only write end now, so its exit ends the output
  report_write.Reset();
  null_input.Reset();
  if (const int error = ReadStartFailure(report_read.get()); error != 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ThrowErrno(error, internal::StartFailureContext(arguments.front(), options.working_directory));
  }

  auto handles = std::make_unique<ChildProcess::Handles>();
  handles->pid = pid;
  handles->output = read_end.Release();
  return std::make_unique<ChildProcess>(std::move(handles));
}

ChildProcess::ChildProcess(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

ChildProcess::~ChildProcess() {
  EndUnlessWaited();
  if (handles_->output >= 0) {
    ::close(handles_->output);
  }
}

std::size_t ChildProcess::Read(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t count = ::read(handles_->output, buffer, size);
    if (count >= 0) {
      return static_cast<std::size_t>(count);
    }
    if (errno != EINTR) {
      ThrowErrno(errno, "não foi possível ler a saída do processo");
    }
  }
}

bool ChildProcess::WaitForOutput(int timeout_ms) {
  pollfd entry{handles_->output, POLLIN, 0};
  const int result = ::poll(&entry, 1, timeout_ms);
  if (result < 0 && errno != EINTR) {
    ThrowErrno(errno, "não foi possível esperar pela saída do processo");
  }
  // POLLHUP and POLLERR count too: Read then reports the end or the error.
  return result > 0;
}

namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return -1;
}

// Once the child has ended, and while its zombie still holds its pid (and so its process group's
// number), whatever it left in its group is ended too; then the child is reaped and `waited` and
// `exit_code` are set. False while the child runs (when not blocking). A failed wait sets
// `waited` too, since the pid may then already name another process that must never be
// signalled, and throws its errno.
bool ReapGroupLeader(pid_t pid, bool block, bool& waited, int& exit_code) {
  siginfo_t info{};
  for (;;) {
    info.si_pid = 0;
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG)) ==
        0) {
      break;
    }
    if (errno != EINTR) {
      const int error = errno;
      waited = true;
      ThrowErrno(error, "não foi possível esperar pelo fim do processo");
    }
  }
  if (info.si_pid == 0) {
    return false;
  }
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  waited = true;
  exit_code = ExitCodeOf(status);
  return true;
}

}  // namespace

int ChildProcess::Wait() {
  if (!waited_) {
    ReapGroupLeader(handles_->pid, true, waited_, exit_code_);
  }
  return exit_code_;
}

std::optional<int> ChildProcess::WaitFor(int timeout_ms) {
  if (timeout_ms < 0) {
    return Wait();
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // A child whose output has just ended is usually gone a moment later: looked at again soon at
  // first, then every 5 ms.
  Clock::duration pause = std::chrono::microseconds(100);
  for (;;) {
    if (waited_ || ReapGroupLeader(handles_->pid, false, waited_, exit_code_)) {
      return exit_code_;
    }
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::min(left, pause));
    pause = std::min<Clock::duration>(pause * 2, std::chrono::milliseconds(5));
  }
}

// The child leads a process group of its own: what it started goes with it.
void ChildProcess::Terminate() {
  if (!waited_) {
    ::kill(-handles_->pid, SIGTERM);
  }
}

void ChildProcess::Kill() {
  if (!waited_) {
    ::kill(-handles_->pid, SIGKILL);
  }
}

}  // namespace tolvan::platform

namespace tolvan::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i]);
  }
  return arguments;
}

void UseBinaryStandardStreams() {}

}  // namespace tolvan::platform
