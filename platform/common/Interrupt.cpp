#include <atomic>

#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

// Lock-free, so that a signal handler may store into it.
std::atomic<int> g_interrupt{0};
std::atomic<unsigned> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<unsigned>::is_always_lock_free);

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
}

}  // namespace tolvan::platform
