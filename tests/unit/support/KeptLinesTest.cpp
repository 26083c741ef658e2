// What a run keeps of a tool's lines.
#include <gtest/gtest.h>

#include <string>

#include "tolvan/support/KeptLines.h"

namespace {

TEST(KeptLines, KeepsEverythingUpToTheLimits) {
  tolvan::support::KeptLines kept;
  EXPECT_EQ(kept.Join("\r\n"), "");
  kept.Add("one");
  kept.Add("");
  kept.Add("three");
  EXPECT_EQ(kept.Join("\r\n"), "one\r\n\r\nthree");
  kept.Clear();
  kept.Add("a\n");
  kept.Add("b");
  EXPECT_EQ(kept.Join(""), "a\nb");
}

TEST(KeptLines, KeepsTheFirstAndLastPartsAndCountsWhatWasLeftOut) {
  const std::size_t limit = tolvan::support::KeptLines::kLimit;
  const std::string line(1000, 'x');
  const std::size_t per_part = limit / line.size();  // whole lines that fit in each part
  const std::size_t total = 10 * per_part;
  tolvan::support::KeptLines kept;
  for (std::size_t i = 0; i < total; ++i) {
    kept.Add(std::to_string(i) + ":" + line.substr(0, line.size() - 8));
  }
  const std::string text = kept.Join("\r\n");
  EXPECT_LE(text.size(), 2 * limit + 2 * per_part * 2 + 100);
  EXPECT_EQ(text.rfind("0:", 0), 0u);
  EXPECT_NE(text.find("\r\n" + std::to_string(total - 1) + ":"), std::string::npos);
  // Every line is either kept or counted, once.
  std::size_t kept_lines = 0;
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) {
    ++kept_lines;
  }
  const std::size_t note = text.find("(... ");
  ASSERT_NE(note, std::string::npos);
  const std::size_t left_out = std::stoul(text.substr(note + 5));
  // n separators join n + 1 entries, one of them the note.
  EXPECT_EQ(kept_lines + left_out, total);
  EXPECT_NE(text.find(" linhas omitidas ...)"), std::string::npos);

  // Lines that carry their own ends: the note stands on its own line.
  tolvan::support::KeptLines with_ends;
  with_ends.Add(std::string(limit - 1, 'a'));  // a piece of a long line, no end
  with_ends.Add(std::string(limit, 'b'));
  with_ends.Add(std::string(limit - 4, 'c'));
  with_ends.Add("end\n");
  EXPECT_EQ(with_ends.Join(""), std::string(limit - 1, 'a') + "\n(... 1 linha omitida ...)\n" +
                                    std::string(limit - 4, 'c') + "end\n");
}

}  // namespace
