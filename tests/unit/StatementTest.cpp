#include <gtest/gtest.h>

#include <string>

#include "Statement.h"

namespace torvik::test {
namespace {

constexpr std::size_t kWholeField = std::string_view::npos;

// Each row: a prepared line (and where pass 1 cut its label, if it did),
// and its fields; the statements as ForEachStatement gives them, each
// between brackets.
struct SplitCase {
  const char* line;
  std::size_t labelEnd;
  const char* label;
  bool isPublic;
  bool assignment;
  const char* expression;
  const char* statements;
};

std::string Statements(std::string_view text) {
  std::string joined;
  ForEachStatement(text, [&joined](std::string_view statement) {
    joined.append("[").append(statement).append("]");
    return true;
  });
  return joined;
}

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.line; }

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, GivesTheFieldsOfTheLine) {
  const SplitCase& c = GetParam();
  const LineFields fields = c.labelEnd == kWholeField ? SplitLine(c.line) : SplitLine(c.line, c.labelEnd);
  EXPECT_EQ(fields.label, c.label) << c.line;
  EXPECT_EQ(fields.isPublic, c.isPublic) << c.line;
  EXPECT_EQ(fields.assignment, c.assignment) << c.line;
  EXPECT_EQ(fields.expression, c.expression) << c.line;
  EXPECT_EQ(Statements(fields.statements), c.statements) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Split,
    ::testing::Values(SplitCase{"", kWholeField, "", false, false, "", ""},
                      SplitCase{"  nop", kWholeField, "", false, false, "", "[nop]"},
                      SplitCase{".db 1", kWholeField, "", false, false, "", "[.db 1]"},
                      SplitCase{"start:: ld a,1", kWholeField, "start", true, false, "", "[ld a,1]"},
                      SplitCase{"loop: nop\\  nop\\", kWholeField, "loop", false, false, "", "[nop][nop]"},
                      SplitCase{"end2 nop", kWholeField, "end2", false, false, "", "[nop]"},
                      SplitCase{"a:::b", kWholeField, "a", true, false, "", "[:b]"},
                      SplitCase{":x", kWholeField, "", false, false, "", "[x]"},
                      SplitCase{"value = loop + 2", kWholeField, "value", false, true, " loop + 2", ""},
                      // an assignment is never public, and its '=' may stand anywhere
                      SplitCase{"x:: = 5", kWholeField, "x", false, true, " 5", ""},
                      SplitCase{"msg: .db \"a=b\"", kWholeField, "msg", false, true, "b\"", ""},
                      // pass 1 reads on where it cut the label
                      SplitCase{"la$b: nop", 2, "la", false, false, "", "[$b: nop]"},
                      SplitCase{"lab:: nop", 3, "lab", true, false, "", "[nop]"}));

}  // namespace
}  // namespace torvik::test
