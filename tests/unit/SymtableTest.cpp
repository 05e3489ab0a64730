#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "Harness.h"
#include "Text.h"

namespace torvik::test {
namespace {

constexpr auto kNone = std::nullopt;

void DefineLabel(Rig& rig, const std::string& name, std::int32_t value, bool isPublic = false) {
  rig.assembler.Symbols().Define(name, value, false, true, isPublic, kNone);
}

TEST(Symtable, LocalLabelsAreQualifiedByTheTopLevelLabel) {
  Rig rig;
  CSymTable& symbols = rig.assembler.Symbols();
  rig.assembler.SetCurrentLabel("start");
  DefineLabel(rig, "@loop", 7, true);
  EXPECT_TRUE(symbols.Exists("@start@loop"));
  EXPECT_FALSE(symbols.Exists("@loop"));
  EXPECT_EQ(symbols.Value("@loop"), 7);
  EXPECT_EQ(symbols.CountPublic(), 0);  // a local label is never public
  rig.assembler.SetCurrentLabel("other");
  EXPECT_EQ(symbols.Value("@loop"), 0);
  EXPECT_EQ(rig.TakeOutput(), "Error #216 in t.asm, line 1: Symbol not defined: \"@other@loop\"\n");
}

struct ExpansionCase {
  std::size_t localLength;  // the local name, its '@' included
  std::size_t topLength;
  const char* output;
};

class Expansion : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(Expansion, ChecksLengthBeforeTheMissingTopLabel) {
  Rig rig;
  const std::string local = "@" + std::string(GetParam().localLength - 1, 'l');
  rig.assembler.SetCurrentLabel(std::string(GetParam().topLength, 't'));
  DefineLabel(rig, local, 1);
  EXPECT_EQ(rig.TakeOutput(), GetParam().output);
  EXPECT_EQ(rig.assembler.Symbols().Count(), std::string(GetParam().output).empty() ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Expansion,
    ::testing::Values(ExpansionCase{40, 22, ""},
                      ExpansionCase{40, 23, "Error #220 in t.asm, line 1: Local label too long when expanded\n"},
                      ExpansionCase{5, 0, "Error #221 in t.asm, line 1: No top-level public label for local label\n"},
                      ExpansionCase{63, 0, "Error #220 in t.asm, line 1: Local label too long when expanded\n"}));

struct ValueCase {
  std::int32_t value;
  std::int32_t stored;
  bool warns;
};

class Reduction : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Reduction, KeepsTheRemainderWithTheSignOfTheValue) {
  Rig rig;
  DefineLabel(rig, "x", GetParam().value);
  EXPECT_EQ(rig.assembler.Symbols().Value("x"), GetParam().stored);
  EXPECT_EQ(rig.assembler.WarningCount(), GetParam().warns ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, Reduction,
                         ::testing::Values(ValueCase{65535, 65535, false}, ValueCase{65536, 0, true},
                                           ValueCase{70000, 4464, true}, ValueCase{-1, -1, false},
                                           ValueCase{-70000, -4464, false}, ValueCase{INT32_MIN, 0, false}));

TEST(Symtable, RedefinitionWarnsWhenEqualAndFailsWhenDifferent) {
  Rig rig;
  DefineLabel(rig, "x", 5);
  DefineLabel(rig, "x", 5);
  DefineLabel(rig, "x", 6);
  rig.assembler.Symbols().Define("y", 4464, false, false, false, kNone);
  rig.assembler.Symbols().Define("y", 70000, false, false, false, kNone);
  EXPECT_EQ(rig.TakeOutput(),
            "Warning #200 in t.asm, line 1: Duplicate label \"x\"\n"
            "Error #205 in t.asm, line 1: Duplicate label \"x\" conflicts with previous definition\n"
            "Warning #201 in t.asm, line 1: Symbol table entry truncated to 16 bits\n"
            "Warning #200 in t.asm, line 1: Duplicate label \"y\"\n");
  EXPECT_EQ(rig.assembler.Symbols().Value("x"), 5);
}

TEST(Symtable, DuplicateLocalLabelNamesItsShortForm) {
  Rig rig;
  rig.assembler.SetCurrentLabel("f");
  DefineLabel(rig, "@loop", 1);
  DefineLabel(rig, "@loop", 2);
  EXPECT_EQ(rig.TakeOutput(),
            "Error #205 in t.asm, line 1: Duplicate label \"@loop\" conflicts with previous definition\n");
}

TEST(Symtable, NamesAreComparedWithCase) {
  Rig rig;
  DefineLabel(rig, "Loop", 1);
  DefineLabel(rig, "loop", 2);
  EXPECT_EQ(rig.assembler.Symbols().Value("Loop"), 1);
  EXPECT_EQ(rig.assembler.Symbols().Value("loop"), 2);
  EXPECT_EQ(rig.TakeOutput(), "");
}

TEST(Symtable, FullTableRefusesNewNamesButStillChecksOldOnes) {
  Rig rig;
  for (int i = 0; i < kMaxSymbols; ++i) DefineLabel(rig, std::string("s").append(std::to_string(i)), i % 1000);
  EXPECT_EQ(rig.TakeOutput(), "");
  DefineLabel(rig, "onemore", 1);
  DefineLabel(rig, "s5", 5);
  DefineLabel(rig, "s6", 7);
  EXPECT_EQ(rig.TakeOutput(),
            "Error #206 in t.asm, line 1: Symbol table full (16384 entries)\n\n"
            "Warning #200 in t.asm, line 1: Duplicate label \"s5\"\n"
            "Error #205 in t.asm, line 1: Duplicate label \"s6\" conflicts with previous definition\n");
  // Every name survived the index growing under it.
  for (int i = 0; i < kMaxSymbols; ++i) {
    ASSERT_EQ(rig.assembler.Symbols().Value(std::string("s").append(std::to_string(i))), i % 1000) << i;
  }
}

TEST(Symtable, BindingsPointAtTheExternalRecord) {
  Rig rig;
  CSymTable& symbols = rig.assembler.Symbols();
  symbols.Define("ext", 0, true, false, false, kNone);
  symbols.Define("bound", 5, false, false, false, std::string_view("ext"));
  symbols.Define("unbound", 5, false, false, false, std::string_view("missing"));
  EXPECT_EQ(symbols.ExternalOf("bound"), std::optional<std::string_view>("ext"));
  EXPECT_EQ(symbols.ExternalOf("ext"), std::nullopt);
  EXPECT_EQ(symbols.ExternalOf("unbound"), std::nullopt);
  EXPECT_TRUE(symbols.IsExternal("ext"));
  EXPECT_FALSE(symbols.IsExternal("bound"));
  EXPECT_EQ(rig.TakeOutput(), "");
}

TEST(Symtable, PublicSymbolsComeOutInDefinitionOrder) {
  Rig rig;
  CSymTable& symbols = rig.assembler.Symbols();
  DefineLabel(rig, "b", 2, true);
  DefineLabel(rig, "hidden", 3);
  DefineLabel(rig, "a", 1, true);
  EXPECT_EQ(symbols.CountPublic(), 2);
  std::string name;
  std::int32_t value = 0;
  ASSERT_TRUE(symbols.NextPublic(name, value));
  EXPECT_EQ(name + std::to_string(value), "b2");
  ASSERT_TRUE(symbols.NextPublic(name, value));
  EXPECT_EQ(name + std::to_string(value), "a1");
  EXPECT_FALSE(symbols.NextPublic(name, value));
  EXPECT_FALSE(symbols.NextPublic(name, value));
  EXPECT_EQ(symbols.CountPublic(), 2);  // rewinds
  EXPECT_TRUE(symbols.NextPublic(name, value));
}

TEST(Symtable, OverlongNamesAreNeverFound) {
  Rig rig;
  const std::string longName(100, 'q');
  EXPECT_EQ(rig.assembler.Symbols().Value(longName), 0);
  EXPECT_FALSE(rig.assembler.Symbols().Exists(longName));
  EXPECT_EQ(rig.assembler.Symbols().IndexOf(longName), -1);
  EXPECT_EQ(rig.TakeOutput(), "Error #216 in t.asm, line 1: Symbol not defined: \"" + longName + "\"\n");
}

TEST(Symtable, IsRelocatableOfAMissingNameIsSilent) {
  Rig rig;
  EXPECT_FALSE(rig.assembler.Symbols().IsRelocatable("nothing"));
  EXPECT_EQ(rig.TakeOutput(), "");
}

// Names as generated tables and numbered code name things must spread over
// the slots of the symbol index as well as random ones do: 16000 names in
// 32768 slots take about 79 percent as many slots as there are names.
struct SpreadCase {
  const char* scheme;
  std::string (*name)(int i);
};

std::string Numbered(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "sym%05d", i);
  return text;
}
std::string LongPrefix(int i) { return "level_data_generated_table_entry_" + Numbered(i); }
std::string CommonPrefix(int i) { return "player_" + std::to_string(i % 50) + "_" + std::to_string(i / 50); }
std::string OneCharacterApart(int i) {
  std::string name = "spritepatterntable" + std::to_string(i / (18 * 26));
  name[static_cast<std::size_t>(i % 18)] = static_cast<char>('A' + i / 18 % 26);
  return name;
}
std::string Short(int i) {
  return {static_cast<char>('a' + i % 26), static_cast<char>('a' + i / 26 % 26), static_cast<char>('0' + i / 676)};
}

class Spread : public ::testing::TestWithParam<SpreadCase> {};

TEST_P(Spread, NamesTakeAsManySlotsAsRandomOnesWould) {
  constexpr int kNames = 16000;
  constexpr std::uint32_t kSlots = 32768;
  std::vector<bool> taken(kSlots, false);
  int distinct = 0;
  for (int i = 0; i < kNames; ++i) {
    const std::uint32_t slot = HashText(GetParam().name(i)) & (kSlots - 1);
    distinct += taken[slot] ? 0 : 1;
    taken[slot] = true;
  }
  EXPECT_GT(distinct, kNames * 3 / 4) << GetParam().scheme;
}

INSTANTIATE_TEST_SUITE_P(Schemes, Spread,
                         ::testing::Values(SpreadCase{"numbered", Numbered}, SpreadCase{"long prefix", LongPrefix},
                                           SpreadCase{"common prefix", CommonPrefix},
                                           SpreadCase{"one character apart", OneCharacterApart},
                                           SpreadCase{"short", Short}));

}  // namespace
}  // namespace torvik::test
