#include <atomic>
#include <memory>
#include <mutex>

#include "common/InterruptRecord.h"
#include "platform/Interrupt.h"
#include "win32/Win32.h"

namespace tolvan::platform {
namespace {

std::atomic<bool> g_installed{false};
std::mutex g_recorder_mutex;
int g_recorders = 0;

int SignalOf(DWORD control_type) {
  switch (control_type) {
    case CTRL_C_EVENT:
      return 2;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      return 15;
    default:
      return 0;
  }
}

BOOL WINAPI RecordInterrupt(DWORD control_type) {
  const int signal_number = SignalOf(control_type);
  if (signal_number == 0) {
    return FALSE;
  }
  RequestInterrupt(signal_number);
  return TRUE;
}

// Records the event and answers FALSE, so that the handlers added before it run as well.
BOOL WINAPI RecordAndPassOn(DWORD control_type) {
  if (const int signal_number = SignalOf(control_type); signal_number != 0) {
    internal::RecordFromRecorder(signal_number);
  }
  return FALSE;
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

struct ScopedInterruptRecorder::Saved {
  int record_before = 0;
  bool installed = false;
};

ScopedInterruptRecorder::ScopedInterruptRecorder() : saved_(std::make_unique<Saved>()) {
  std::lock_guard lock(g_recorder_mutex);
  saved_->record_before = InterruptSignal();
  if (g_recorders++ == 0) {
    saved_->installed = ::SetConsoleCtrlHandler(RecordAndPassOn, TRUE) != FALSE;
  }
}

ScopedInterruptRecorder::~ScopedInterruptRecorder() {
  std::lock_guard lock(g_recorder_mutex);
  if (--g_recorders != 0) {
    return;
  }
  if (saved_->installed) {
    ::SetConsoleCtrlHandler(RecordAndPassOn, FALSE);
  }
  internal::EndRecorderScope(saved_->record_before, g_installed);
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
