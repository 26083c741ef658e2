// The message of what a call raised, for the tests that check a failure's text.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace tolvan::test {

// The message of what call raised; "(no failure)" when it raised nothing.
inline std::string FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no failure)";
}

}  // namespace tolvan::test
