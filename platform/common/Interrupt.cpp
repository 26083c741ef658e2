#include <atomic>

#include "common/InterruptRecord.h"
#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

// Lock-free, so that a signal handler may store into it.
std::atomic<int> g_interrupt{0};
std::atomic<unsigned> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<unsigned>::is_always_lock_free);
// Set when the record above was made by a ScopedInterruptRecorder.
std::atomic<bool> g_made_by_recorder{false};

}  // namespace

int InterruptSignal() noexcept {
  return g_interrupt.load();
}

unsigned InterruptCount() noexcept {
  return g_interrupts.load();
}

void RequestInterrupt(int signal_number) noexcept {
  int expected = 0;
  g_interrupt.compare_exchange_strong(expected, signal_number);
  g_interrupts.fetch_add(1);
}

void ClearInterrupt() noexcept {
  g_interrupt.store(0);
  g_interrupts.store(0);
  g_made_by_recorder.store(false);
}

namespace internal {

void RecordFromRecorder(int signal_number) noexcept {
  // Counted as every interrupt is, so that a connection attempt of this copy sees it.
  g_interrupts.fetch_add(1);
  int expected = 0;
  if (g_interrupt.compare_exchange_strong(expected, signal_number)) {
    g_made_by_recorder.store(true);
  }
}

void EndRecorderScope(int record_before, bool handed_to_own_handler) noexcept {
  if (record_before == 0 && !handed_to_own_handler && g_made_by_recorder.load()) {
    g_interrupt.store(0);
  }
  g_made_by_recorder.store(false);
}

}  // namespace internal
}  // namespace tolvan::platform
