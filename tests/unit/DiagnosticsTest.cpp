#include <gtest/gtest.h>

#include "Harness.h"

namespace torvik::test {
namespace {

TEST(Diagnostics, FormatsErrorsAndWarningsWithFileAndLine) {
  Rig rig;
  rig.assembler.Error(216, "x");
  rig.assembler.Warning(201, "");
  rig.assembler.ErrorNum(203, static_cast<std::int8_t>('$'));
  rig.assembler.ErrorNum(203, static_cast<std::int8_t>('\xE9'));
  EXPECT_EQ(rig.TakeOutput(),
            "Error #216 in t.asm, line 1: Symbol not defined: \"x\"\n"
            "Warning #201 in t.asm, line 1: Symbol table entry truncated to 16 bits\n"
            "Error #203 in t.asm, line 1: Invalid character '36' in label\n"
            "Error #203 in t.asm, line 1: Invalid character '-23' in label\n");
  EXPECT_EQ(rig.assembler.ErrorCount(), 3);
  EXPECT_EQ(rig.assembler.WarningCount(), 1);
}

// Each row: a sequence of reports (E = error 216, F = error 301,
// W = warning 300, L = move to the next line), and how many of them print.
struct SuppressionCase {
  const char* sequence;
  int errorsPrinted;
  int warningsPrinted;
};

class Suppression : public ::testing::TestWithParam<SuppressionCase> {};

TEST_P(Suppression, DropsOnlyARepeatOfTheLastLineOfItsKind) {
  Rig rig;
  for (const char* step = GetParam().sequence; *step; ++step) {
    switch (*step) {
      case 'E': rig.assembler.Error(216, "x"); break;
      case 'F': rig.assembler.Error(301, ""); break;
      case 'W': rig.assembler.Warning(300, ""); break;
      case 'L': rig.assembler.NextLine(); break;
    }
  }
  EXPECT_EQ(rig.assembler.ErrorCount(), GetParam().errorsPrinted);
  EXPECT_EQ(rig.assembler.WarningCount(), GetParam().warningsPrinted);
}

INSTANTIATE_TEST_SUITE_P(Rows, Suppression,
                         ::testing::Values(SuppressionCase{"EEE", 1, 0},  // same place three times
                                           SuppressionCase{"ELE", 2, 0},  // two lines
                                           SuppressionCase{"EFE", 3, 0},  // another error between
                                           SuppressionCase{"WEW", 1, 1},  // an error does not reset warnings
                                           SuppressionCase{"EWE", 1, 1},  // nor a warning errors
                                           SuppressionCase{"WLWLW", 0, 3}));

TEST(Diagnostics, ErrorTwoHundredSixEndsWithAnEmptyLine) {
  Rig rig;
  rig.assembler.ErrorNum(206, 16384);
  EXPECT_EQ(rig.TakeOutput(), "Error #206 in t.asm, line 1: Symbol table full (16384 entries)\n\n");
}

TEST(Diagnostics, SameCodeNamesDifferentMessagesForEachKind) {
  Rig rig;
  rig.assembler.ErrorNum(201, 63);
  rig.assembler.Warning(201, "");
  EXPECT_EQ(rig.TakeOutput(),
            "Error #201 in t.asm, line 1: Label is too long (max of 63 chars)\n"
            "Warning #201 in t.asm, line 1: Symbol table entry truncated to 16 bits\n");
}

TEST(Diagnostics, LongLinesAreCutTo255Characters) {
  Rig rig;
  const std::string name(400, 'n');
  rig.assembler.Error(216, name);
  rig.assembler.Message("Assembling \"%s\"", name);
  const std::string out = rig.TakeOutput();
  const auto firstEnd = out.find('\n');
  EXPECT_EQ(firstEnd, 255u);
  EXPECT_EQ(out.substr(0, 52), "Error #216 in t.asm, line 1: Symbol not defined: \"nn");
  EXPECT_EQ(out.size() - firstEnd - 1, 256u);  // the progress line, cut, and its newline
  // A cut line still counts as one report and is still suppressed once.
  rig.assembler.Error(216, name + "different tail");
  EXPECT_EQ(rig.assembler.ErrorCount(), 1);
}

TEST(Diagnostics, MessagesDoNotReadPlaceholdersInTheirArgument) {
  Rig rig;
  rig.assembler.Message("Assembling \"%s\"", "a%sb%i");
  rig.assembler.Message("Assembly complete - 0 error(s), 0 warning(s)");
  EXPECT_EQ(rig.TakeOutput(), "Assembling \"a%sb%i\"\nAssembly complete - 0 error(s), 0 warning(s)\n");
}

TEST(Diagnostics, WithoutOverrideTheLineMapNamesTheTopLevelFileLineZero) {
  Rig rig;
  rig.assembler.SetFileNameOverride("");
  rig.assembler.SetLineCounter(0);
  rig.assembler.Error(100, "$asmtmp$.$$$");
  EXPECT_EQ(rig.TakeOutput(), "Error #100 in , line 0: Cannot open file: \"$asmtmp$.$$$\"\n");
}

}  // namespace
}  // namespace torvik::test
