#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "Console.h"
#include "platform/Interrupt.h"
#include "platform/Process.h"

namespace tolvan::cli {
namespace {

constexpr DWORD kInputPollMs = 100;

// A handle of this process's console, or nullptr when the stream goes to a file or a pipe.
HANDLE ConsoleOf(DWORD stream) {
  HANDLE handle = ::GetStdHandle(stream);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
    return nullptr;
  }
  return handle;
}

std::size_t ColumnsOf(DWORD stream) {
  HANDLE handle = ConsoleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (handle == nullptr || !::GetConsoleScreenBufferInfo(handle, &info)) {
    return 0;
  }
  return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

std::string Utf8Of(const std::wstring& text) {
  if (text.empty()) {
    return "";
  }
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
  return utf8;
}

// Waits in short steps until the handle has input, so that an interrupt that comes while the
// operator types nothing is seen. False when an interrupt came first.
bool WaitForInput(HANDLE handle, bool is_pipe) {
  for (;;) {
    if (tolvan::platform::InterruptSignal() != 0) {
      return false;
    }
    if (is_pipe) {
      DWORD available = 0;
      // A broken pipe reports an error: the read that follows sees the end of input.
      if (!::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
        return true;
      }
      ::Sleep(kInputPollMs);
    } else if (::WaitForSingleObject(handle, kInputPollMs) == WAIT_OBJECT_0) {
      return true;
    }
  }
}

// One line typed at the console, read as UTF-16 so that every character of a name or password
// arrives whatever the console's code page. nullopt at the end of input or on an interrupt.
std::optional<std::string> ReadConsoleLine(HANDLE console) {
  std::wstring line;
  for (;;) {
    if (!WaitForInput(console, false)) {
      return std::nullopt;
    }
    wchar_t buffer[256];
    DWORD read = 0;
    const bool done =
        ::ReadConsoleW(console, buffer, static_cast<DWORD>(std::size(buffer)), &read, nullptr);
    // Ctrl-C ends the read with nothing read, and the console runs the handler that records it
    // on a thread of its own: give it a moment before taking the read for the end of input.
    for (int wait = 0;
         (!done || read == 0) && wait < 10 && tolvan::platform::InterruptSignal() == 0; ++wait) {
      ::Sleep(20);
    }
    if (!done || tolvan::platform::InterruptSignal() != 0) {
      return std::nullopt;
    }
    // Ctrl-Z at the start of a line is the console's end of input.
    if (read == 0 || (line.empty() && buffer[0] == L'\x1a')) {
      return line.empty() ? std::nullopt : std::optional<std::string>(Utf8Of(line));
    }
    line.append(buffer, read);
    const auto end = line.find(L'\n');
    if (end != std::wstring::npos) {
      line.erase(end);
      if (!line.empty() && line.back() == L'\r') {
        line.pop_back();
      }
      return Utf8Of(line);
    }
  }
}

}  // namespace

void PrepareConsole() {
  // Bytes pass as they are, as on POSIX: tolvan writes UTF-8 and "\n", and a plug-in's "\r\n"
  // stays one line end.
  tolvan::platform::UseBinaryStandardStreams();
  ::SetConsoleOutputCP(CP_UTF8);
  // The status line is drawn with the terminal's escape sequences.
  for (const DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    if (HANDLE console = ConsoleOf(stream)) {
      DWORD mode = 0;
      ::GetConsoleMode(console, &mode);
      ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
}

bool StdinIsTerminal() {
  return ConsoleOf(STD_INPUT_HANDLE) != nullptr;
}

bool StdoutIsTerminal() {
  return ConsoleOf(STD_OUTPUT_HANDLE) != nullptr;
}

bool StderrIsTerminal() {
  return ConsoleOf(STD_ERROR_HANDLE) != nullptr;
}

std::size_t TerminalColumns() {
  return ColumnsOf(STD_ERROR_HANDLE);
}

std::size_t OutputColumns() {
  // Output piped on (to more, to findstr) is read on the console of stderr.
  std::size_t columns = ColumnsOf(STD_OUTPUT_HANDLE);
  if (columns < 2) {
    columns = ColumnsOf(STD_ERROR_HANDLE);
  }
  // Short of the last column, where the console would wrap at once and add a blank line.
  return columns < 2 ? 80 : columns - 1;
}

std::optional<std::string> ReadInputLine() {
  if (HANDLE console = ConsoleOf(STD_INPUT_HANDLE)) {
    return ReadConsoleLine(console);
  }
  if (std::cin.rdbuf()->in_avail() <= 0) {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input != nullptr && input != INVALID_HANDLE_VALUE &&
        !WaitForInput(input, ::GetFileType(input) == FILE_TYPE_PIPE)) {
      return std::nullopt;
    }
  }
  return ReadLineWithoutEnd(std::cin);
}

std::string ReadSecret(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  HANDLE console = ConsoleOf(STD_INPUT_HANDLE);
  if (console == nullptr) {
    const std::optional<std::string> line = ReadInputLine();
    std::cerr << "\n";
    return line.value_or("");
  }
  DWORD mode = 0;
  ::GetConsoleMode(console, &mode);
  ::SetConsoleMode(console, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  const std::optional<std::string> line = ReadConsoleLine(console);
  ::SetConsoleMode(console, mode);
  // Ctrl-C at the prompt ends tolvan as an interrupted run ends it, with the console echoing
  // again; nothing has started yet, so there is nothing to clean up.
  if (const int signal = tolvan::platform::InterruptSignal(); signal != 0) {
    std::cerr << "\nInterrompido antes de ler a senha.\n" << std::flush;
    std::_Exit(128 + signal);
  }
  std::cerr << "\n";
  return line.value_or("");
}

}  // namespace tolvan::cli
