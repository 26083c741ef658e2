#include "LineSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using vesk::detail::LineSplitter;

// Each line with its line end in brackets: "text[\r\n]".
std::vector<std::string> SplitInChunks(std::string_view input, size_t chunk) {
  std::vector<std::string> lines;
  auto collect = [&lines](std::string_view content, std::string_view end) {
    lines.push_back(std::string(content) + "[" + std::string(end) + "]");
    return true;
  };
  LineSplitter splitter;
  for (size_t at = 0; at < input.size(); at += chunk) {
    splitter.Feed(input.substr(at, chunk), collect);
  }
  splitter.Finish(collect);
  return lines;
}

TEST(LineSplitter, SameLinesWhereverTheChunksEnd) {
  const std::string input = "one\r\ntwo\nthree\r\n\r\nfour\rstill four\n\nlast";
  const std::vector<std::string> expected = {
      "one[\r\n]", "two[\n]", "three[\r\n]", "[\r\n]", "four\rstill four[\n]", "[\n]", "last[]"};
  for (size_t chunk = 1; chunk <= input.size(); ++chunk) {
    EXPECT_EQ(SplitInChunks(input, chunk), expected) << "chunk size " << chunk;
  }
}

TEST(LineSplitter, EndsOfInput) {
  EXPECT_TRUE(SplitInChunks("", 4).empty());
  EXPECT_EQ(SplitInChunks("a\n", 4), std::vector<std::string>{"a[\n]"});
  EXPECT_EQ(SplitInChunks("\n", 4), std::vector<std::string>{"[\n]"});
  // A CR with no LF after it is not a line end, also at the very end.
  EXPECT_EQ(SplitInChunks("a\r", 1), std::vector<std::string>{"a\r[]"});
}

TEST(LineSplitter, StopsWhenTheCallbackSaysSo) {
  LineSplitter splitter;
  std::vector<std::string> seen;
  auto stop_at_two = [&seen](std::string_view content, std::string_view) {
    seen.emplace_back(content);
    return content != "2";
  };
  EXPECT_FALSE(splitter.Feed("1\n2\n3\n4", stop_at_two));
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2"}));
  // Nothing of the stopped chunk is kept for later.
  EXPECT_TRUE(splitter.Finish(stop_at_two));
  EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
