#include "platform/Process.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/EnvironmentOverlay.h"
#include "common/StartFailure.h"
#include "win32/Win32.h"

namespace tolvan::platform {

struct ChildProcess::Handles {
  HANDLE process = nullptr;
  HANDLE output = nullptr;  // read end of the child's stdout+stderr pipe
  // The job the child runs in, killed with its last handle: when this program ends, however it
  // ends, the system closes it and ends the child and whatever the child started. Null when the
  // system refused the job (the child then runs without one).
  HANDLE job = nullptr;
};

namespace {

class Handle {
 public:
  Handle() = default;
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void Reset() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle_);
    }
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

bool LessIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

// Name of an entry "NAME=VALUE"; entries such as "=C:=C:\x" keep their leading '='.
std::wstring EntryName(const std::wstring& entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

// The real environment with the overlay and the launch's own variables applied, as a sorted
// block; empty when there is neither (the child then inherits the environment as it is).
std::wstring ChildEnvironmentBlock(const LaunchOptions& options) {
  auto overlay = internal::ChildOverlay(options.extra_environment);
  if (!overlay) {
    return {};
  }
  std::vector<std::wstring> entries;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
      std::wstring text(entry);
      std::string name = internal::Narrow(EntryName(text));
      if (overlay->count(internal::EnvironmentKey(name)) == 0) {
        entries.push_back(std::move(text));
      }
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [key, entry] : *overlay) {
    if (entry.value) {
      entries.push_back(internal::Widen(entry.name + "=" + *entry.value));
    }
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::wstring& a, const std::wstring& b) {
                     return LessIgnoringCase(EntryName(a), EntryName(b));
                   });
  std::wstring block;
  for (const auto& entry : entries) {
    block += entry;
    block += L'\0';
  }
  block += L'\0';
  if (entries.empty()) {
    block += L'\0';
  }
  return block;
}

// A thread attribute list naming the only handles a child inherits.
class AttributeList {
 public:
  AttributeList(HANDLE* handles, std::size_t bytes) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer_.resize(size);
    if (!::InitializeProcThreadAttributeList(get(), 1, 0, &size)) {
      internal::ThrowWin32Error(
          ::GetLastError(),
          "não foi possível preparar o processo (InitializeProcThreadAttributeList)");
    }
    if (!::UpdateProcThreadAttribute(get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, bytes,
                                     nullptr, nullptr)) {
      const DWORD error = ::GetLastError();
      ::DeleteProcThreadAttributeList(get());
      internal::ThrowWin32Error(error,
                                "não foi possível preparar o processo (UpdateProcThreadAttribute)");
    }
  }
  ~AttributeList() { ::DeleteProcThreadAttributeList(get()); }
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
  }

 private:
  std::vector<char> buffer_;
};

// The handle list takes inheritable handles only: these two are so just while the child is made
// (one launch at a time), so that a process the host starts elsewhere never holds them.
class InheritableWhileAlive {
 public:
  explicit InheritableWhileAlive(const HANDLE (&handles)[2]) : lock_(Mutex()), handles_(handles) {
    for (HANDLE handle : handles_) {
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
  }
  ~InheritableWhileAlive() {
    for (HANDLE handle : handles_) {
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
  }
  InheritableWhileAlive(const InheritableWhileAlive&) = delete;
  InheritableWhileAlive& operator=(const InheritableWhileAlive&) = delete;

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  std::lock_guard<std::mutex> lock_;
  const HANDLE (&handles_)[2];
};

}  // namespace

std::unique_ptr<ChildProcess> LaunchProcess(const LaunchOptions& options) {
  const std::vector<std::string> arguments = SplitCommandLine(options.command_line);
  if (arguments.empty() || arguments.front().empty()) {
    throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                            "não foi possível iniciar um processo: a linha de comando está vazia");
  }
  const std::string& program = arguments.front();
  // Nothing is made inheritable here: the child gets its two handles through the handle list
  // below, and only for the moment of its creation.
  Handle read_end;
  Handle write_end;
  if (!::CreatePipe(read_end.out(), write_end.out(), nullptr, 0)) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível criar o canal da saída do processo (CreatePipe)");
  }
  Handle null_input;
  *null_input.out() = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (null_input.get() == INVALID_HANDLE_VALUE) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível abrir NUL para a entrada do processo");
  }
  HANDLE inherited[] = {null_input.get(), write_end.get()};
  AttributeList attributes(inherited, sizeof inherited);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = null_input.get();
  startup.StartupInfo.hStdOutput = write_end.get();
  startup.StartupInfo.hStdError = write_end.get();
  startup.lpAttributeList = attributes.get();

  std::wstring command_line = internal::Widen(options.command_line);
  std::wstring working_directory = internal::Widen(options.working_directory);
  std::wstring environment = ChildEnvironmentBlock(options);
  // A program given with its folder is started from exactly there: without an application name,
  // Windows would try each blank-separated prefix of an unquoted path ("C:\Program.exe") first.
  // A bare name is still looked for as Windows does (the program's folder, PATH).
  std::wstring application;
  if (program.find_first_of("\\/:") != std::string::npos) {
    application = internal::Widen(program);
    // As Windows does for a program on the command line: a name without an extension is a .exe.
    const std::size_t name = program.find_last_of("\\/:") + 1;
    if (program.find('.', name) == std::string::npos) {
      application += L".exe";
    }
  }
  Handle job;
  *job.out() = ::CreateJobObjectW(nullptr, nullptr);
  if (job.get() != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits)) {
      job.Reset();
    }
  }
  PROCESS_INFORMATION info{};
  BOOL created;
  DWORD error;
  {
    InheritableWhileAlive inheritable(inherited);
    created = ::CreateProcessW(application.empty() ? nullptr : application.c_str(),
                               command_line.data(), nullptr, nullptr, TRUE,
                               CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                                   EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED,
                               environment.empty() ? nullptr : environment.data(),
                               working_directory.empty() ? nullptr : working_directory.c_str(),
                               &startup.StartupInfo, &info);
    error = ::GetLastError();
  }
  if (!created) {
    internal::ThrowWin32Error(error,
                              internal::StartFailureContext(program, options.working_directory));
  }
  // Put in the job before its first instruction, so that nothing it starts escapes the job.
  if (job.get() != nullptr && !::AssignProcessToJobObject(job.get(), info.hProcess)) {
    job.Reset();
  }
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  write_end.Reset();  // the child holds the only write end now, so its exit ends the output

  auto handles = std::make_unique<ChildProcess::Handles>();
  handles->process = info.hProcess;
  handles->output = read_end.Release();
  handles->job = job.Release();
  return std::make_unique<ChildProcess>(std::move(handles));
}

