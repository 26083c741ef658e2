// POSIX tests of a wait that fails after the tool ran.
#pragma once

#include <signal.h>

namespace tolvan::testing {

// While alive, the kernel reaps every child at its exit (SIGCHLD ignored), so a waitpid fails
// with ECHILD, as when something else in the host reaps children.
class ChildrenReapedElsewhere {
 public:
  ChildrenReapedElsewhere() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGCHLD, &ignore, &saved_);
  }
  ~ChildrenReapedElsewhere() { ::sigaction(SIGCHLD, &saved_, nullptr); }
  ChildrenReapedElsewhere(const ChildrenReapedElsewhere&) = delete;
  ChildrenReapedElsewhere& operator=(const ChildrenReapedElsewhere&) = delete;

 private:
  struct sigaction saved_ {};
};

}  // namespace tolvan::testing
