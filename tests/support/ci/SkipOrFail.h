// A test whose precondition is not met here (a test server, a tool, a root of other versions):
// skipped with why, or failed under CI=true, where every lane must run.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tolvan::testing {

inline bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

}  // namespace tolvan::testing

// Ends the test (it returns from the test body) with why.
#define TOLVAN_SKIP_OR_FAIL(why)         \
  do {                                   \
    const std::string tolvan_why_ = why; \
    if (::tolvan::testing::UnderCi()) {  \
      FAIL() << tolvan_why_;             \
    }                                    \
    GTEST_SKIP() << tolvan_why_;         \
  } while (false)
