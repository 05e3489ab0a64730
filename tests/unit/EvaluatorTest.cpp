#include <gtest/gtest.h>

#include "Harness.h"

namespace torvik::test {
namespace {

constexpr const char* kAt = "t.asm, line 1: ";

std::string Err(int code, const std::string& text) {
  return "Error #" + std::to_string(code) + " in " + kAt + text + "\n";
}

// Symbols every row can use: labels at $100 and $120 (relocatable), a
// constant, two externals and a symbol bound to the first external. The
// location counter stands at $200.
void DefineSymbols(Rig& rig) {
  CSymTable& symbols = rig.assembler.Symbols();
  symbols.Define("lbl", 0x100, false, true, false, std::nullopt);
  symbols.Define("lbl2", 0x120, false, true, false, std::nullopt);
  symbols.Define("c5", 5, false, false, false, std::nullopt);
  symbols.Define("ext", 0, true, false, false, std::nullopt);
  symbols.Define("ext2", 0, true, false, false, std::nullopt);
  symbols.Define("bound", 3, false, false, false, std::string_view("ext"));
  symbols.Define("C000", 0, true, false, false, std::nullopt);
  symbols.Define("A", 0, true, false, false, std::nullopt);
  rig.AtLocation(0x200, "top");
}

struct ValueCase {
  const char* expression;
  std::int32_t value;
  std::string output;
};

class Values : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Values, EvaluatesLeftToRight) {
  Rig rig;
  DefineSymbols(rig);
  EXPECT_EQ(rig.assembler.Evaluate(GetParam().expression), GetParam().value) << GetParam().expression;
  EXPECT_EQ(rig.TakeOutput(), GetParam().output) << GetParam().expression;
}

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, Values,
    ::testing::Values(ValueCase{"1 + 2 * 3", 9, ""}, ValueCase{"1 + (2 * 3)", 7, ""}, ValueCase{"1 2", 2, ""},
                      ValueCase{"3 + 4 5", 12, ""}, ValueCase{"2 == 2", 1, ""}, ValueCase{"2 != 2", 0, ""},
                      ValueCase{"7 / 2", 3, ""}, ValueCase{"-7 / 2", -3, ""},
                      ValueCase{"7 / 0", 7, Err(301, "Division by 0")}, ValueCase{"-5", -5, ""}, ValueCase{"*5", 0, ""},
                      ValueCase{"<5", 1, ""}, ValueCase{"1 << 33", 2, ""}, ValueCase{"-16 >> 2", -4, ""},
                      ValueCase{"3 < 5", 1, ""}, ValueCase{"3 > 5", 0, ""}, ValueCase{"5 <= 5", 1, ""},
                      ValueCase{"4 >= 5", 0, ""}, ValueCase{"6 & 3", 2, ""}, ValueCase{"6 | 3", 7, ""},
                      ValueCase{"6 ^ 3", 5, ""}, ValueCase{"2147483647 + 1", INT32_MIN, ""},
                      ValueCase{"65536 * 65536", 0, ""}, ValueCase{"(0-2147483647-1) / (0-1)", INT32_MIN, ""},
                      ValueCase{"-1 << 31", INT32_MIN, ""}, ValueCase{"99999999999", INT32_MAX, ""},
                      ValueCase{"1 <<\t2", 4, ""}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, Values,
    ::testing::Values(ValueCase{"$10", 16, ""}, ValueCase{"$ff", 255, ""}, ValueCase{"%1010", 10, ""},
                      ValueCase{"$", 0x200, ""}, ValueCase{"$ + 3", 0x203, ""}, ValueCase{"%", 0, ""},
                      ValueCase{"%2", 2, ""}, ValueCase{"$G", 0, Err(216, "Symbol not defined: \"G\"")},
                      ValueCase{"$0x10", 16, ""}, ValueCase{"0x10", 0, Err(216, "Symbol not defined: \"x10\"")},
                      ValueCase{"10h", 0, Err(216, "Symbol not defined: \"h\"")}, ValueCase{"c5 + lbl", 0x105, ""}));

INSTANTIATE_TEST_SUITE_P(
    Characters, Values,
    ::testing::Values(ValueCase{"'A'", 65, ""}, ValueCase{"'\\0'", 0, ""}, ValueCase{"'\\\\'", 92, ""},
                      ValueCase{"'\\''", 39, ""}, ValueCase{"'\\\"'", 34, ""},
                      ValueCase{"'\\n'", 0, Err(307, "Invalid escape sequence: \\n")}, ValueCase{"'\xE9'", -23, ""},
                      ValueCase{"1 + '", 1, Err(304, "Invalid character constant in expression")},
                      ValueCase{"'\\", 0,
                                Err(307, "Invalid escape sequence: \\") +
                                    Err(304, "Invalid character constant in expression")},
                      ValueCase{"'A + 1", 66, Err(304, "Invalid character constant in expression")}));

INSTANTIATE_TEST_SUITE_P(
    Faults, Values,
    ::testing::Values(ValueCase{"5 )", 5, Err(302, "No opening '('")},
                      ValueCase{" ", 0, Err(300, "Invalid expression: \" \"")},
                      ValueCase{"(", 0, Err(303, "No closing ')'")},
                      ValueCase{"( ", 0, Err(300, "Invalid expression: \" \"") + Err(303, "No closing ')'")},
                      ValueCase{"1,2", 2, Err(300, "Invalid expression: \"1,2\"")},
                      ValueCase{"(1,2", 2, Err(300, "Invalid expression: \"1,2\"") + Err(303, "No closing ')'")},
                      ValueCase{"nothing + 1", 1, Err(216, "Symbol not defined: \"nothing\"")},
                      ValueCase{"@loc", 0, Err(216, "Symbol not defined: \"@top@loc\"")}, ValueCase{"", 0, ""}));

INSTANTIATE_TEST_SUITE_P(
    Externals, Values,
    ::testing::Values(ValueCase{"ext + 5", 5, ""}, ValueCase{"ext - 5", -5, ""}, ValueCase{"(1) + ext", 1, ""},
                      ValueCase{"ext | 1", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      ValueCase{"2 * ext", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      ValueCase{"ext + ext2", 0, Err(210, "Multiple external symbols used in expression")},
                      ValueCase{"(ext) + ext2", 0, Err(210, "Multiple external symbols used in expression")},
                      ValueCase{"ext + (ext2)", 0, Err(210, "Multiple external symbols used in expression")},
                      ValueCase{"-ext", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      ValueCase{"5-ext", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      ValueCase{"(0-ext)", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      ValueCase{"-(ext)", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      ValueCase{"ext 5", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      ValueCase{"bound + 1", 4, ""},
                      ValueCase{"bound * 2", 0, Err(209, "External symbol used with non-arithmetic operator")},
                      // One external and one bound symbol are both recorded, so both link.
                      ValueCase{"ext + bound", 3, ""},
                      ValueCase{"bound + bound", 0, Err(210, "Multiple external symbols used in expression")},
                      ValueCase{"(bound) + 1 + (bound)", 0, Err(210, "Multiple external symbols used in expression")},
                      ValueCase{"((ext) | 1) + 2", 0, Err(209, "External symbol used with non-arithmetic operator")}));

TEST(Evaluator, OffsetIsAddedForEveryRelocatableOperand) {
  Rig rig;
  DefineSymbols(rig);
  EXPECT_EQ(rig.assembler.Evaluate("$ + 3", 9), 0x200 + 12);
  EXPECT_EQ(rig.assembler.Evaluate("lbl + lbl2", 9), 0x100 + 0x120 + 18);
  EXPECT_EQ(rig.assembler.Evaluate("c5", 9), 5);
}

TEST(Evaluator, DeepNestingWorks) {
  Rig rig;
  const std::string text = std::string(500, '(') + "7" + std::string(500, ')');
  EXPECT_EQ(rig.assembler.Evaluate(text), 7);
  EXPECT_EQ(rig.TakeOutput(), "");
}

struct RelocationCase {
  const char* expression;
  bool relocatable;
  bool reports214;
};

class Relocation : public ::testing::TestWithParam<RelocationCase> {};

TEST_P(Relocation, TellsAddressesFromConstants) {
  const std::string expected214 =
      GetParam().reports214 ? Err(214, "Relocatable code cannot be generated for local expression") : "";
  const std::vector<std::int32_t> expectedRelocations =
      GetParam().relocatable ? std::vector<std::int32_t>{0x41} : std::vector<std::int32_t>{};
  for (const bool reuse : {false, true}) {
    Rig rig;
    DefineSymbols(rig);
    // An evaluation made before stands for the probe's own one.
    const Evaluation placed = rig.assembler.EvaluateTracked(GetParam().expression);
    EXPECT_EQ(rig.assembler.CheckRelocatable(GetParam().expression, 0x41, reuse ? &placed : nullptr),
              GetParam().relocatable)
        << GetParam().expression;
    EXPECT_EQ(rig.TakeOutput(), expected214) << GetParam().expression;
    EXPECT_EQ(rig.image.LocalRelocations().addresses, expectedRelocations);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Relocation,
    ::testing::Values(RelocationCase{"5", false, false}, RelocationCase{"lbl + 5", true, false},
                      RelocationCase{"$ + 2", true, false}, RelocationCase{"lbl2 - lbl", false, false},
                      RelocationCase{"(lbl2 - lbl) * 4", false, false}, RelocationCase{"lbl2 - lbl + lbl", true, false},
                      RelocationCase{"lbl * 2", true, true}, RelocationCase{"-lbl", true, true},
                      RelocationCase{"lbl + lbl2", true, true}, RelocationCase{"lbl >> 8", true, true},
                      RelocationCase{"lbl & $FF", true, true}, RelocationCase{"lbl | 1", true, true},
                      RelocationCase{"ext", false, false}, RelocationCase{"lbl / 2", true, true}));

// A division whose divisor is 0 only when the code is moved: the moved
// evaluation is made, never derived, whether or not one made before stands
// for the placed one.
TEST(Relocation, ADivisorThatIsZeroOnlyWhenMovedIsReported) {
  for (const bool reuse : {false, true}) {
    Rig rig;
    DefineSymbols(rig);
    const Evaluation placed = rig.assembler.EvaluateTracked("5 / (lbl - $109)");
    EXPECT_TRUE(rig.assembler.CheckRelocatable("5 / (lbl - $109)", std::nullopt, reuse ? &placed : nullptr));
    EXPECT_EQ(rig.TakeOutput(),
              Err(301, "Division by 0") + Err(214, "Relocatable code cannot be generated for local expression"));
  }
}

TEST(Relocation, EachEvaluationOfTheProbeReportsAgain) {
  Rig rig;
  DefineSymbols(rig);
  const Evaluation placed = rig.assembler.EvaluateTracked("lbl + u1 + u2");
  EXPECT_TRUE(rig.assembler.CheckRelocatable("lbl + u1 + u2", std::nullopt, &placed));
  const std::string twice = Err(216, "Symbol not defined: \"u1\"") + Err(216, "Symbol not defined: \"u2\"");
  EXPECT_EQ(rig.TakeOutput(), twice + twice + twice);
}

TEST(Probes, ScanIdentifiersAsTheEvaluatorReadsThem) {
  Rig rig;
  DefineSymbols(rig);
  EXPECT_TRUE(rig.assembler.HasExternal("$C000 + ext", 0x101));
  EXPECT_FALSE(rig.assembler.HasExternal("$C000", std::nullopt));
  EXPECT_FALSE(rig.assembler.HasExternal("'A' + 1", std::nullopt));
  EXPECT_TRUE(rig.assembler.HasExternal("A", std::nullopt));
  EXPECT_FALSE(rig.assembler.HasExternal("@ext", std::nullopt));  // local names are never external
  EXPECT_FALSE(rig.assembler.HasExternal("bound", std::nullopt));
  EXPECT_TRUE(rig.assembler.HasBoundExternal("1 + bound", 0x202));
  ASSERT_EQ(rig.image.ExternalCount(), 1u);
  EXPECT_EQ(rig.image.External(0).name, "ext");
  EXPECT_EQ(rig.image.External(0).addresses, (std::vector<std::int32_t>{0x101, 0x202}));
  EXPECT_EQ(rig.TakeOutput(), "");
}

class LinksFromEvaluation : public ::testing::TestWithParam<const char*> {};

// What an evaluation found stands for what scanning its text finds.
TEST_P(LinksFromEvaluation, AgreeWithTheScans) {
  Rig rig;
  DefineSymbols(rig);
  const Evaluation evaluation = rig.assembler.EvaluateTracked(GetParam());
  const bool external = rig.assembler.HasExternal(GetParam(), std::nullopt);
  const bool bound = rig.assembler.HasBoundExternal(GetParam(), std::nullopt);
  const auto links = rig.assembler.ExternalLinks(GetParam(), evaluation, 0x10);
  EXPECT_EQ(links.external, external) << GetParam();
  EXPECT_EQ(links.bound, bound) << GetParam();
  std::size_t recorded = 0;
  for (std::size_t i = 0; i < rig.image.ExternalCount(); ++i) recorded += rig.image.External(i).addresses.size();
  EXPECT_EQ(recorded, static_cast<std::size_t>(external) + static_cast<std::size_t>(bound)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Rows, LinksFromEvaluation,
                         ::testing::Values("ext + 1", "1 + bound", "ext + bound", "lbl + c5", "(ext) + 2", "ext + ext2",
                                           "5 ) + ext", "2 * ext", "'A' + $C000", "(1 + (bound))", "ext + ("));

TEST(Probes, FirstExternalNameFollowsBindings) {
  Rig rig;
  DefineSymbols(rig);
  EXPECT_EQ(rig.assembler.FirstExternalName("1 + ext2"), std::optional<std::string>("ext2"));
  EXPECT_EQ(rig.assembler.FirstExternalName("bound + 1"), std::optional<std::string>("ext"));
  EXPECT_EQ(rig.assembler.FirstExternalName("lbl + 1"), std::nullopt);
}

TEST(Probes, AFiveHundredTwelfthExternalIsRefused) {
  Rig rig;
  for (int i = 0; i <= kMaxExternalSymbols; ++i) {
    const std::string name = std::string("e").append(std::to_string(i));
    rig.assembler.Symbols().Define(name, 0, true, false, false, std::nullopt);
    rig.assembler.HasExternal(name, i * 4);
  }
  EXPECT_EQ(rig.image.ExternalCount(), static_cast<std::size_t>(kMaxExternalSymbols));
  EXPECT_EQ(rig.TakeOutput(), Err(225, "Too many external symbols (max of 511)"));
}

}  // namespace
}  // namespace torvik::test
