// The list-file path slots: reading lines into 500-byte slots (carriage
// returns removed, optional last lines empty), and the refusals of a missing
// file, a short file, a line too long for a slot (read with a bound) and a
// line holding a NUL byte.
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
      {"carriage returns removed", "a\r\nb\r\nc\r\nd\r", 4, {"a", "b", "c", "d"}},
      {"499 characters and a carriage return",
       "x\n" + longest + "\r\nz\nw\n",
       4,
       {"x", longest, "z", "w"}},
      {"only the last carriage return goes", "a\r\r\nb\rc\nc\nd\n", 4, {"a\r", "b\rc", "c", "d"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(dir / "list", c.text);
    Slots s(7);
    read_path(dir / "list", c.lines, s.p);
    for (int i = 0; i < c.lines; ++i) EXPECT_STREQ(s.p[i], c.expected[i].c_str()) << i;
  }
}

// Lines past the needed ones may be missing: their slots are empty.
TEST(SequencePaths, OptionalLastLines) {
  ScratchDir dir("seqpaths_optional");
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"three of four lines", "a\nb\nc\n", {"a", "b", "c", ""}},
      {"three lines, no final line feed", "a\nb\nc", {"a", "b", "c", ""}},
      {"all four present", "a\nb\nc\nd\n", {"a", "b", "c", "d"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(dir / "list", c.text);
    Slots s(7);
    std::strcpy(s.p[3], "stale");
    read_path(dir / "list", 4, s.p, 3);
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(s.p[i], c.expected[i].c_str()) << i;
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
  EXPECT_EXIT(read_path(dir / "three", 5, s.p, 4), ::testing::ExitedWithCode(1),
              "three has 3 line\\(s\\); 4 are needed");
  write_text(dir / "two", "a\nb\n");
  EXPECT_EXIT(read_path(dir / "two", 4, s.p, 3), ::testing::ExitedWithCode(1),
              "two has 2 line\\(s\\); 3 are needed");
  write_text(dir / "nul", std::string("a\nb\0c\nd\ne\n", 10));
  EXPECT_EXIT(read_path(dir / "nul", 4, s.p), ::testing::ExitedWithCode(1),
              "Line 2 of the list file .*nul holds a NUL byte");
  // An endless file is refused after the bound, not read to its end.
  EXPECT_EXIT(read_path("/dev/zero", 4, s.p), ::testing::ExitedWithCode(1),
              "Line 1 of the list file /dev/zero is longer than 499 characters");
}
