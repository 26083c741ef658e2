#include "tolvan/support/LineSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using tolvan::support::detail::LineSplitter;

// Each line with its line end in brackets: "text[\r\n]".
std::vector<std::string> SplitInChunks(std::string_view input, size_t chunk,
                                       size_t max_line = 64 * 1024) {
  std::vector<std::string> lines;
  auto collect = [&lines](std::string_view content, std::string_view end) {
    lines.push_back(std::string(content) + "[" + std::string(end) + "]");
    return true;
  };
  LineSplitter splitter(max_line);
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

TEST(LineSplitter, LongLinesComeInPiecesOfTheLimitWhereverTheChunksEnd) {
  const std::string input = "abcdefghij\n12345678\nxyz";
  for (size_t chunk = 1; chunk <= input.size(); ++chunk) {
    EXPECT_EQ(
        SplitInChunks(input, chunk, 4),
        (std::vector<std::string>{"abcd[]", "efgh[]", "ij[\n]", "1234[]", "5678[\n]", "xyz[]"}))
        << "chunk size " << chunk;
    // A line of exactly the limit stays whole, with its line end.
    EXPECT_EQ(SplitInChunks(input, chunk, 8),
              (std::vector<std::string>{"abcdefgh[]", "ij[\n]", "12345678[\n]", "xyz[]"}))
        << "chunk size " << chunk;
  }
}

TEST(LineSplitter, APieceNeverCutsACharacterInTwo) {
  // "aé" + "ção": the cut after 4 bytes would fall inside "ç" (C3 A7).
  const std::string input = "a\xC3\xA9\xC3\xA7\xC3\xA3o";
  const auto lines = SplitInChunks(input, 1, 4);
  ASSERT_EQ(lines, (std::vector<std::string>{"a\xC3\xA9[]", "\xC3\xA7\xC3\xA3[]", "o[]"}));
}

}  // namespace
