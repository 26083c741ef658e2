#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

class FileActions {
 public:
  FileActions() { Check(::posix_spawn_file_actions_init(&actions_), "ações de arquivo"); }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

  static void Check(int result, const char* what) {
    if (result != 0) {
      ThrowErrno(result,
                 std::string("não foi possível preparar o processo (posix_spawn, ") + what + ")");
    }
  }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { FileActions::Check(::posix_spawnattr_init(&attributes_), "atributos"); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

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
  void Reset() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
};

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

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ThrowErrno(errno, "não foi possível criar o canal da saída do processo (pipe)");
  }
  Fd read_end(ends[0]);
  Fd write_end(ends[1]);

  FileActions actions;
  FileActions::Check(
      ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0),
      "stdin");
  FileActions::Check(
      ::posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), STDOUT_FILENO), "stdout");
  FileActions::Check(
      ::posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), STDERR_FILENO), "stderr");
  // Nothing else of the host reaches the tool: a descriptor opened without close-on-exec (by a
  // library, or by the host program) would otherwise stay open in it, and a pipe's write end held
  // there would keep that pipe's reader waiting.
  FileActions::Check(::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1),
                     "closefrom");
  if (!options.working_directory.empty()) {
    FileActions::Check(
        ::posix_spawn_file_actions_addchdir_np(actions.get(), options.working_directory.c_str()),
        "pasta de trabalho");
  }

  // The child starts with default signal handling and nothing blocked, whatever the parent set
  // (an ignored SIGPIPE would otherwise be inherited).
  SpawnAttributes attributes;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  FileActions::Check(::posix_spawnattr_setsigdefault(attributes.get(), &defaults), "sinais");
  FileActions::Check(::posix_spawnattr_setsigmask(attributes.get(), &no_mask), "máscara de sinais");
  FileActions::Check(
      ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK),
      "opções");

  pid_t pid = -1;
  int result;
  do {
    result = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(),
                           envp.data());
  } while (result == EINTR);
  if (result != 0) {
    ThrowErrno(result, internal::StartFailureContext(arguments.front(), options.working_directory));
  }
  write_end.Reset();  // the child holds the only write end now, so its exit ends the output

  auto handles = std::make_unique<ChildProcess::Handles>();
  handles->pid = pid;
  handles->output = read_end.Release();
  return std::make_unique<ChildProcess>(std::move(handles));
}

ChildProcess::ChildProcess(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

ChildProcess::~ChildProcess() {
  if (!waited_) {
    Kill();
    try {
      Wait();
    } catch (...) {
      // A child that cannot be reaped is gone already (Wait marked it).
    }
  }
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

}  // namespace

int ChildProcess::Wait() {
  if (waited_) {
    return exit_code_;
  }
  int status = 0;
  for (;;) {
    pid_t result = ::waitpid(handles_->pid, &status, 0);
    if (result == handles_->pid) {
      break;
    }
    if (result < 0 && errno != EINTR) {
      const int error = errno;
      // The pid may already name another process: never signal it again.
      waited_ = true;
      ThrowErrno(error, "não foi possível esperar pelo fim do processo");
    }
  }
  waited_ = true;
  exit_code_ = ExitCodeOf(status);
  return exit_code_;
}

std::optional<int> ChildProcess::WaitFor(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (waited_) {
      return exit_code_;
    }
    int status = 0;
    const pid_t result = ::waitpid(handles_->pid, &status, WNOHANG);
    if (result == handles_->pid) {
      waited_ = true;
      exit_code_ = ExitCodeOf(status);
      return exit_code_;
    }
    if (result < 0 && errno != EINTR) {
      const int error = errno;
      waited_ = true;
      ThrowErrno(error, "não foi possível esperar pelo fim do processo");
    }
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(5)));
  }
}

void ChildProcess::Terminate() {
  if (!waited_) {
    ::kill(handles_->pid, SIGTERM);
  }
}

void ChildProcess::Kill() {
  if (!waited_) {
    ::kill(handles_->pid, SIGKILL);
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
