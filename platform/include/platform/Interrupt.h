// Interrupts from the operator or the system (Ctrl-C, a termination request, a closed terminal)
// during long work. The handlers only record the request; the runners see it, end the tool they
// run and return, so that the export's own clean-up runs before the program leaves.
//
// Each copy of this library keeps its own record: the host's (shared) one, and one inside each
// plug-in. A plug-in cannot see the host's record, so its runner notices an interrupt itself with
// a ScopedInterruptRecorder while its tool runs.
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

// While alive, an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl-C, Ctrl-Break, the console's close) is
// recorded here too and then handed to the handling that was in place, which keeps doing what it
// did: the host's own handler records it in the host's copy, a default action still ends the
// program, and a signal the program ignores stays ignored (and is not recorded). On POSIX the
// previous sigaction handler is called from ours; on Windows ours is added to the console's list
// and answers FALSE, so the handlers added before it run too. Everything is put back when the
// scope ends, and a record that only this scope made is forgotten then, unless the handler it
// passed the interrupt to was this copy's own (InstallInterruptHandlers), whose record it is:
// so a host that goes on after an interrupt gets a plug-in that runs its next tool.
class TOLVAN_PLATFORM_API ScopedInterruptRecorder {
 public:
  ScopedInterruptRecorder();
  ~ScopedInterruptRecorder();
  ScopedInterruptRecorder(const ScopedInterruptRecorder&) = delete;
  ScopedInterruptRecorder& operator=(const ScopedInterruptRecorder&) = delete;

  struct Saved;

 private:
  std::unique_ptr<Saved> saved_;
};

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
