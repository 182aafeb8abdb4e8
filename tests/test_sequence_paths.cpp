// The list-file path slots: reading lines into 500-byte slots, and the
// refusals of a missing file, a short file and a line too long for a slot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "program_run.h"
#include "sequence_paths.h"

using namespace velmora_test;

namespace {

struct Slots {
  explicit Slots(int n) : n(n), p(alloc_seqPath(n)) {}
  ~Slots() { free_seqPath(p, n); }
  int n;
  char** p;
};

}  // namespace

TEST(SequencePaths, ReadsTheLinesIntoTheSlots) {
  ScratchDir dir("seqpaths_read");
  const std::string longest(kSeqPathSlot - 1, 'a');
  struct Case {
    const char* what;
    std::string text;
    int lines;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"four lines", "one\ntwo\nthree\nfour\n", 4, {"one", "two", "three", "four"}},
      {"blank fourth line", "a.pgm\nb.pgm\nout/\n\n", 4, {"a.pgm", "b.pgm", "out/", ""}},
      {"last line without line feed", "a\nb\nc\nd\nfield", 5, {"a", "b", "c", "d", "field"}},
      {"more lines than asked", "a\nb\nc\nd\ne\n", 4, {"a", "b", "c", "d"}},
      {"a path of 499 characters", "x\n" + longest + "\nz\nw\n", 4, {"x", longest, "z", "w"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(dir / "list", c.text);
    Slots s(7);
    read_path(dir / "list", c.lines, s.p);
    for (int i = 0; i < c.lines; ++i) EXPECT_STREQ(s.p[i], c.expected[i].c_str()) << i;
  }
}

TEST(SequencePathsDeathTest, RefusesWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScratchDir dir("seqpaths_refuse");
  write_text(dir / "three", "a\nb\nc\n");
  write_text(dir / "toolong", "a\n" + std::string(kSeqPathSlot, 'b') + "\nc\nd\n");
  write_text(dir / "empty", "");
  Slots s(7);
  EXPECT_EXIT(read_path(dir / "absent", 4, s.p), ::testing::ExitedWithCode(1), "absent");
  EXPECT_EXIT(read_path(dir / "three", 4, s.p), ::testing::ExitedWithCode(1),
              "three has 3 line\\(s\\); 4 are needed");
  EXPECT_EXIT(read_path(dir / "three", 5, s.p), ::testing::ExitedWithCode(1), "three");
  EXPECT_EXIT(read_path(dir / "empty", 1, s.p), ::testing::ExitedWithCode(1), "empty");
  EXPECT_EXIT(read_path(dir / "toolong", 4, s.p), ::testing::ExitedWithCode(1),
              "Line 2 of the list file .*toolong is longer than 499 characters");
}
