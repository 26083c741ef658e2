#include <atomic>

#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

// Lock-free, so that a signal handler may store into it.
std::atomic<int> g_interrupt{0};
static_assert(std::atomic<int>::is_always_lock_free);

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
}

}  // namespace tolvan::platform
