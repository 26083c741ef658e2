// The message of the exception fn throws; a test failure when it throws none.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>

namespace tolvan::testing {

template <typename F>
std::string MessageOf(F&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  ADD_FAILURE() << "no exception";
  return {};
}

}  // namespace tolvan::testing
