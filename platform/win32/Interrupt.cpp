#include <atomic>

#include "platform/Interrupt.h"
#include "win32/Win32.h"

namespace tolvan::platform {
namespace {

std::atomic<bool> g_installed{false};

BOOL WINAPI RecordInterrupt(DWORD control_type) {
  switch (control_type) {
    case CTRL_C_EVENT:
      RequestInterrupt(2);
      return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      RequestInterrupt(15);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallInterruptHandlers() {
  if (!::SetConsoleCtrlHandler(RecordInterrupt, TRUE)) {
    internal::ThrowWin32Error(
        ::GetLastError(),
        "não foi possível instalar o tratamento de Ctrl+C (SetConsoleCtrlHandler)");
  }
  g_installed = true;
}

struct KeepInterruptHandlers::Saved {};

KeepInterruptHandlers::KeepInterruptHandlers() = default;

// Console handlers form a list asked from the last added; a library's handler that answers TRUE
// would hide ours. Added again, ours is asked first.
KeepInterruptHandlers::~KeepInterruptHandlers() {
  if (g_installed) {
    ::SetConsoleCtrlHandler(RecordInterrupt, FALSE);
    ::SetConsoleCtrlHandler(RecordInterrupt, TRUE);
  }
}

}  // namespace tolvan::platform
