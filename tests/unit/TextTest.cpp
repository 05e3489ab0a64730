#include <gtest/gtest.h>

#include "Text.h"

namespace torvik::test {
namespace {

struct BlankCase {
  const char* text;
  std::size_t from;
  std::size_t expected;
};

class Blanks : public ::testing::TestWithParam<BlankCase> {};

TEST_P(Blanks, SkipToTheFirstOtherCharacter) {
  EXPECT_EQ(SkipBlanks(GetParam().text, GetParam().from), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, Blanks,
                         ::testing::Values(BlankCase{"", 0, 0}, BlankCase{"x", 0, 0}, BlankCase{"x", 1, 1},
                                           BlankCase{"   ", 0, 3}, BlankCase{" \t x", 0, 3},
                                           BlankCase{"        x", 0, 8},            // one word of spaces
                                           BlankCase{"                ", 0, 16},    // two, then the end
                                           BlankCase{"          \tx", 0, 11},       // a tab after a word
                                           BlankCase{"       \t        x", 0, 16},  // a tab inside the first word
                                           BlankCase{"ab         c", 2, 11}));

struct DigitCase {
  char c;
  int value;
};

class Digits : public ::testing::TestWithParam<DigitCase> {};

TEST_P(Digits, HaveTheirValueInEveryBase) { EXPECT_EQ(DigitValue(GetParam().c), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Rows, Digits,
                         ::testing::Values(DigitCase{'0', 0}, DigitCase{'9', 9}, DigitCase{'a', 10}, DigitCase{'F', 15},
                                           DigitCase{'g', 16}, DigitCase{'Z', 35}, DigitCase{'@', kNotADigit},
                                           DigitCase{'[', kNotADigit}, DigitCase{'\xE9', kNotADigit}));

}  // namespace
}  // namespace torvik::test
