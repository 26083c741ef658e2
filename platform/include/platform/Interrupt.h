// Interrupts from the operator or the system (Ctrl-C, a termination request, a closed terminal)
// during long work. The handlers only record the request; the toolkit's runners see it, end the
// tool they run and return, so that the export's own clean-up runs before the program leaves.
#pragma once

#include <memory>

#include "platform/Export.h"

namespace tolvan::platform {

// Installs the handlers: SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl-C, Ctrl-Break and the
// console's close on Windows. A program calls it once, at start.
TOLVAN_PLATFORM_API void InstallInterruptHandlers();

// The signal number of the first interrupt recorded: 2 for SIGINT and Ctrl-C, 15 for SIGTERM,
// Ctrl-Break and the console's close, 1 for SIGHUP; 0 when there was none.
TOLVAN_PLATFORM_API int InterruptSignal() noexcept;

// How many interrupts were recorded, the first one and every later one: a wait that began after
// the first (a clean-up that follows it) still sees the next.
TOLVAN_PLATFORM_API unsigned InterruptCount() noexcept;

// Records an interrupt as the handlers do (safe inside a signal handler). The first one recorded
// is kept.
TOLVAN_PLATFORM_API void RequestInterrupt(int signal_number) noexcept;

// Forgets a recorded interrupt (tests).
TOLVAN_PLATFORM_API void ClearInterrupt() noexcept;

// Puts the program's interrupt handling back as it was when the scope began, whatever a library
// called inside it installed (a database client library takes SIGINT and SIGTERM for itself on
// its first call, and then neither records the request nor lets the program reconnect). On
// Windows the program's own console handler, when installed, is made the first one asked again.
class TOLVAN_PLATFORM_API KeepInterruptHandlers {
 public:
  KeepInterruptHandlers();
  ~KeepInterruptHandlers();
  KeepInterruptHandlers(const KeepInterruptHandlers&) = delete;
  KeepInterruptHandlers& operator=(const KeepInterruptHandlers&) = delete;

  struct Saved;

 private:
  std::unique_ptr<Saved> saved_;
};

}  // namespace tolvan::platform
