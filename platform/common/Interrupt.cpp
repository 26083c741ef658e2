#include <atomic>

#include "common/InterruptRecord.h"
#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

// Lock-free, so that a signal handler may store into it.
std::atomic<int> g_interrupt{0};
static_assert(std::atomic<int>::is_always_lock_free);
// Set when the record above was made by a ScopedInterruptRecorder.
std::atomic<bool> g_made_by_recorder{false};

}  // namespace

int InterruptSignal() noexcept {
  return g_interrupt.load();
}

void RequestInterrupt(int signal_number) noexcept {
  int expected = 0;
  g_interrupt.compare_exchange_strong(expected, signal_number);
}

void ClearInterrupt() noexcept {
  g_interrupt.store(0);
  g_made_by_recorder.store(false);
}

namespace internal {

void RecordFromRecorder(int signal_number) noexcept {
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
