// What a child process does alike on every system.
#include "platform/Process.h"

namespace tolvan::platform {

void ChildProcess::EndUnlessWaited() noexcept {
  if (waited_) {
    return;
  }
  Kill();
  try {
    Wait();
  } catch (...) {
    // A child that cannot be waited for is gone already (Wait marked it), or beyond reach.
  }
}

}  // namespace tolvan::platform