ChildProcess::ChildProcess(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

ChildProcess::~ChildProcess() {
  EndUnlessWaited();
  ::CloseHandle(handles_->output);
  ::CloseHandle(handles_->process);
  if (handles_->job != nullptr) {
    ::CloseHandle(handles_->job);  // ends whatever the child left running
  }
}

std::size_t ChildProcess::Read(char* buffer, std::size_t size) {
  DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, INT_MAX));
  for (;;) {
    DWORD count = 0;
    if (!::ReadFile(handles_->output, buffer, wanted, &count, nullptr)) {
      DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE) {
        return 0;
      }
      internal::ThrowWin32Error(error, "não foi possível ler a saída do processo");
    }
    // A zero-byte write of the child reads as zero bytes; only a broken pipe ends the output.
    if (count != 0 || wanted == 0) {
      return count;
    }
  }
}

bool ChildProcess::WaitForOutput(int timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(timeout_ms, 0));
  for (;;) {
    DWORD available = 0;
    // An anonymous pipe cannot be waited on; a failed peek (the writer gone) is for Read to report.
    if (!::PeekNamedPipe(handles_->output, nullptr, 0, nullptr, &available, nullptr) ||
        available != 0) {
      return true;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      return false;
    }
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 5)));
  }
}

int ChildProcess::Wait() {
  if (waited_) {
    return exit_code_;
  }
  std::optional<int> code = WaitFor(-1);
  return *code;
}

std::optional<int> ChildProcess::WaitFor(int timeout_ms) {
  if (waited_) {
    return exit_code_;
  }
  const DWORD result = ::WaitForSingleObject(
      handles_->process, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (result == WAIT_TIMEOUT) {
    return std::nullopt;
  }
  if (result == WAIT_FAILED) {
    const DWORD error = ::GetLastError();
    waited_ = true;
    internal::ThrowWin32Error(error, "não foi possível esperar pelo fim do processo");
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(handles_->process, &code)) {
    const DWORD error = ::GetLastError();
    waited_ = true;
    internal::ThrowWin32Error(
        error, "não foi possível ler o código de saída do processo (GetExitCodeProcess)");
  }
  waited_ = true;
  exit_code_ = static_cast<int>(code);
  return exit_code_;
}

void ChildProcess::Terminate() {
  Kill();
}

void ChildProcess::Kill() {
  if (!waited_) {
    if (handles_->job != nullptr) {
      ::TerminateJobObject(handles_->job, 1);
    }
    ::TerminateProcess(handles_->process, 1);
  }
}

// Read by the C runtime's rules (SplitCommandLine), as the tools this program stands in for read
// theirs; the shell's CommandLineToArgvW differs on "" inside quotes.
std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> arguments = SplitCommandLine(internal::Narrow(::GetCommandLineW()));
  if (!arguments.empty()) {
    arguments.erase(arguments.begin());
  }
  return arguments;
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace tolvan::platform
