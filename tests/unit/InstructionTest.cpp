#include <gtest/gtest.h>

#include "Harness.h"

namespace torvik::test {
namespace {

struct RowCase {
  const char* line;
  int code;            // 0: loads
  const char* opcode;  // the stored opcode bytes, in column order, and the flags
  int length;
  const char* pattern;
};

std::string HexByte(std::uint8_t byte) { return ToHex(std::string(1, static_cast<char>(byte))); }

// An untyped row as its opcode bytes and flags; a typed row as its bytes
// in emitted order, each operand shown as its place in the pattern and
// the offset of its byte.
std::string Describe(const InstructionEntry& row) {
  std::string text;
  if (!row.IsTyped()) {
    for (int i = 0; i < row.opcodeCount; ++i) text += HexByte(row.opcode[static_cast<std::size_t>(i)]) + " ";
    return text + (row.IsBitRow() ? "bit " : "") + (row.IsRelativeRow() ? "relative " : "");
  }
  for (int s = 0; s < row.stepCount; ++s) {
    const EmitStep& step = row.steps[static_cast<std::size_t>(s)];
    if (step.operand < 0) {
      text += HexByte(step.byte) + " ";
      continue;
    }
    const TypedOperand& operand = row.operands[static_cast<std::size_t>(step.operand)];
    if (operand.width == 0) text += HexByte(step.byte) + "+";
    text += std::to_string(step.operand) + "@" + std::to_string(operand.at) + " ";
  }
  return text + (row.hasWord ? "word " : "");
}

class ParseRow : public ::testing::TestWithParam<RowCase> {};

// Untyped rows load as they always did, odd ones included; a row with a
// type letter is typed, and a wrong one is refused.
TEST_P(ParseRow, ReadsFiveFieldsAndChecksTheRow) {
  InstructionEntry row;
  int argument = 0;
  const int code = CInstruction::ParseRow(GetParam().line, row, argument);
  EXPECT_EQ(code, GetParam().code) << GetParam().line;
  if (code != 0) return;
  EXPECT_EQ(Describe(row), GetParam().opcode) << GetParam().line;
  EXPECT_EQ(row.length, GetParam().length);
  EXPECT_EQ(row.pattern, GetParam().pattern);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParseRow,
    ::testing::Values(RowCase{"LD A,B 78 1 0", 0, "78 ", 1, "A,B"},
                      RowCase{"BIT\t!,A 47CB 2 0", 0, "47 CB bit ", 2, "!,A"},
                      RowCase{"NOP \"\" 00 1 0", 0, "00 ", 1, ""}, RowCase{"NOP \"junk 00 1 0", 0, "00 ", 1, ""},
                      RowCase{"X Y ZZ 1 0", 0, "", 1, "Y"}, RowCase{"X Y 12ZZ 1 0", 0, "12 ", 1, "Y"},
                      RowCase{"X Y ABC 2 0", 0, "AB 0C ", 2, "Y"}, RowCase{"X Y 00 0x3 0", 0, "00 ", 3, "Y"},
                      RowCase{"X Y 0001020304050607 010 0", 0, "00 01 02 03 04 05 06 07 ", 8, "Y"},
                      RowCase{"X Y 00 1 0 more fields", 0, "00 ", 1, "Y"},
                      RowCase{"X Y 0102030405060708090A 8 0", 0, "01 02 03 04 05 06 07 08 ", 8, "Y"},
                      RowCase{"X Y 00 0 0", 402, "", 0, ""}, RowCase{"X Y 00 9 0", 402, "", 0, ""},
                      RowCase{"X Y 00 011 0", 402, "", 0, ""}, RowCase{"   \t ", 401, "", 0, ""},
                      RowCase{"X Y 00 1", 401, "", 0, ""}, RowCase{"X Y 00 one 0", 401, "", 0, ""},
                      RowCase{"X Y 0102 1 0", 408, "", 0, ""},   // shorter than its opcode
                      RowCase{"X * 01 4 0", 408, "", 0, ""},     // three operand bytes
                      RowCase{"JR @ 18 3 0", 408, "", 0, ""}));  // two displacement bytes

INSTANTIATE_TEST_SUITE_P(UntypedAsBefore, ParseRow,
                         ::testing::Values(RowCase{"BIT !,(IX) 4600CBDD 4 0", 0, "46 00 CB DD bit ", 4, "!,(IX)"},
                                           RowCase{"JR NZ,@ 20 2 0", 0, "20 relative ", 2, "NZ,@"},
                                           RowCase{"X *,! 47CB 3 0", 0, "47 CB bit ", 3, "*,!"},
                                           RowCase{"ld x,y 11 1 0", 0, "11 ", 1, "x,y"},  // letters that name no type
                                           RowCase{"X (IX*) 7edd 3 0", 0, "7E DD ", 3, "(IX*)"},  // lower-case hex
                                           RowCase{"X Y 0x12 2 0", 0, "00 12 ", 2, "Y"},
                                           RowCase{"X \"n 00 1 0", 0, "00 ", 1, ""}));  // a quote empties it first

INSTANTIATE_TEST_SUITE_P(Typed, ParseRow,
                         ::testing::Values(RowCase{"LD A,(IXd) DD7Ed 3 0", 0, "DD 7E 0@2 ", 3, "A,(IXd)"},
                                           RowCase{"LD (IXd),n DD36dn 4 0", 0, "DD 36 0@2 1@3 ", 4, "(IXd),n"},
                                           RowCase{"BIT b,(IYd) FDCBd46+b 4 0", 0, "FD CB 1@2 46+0@3 ", 4, "b,(IYd)"},
                                           RowCase{"NR n,n ED91nn 4 0", 0, "ED 91 0@2 1@3 ", 4, "n,n"},
                                           RowCase{"J w,e C3we 4 0", 0, "C3 0@1 1@3 word ", 4, "w,e"},
                                           RowCase{"PUSH m ED8Am 4 0", 0, "ED 8A 0@2 ", 4, "m"},
                                           RowCase{"JR r 18r 2 0", 0, "18 0@1 ", 2, "r"},
                                           RowCase{"X n 3Enn 3 0", 401, "", 0, ""},   // placed twice
                                           RowCase{"X n,n 3En 2 0", 401, "", 0, ""},  // one not placed
                                           RowCase{"X n 3en 2 0", 401, "", 0, ""},    // lower-case hex
                                           RowCase{"X n 3 2 0", 401, "", 0, ""},      // half a byte
                                           RowCase{"X b 46b 1 0", 401, "", 0, ""},    // a bit number not folded
                                           RowCase{"X n 46+n 1 0", 401, "", 0, ""},   // a byte folded
                                           RowCase{"X nn 3Enn 3 0", 401, "", 0, ""},  // the first could not end
                                           RowCase{"X *,n 3En 2 0", 401, "", 0, ""},  // a wildcard in a typed row
                                           RowCase{"X q,n 3En 2 0", 401, "", 0, ""},  // a letter that names no type
                                           RowCase{"X n 3En 3 0", 408, "", 0, ""},    // two bytes, not three
                                           RowCase{"X w 3Ew 2 0", 408, "", 0, ""},
                                           RowCase{"X n 0102030405060708n 8 0", 408, "", 0, ""}));

class Loader : public ::testing::Test {
 protected:
  std::string Load(const std::string& table) {
    rig_.LoadTable(table);
    return rig_.lastLoadOutput;
  }
  Rig rig_;
};

TEST_F(Loader, ReportsFaultsUnderTheTableNameAndLine) {
  const std::string out = Load(
      "; a comment\n"
      "\n"
      "LD A,B 78 1 0\n"
      "   \n"
      "X Y 00 9 0 ; too long\n"
      "LD A,C 79 1 ; lost its fifth field\n"
      "LD A,D 7A 1 0");
  EXPECT_EQ(out, "Loading instruction table \"" + rig_.tablePath +
                     "\"\n"
                     "Error #401 in " +
                     rig_.tablePath +
                     ", line 4: Error parsing instruction table file\n"
                     "Error #402 in " +
                     rig_.tablePath +
                     ", line 5: Opcode size must be between 1 and 8 bytes\n"
                     "Error #401 in " +
                     rig_.tablePath + ", line 6: Error parsing instruction table file\n");
  ASSERT_EQ(rig_.assembler.Instructions().RowCount(), 2);
  EXPECT_EQ(rig_.assembler.Instructions().Row(1).mnemonic, "LD");
  EXPECT_EQ(rig_.assembler.Instructions().Row(1).opcode[0], 0x7A);
}

TEST_F(Loader, LineOf1022CharactersLoadsAnd1023EndsTheLoad) {
  const std::string padded = "NOP \"\" 00 1 0" + std::string(1022 - 13, ' ');
  const std::string tooLong = "NOP \"\" 00 1 0" + std::string(1023 - 13, ' ');
  const std::string out = Load(padded + "\n" + tooLong + "\nHALT \"\" 76 1 0\n");
  EXPECT_EQ(out, "Loading instruction table \"" + rig_.tablePath +
                     "\"\n"
                     "Error #403 in " +
                     rig_.tablePath + ", line 2: Line exceeds 1023 characters\n");
  EXPECT_EQ(rig_.assembler.Instructions().RowCount(), 1);
}

// A table longer than one read of the file, whose lines come both in plain
// runs and one by one (after a carriage return or a NUL): every line is
// counted once, in order, and every row is read the same either way.
TEST_F(Loader, LinesReadInRunsAndOneByOneAgree) {
  std::string table;
  std::vector<int> refused;  // line numbers
  int rows = 0;
  for (int line = 1; line <= 3000; ++line) {
    if (line % 10 == 0) {
      table += "X Y 00 9 0\n";
      refused.push_back(line);
    } else if (line % 6 == 0) {
      table += line % 4 == 0 ? "LD A,B 78 1 0\r\n" : std::string("LD A,C 79 1 0 ;\0junk\n", 22);
      ++rows;
    } else {
      table += "; a comment long enough to take the table past one read of the file\n";
    }
  }
  EXPECT_GT(table.size(), 128u * 1024);
  const std::string out = Load(table);
  std::string expected = "Loading instruction table \"" + rig_.tablePath + "\"\n";
  for (const int line : refused) {
    expected += "Error #402 in " + rig_.tablePath + ", line " + std::to_string(line) +
                ": Opcode size must be between 1 and 8 bytes\n";
  }
  EXPECT_TRUE(out == expected) << out.substr(0, 400);
  ASSERT_EQ(rig_.assembler.Instructions().RowCount(), rows);
  for (int row = 0; row < rows; ++row) {
    const InstructionEntry& entry = rig_.assembler.Instructions().Row(row);
    EXPECT_EQ(entry.mnemonic, "LD");
    EXPECT_TRUE(entry.pattern == "A,B" || entry.pattern == "A,C") << row;
    EXPECT_EQ(entry.opcode[0], entry.pattern == "A,B" ? 0x78 : 0x79) << row;
  }
}

TEST_F(Loader, StoresAtMost599Rows) {
  std::string table;
  for (int i = 0; i < 600; ++i) table += "NOP \"\" 00 1 0\n";
  const std::string out = Load(table);
  EXPECT_EQ(out, "Loading instruction table \"" + rig_.tablePath +
                     "\"\n"
                     "Error #406 in " +
                     rig_.tablePath + ", line 600: Maximum of 600 instructions in table exceeded\n");
  EXPECT_EQ(rig_.assembler.Instructions().RowCount(), 599);
}

// A mnemonic's rows belong together wherever they stand in the table and
// however they are spelt; the first row that fits wins.
TEST_F(Loader, RowsOfOneMnemonicAreFoundTogetherInTableOrder) {
  Load(
      "ld A,B 78 1 0\n"
      "nop \"\" 00 1 0\n"
      "Ld A,C 79 1 0\n"
      "LONGERMNEMONIC * 01 2 0\n"
      "LD A,* 3E 2 0\n");
  CInstruction& instructions = rig_.assembler.Instructions();
  const struct {
    const char* statement;
    int row;
  } cases[] = {{"LD A,B", 0}, {"ld a,c", 2}, {"lD a,7", 4}, {"NOP", 1}, {"longerMnemonic 5", 3}};
  for (const auto& c : cases) {
    const auto match = instructions.Match(c.statement);
    ASSERT_TRUE(match) << c.statement;
    EXPECT_EQ(match->row, c.row) << c.statement;
  }
  EXPECT_FALSE(instructions.Match("LONGERMNEMONI 5"));
  EXPECT_FALSE(instructions.Match("L 5"));
}

TEST_F(Loader, MissingFileIsReportedAtLineZero) {
  rig_.assembler.SetFileNameOverride("nowhere.tab");
  rig_.assembler.SetLineCounter(0);
  rig_.assembler.Instructions().Load("nowhere.tab");
  EXPECT_EQ(rig_.TakeOutput(),
            "Loading instruction table \"nowhere.tab\"\n"
            "Error #400 in nowhere.tab, line 0: Unable to open instruction table file \"nowhere.tab\"\n");
}

constexpr const char* kTable =
    "LD A,B 78 1 0\n"
    "LD A,(HL) 7E 1 0\n"
    "LD A,(*) 3A 3 0\n"
    "LD A,* 3E 2 0\n"
    "LD HL,* 21 3 0\n"
    "LD IX,* 21DD 4 0\n"
    "JP NZ,* C2 3 0\n"
    "JP * C3 3 0\n"
    "JR @ 18 2 0\n"
    "BIT !,A 47CB 2 0\n"
    "NOP \"\" 00 1 0\n"
    "EIGHTCHR * 3E 2 0\n"
    "NINECHARS * 06 2 0\n"
    "LDX A,(IXd) DD7Ed 3 0\n"
    "LDX (IXd),n DD36dn 4 0\n"
    "BIT b,(IXd) DDCBd46+b 4 0\n"
    "ADD SP,e E8e 2 0\n"
    "PUSH m ED8Am 4 0\n"
    "CALLX w,n CDwn 4 0\n"
    "JX w E9w 3 0\n"
    "JRX r 18r 2 0\n"
    "LDH (h),A E0h 2 0\n";

struct EncodeCase {
  const char* statement;
  const char* bytes;
  int size;
  std::string output;
};

std::string Err(int code, const std::string& text) {
  return "Error #" + std::to_string(code) + " in t.asm, line 1: " + text + "\n";
}
std::string Warn(int code, const std::string& text) {
  return "Warning #" + std::to_string(code) + " in t.asm, line 1: " + text + "\n";
}

class Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, EmitsTheFirstRowThatFits) {
  Rig rig;
  rig.LoadTable(kTable);
  CSymTable& symbols = rig.assembler.Symbols();
  symbols.Define("lbl", 0x10, false, true, false, std::nullopt);
  symbols.Define("ext", 0, true, false, false, std::nullopt);
  symbols.Define("bound", 2, false, false, false, std::string_view("ext"));
  rig.AtLocation(0x100);
  const int size = rig.assembler.Instructions().Encode(GetParam().statement);
  const auto& code = rig.image.Code();
  EXPECT_EQ(ToHex(std::string(code.begin(), code.end())), GetParam().bytes) << GetParam().statement;
  EXPECT_EQ(size, GetParam().size) << GetParam().statement;
  EXPECT_EQ(rig.TakeOutput(), GetParam().output) << GetParam().statement;
}

INSTANTIATE_TEST_SUITE_P(
    Matching, Encode,
    ::testing::Values(EncodeCase{"ld a,b", "78", 1, ""}, EncodeCase{"  Ld A,(hl)  ", "7E", 1, ""},
                      EncodeCase{"ld a,(5)", "3A 05 00", 3, ""}, EncodeCase{"ld a,(2+(1))", "3E 03", 2, ""},
                      EncodeCase{"nop", "00", 1, ""}, EncodeCase{"nop   ", "00", 1, ""},
                      EncodeCase{"nop x", "", 0, Err(405, "Unrecognized argument format for \"nop\" instruction")},
                      EncodeCase{"foo 1", "", 0, Err(404, "Unrecognized instruction: \"foo\"")},
                      EncodeCase{"EightChr 7", "3E 07", 2, ""}, EncodeCase{"ninechars 7", "06 07", 2, ""},
                      EncodeCase{"eightch 7", "", 0, Err(404, "Unrecognized instruction: \"eightch\"")},
                      EncodeCase{"ninechar 7", "", 0, Err(404, "Unrecognized instruction: \"ninechar\"")},
                      EncodeCase{"ninecharsx 7", "", 0, Err(404, "Unrecognized instruction: \"ninecharsx\"")},
                      EncodeCase{"   ", "", 0, ""}));

// Blanks are passed over before every fixed pattern character and around
// every capture, so the row meant is the one that fits.
INSTANTIATE_TEST_SUITE_P(
    Blanks, Encode,
    ::testing::Values(EncodeCase{"ld a, (5)", "3A 05 00", 3, ""}, EncodeCase{"ld a , b", "78", 1, ""},
                      EncodeCase{"ld a,( 2+1 )  ", "3A 03 00", 3, ""}, EncodeCase{"ld a, ' '", "3E 20", 2, ""},
                      EncodeCase{"ldx a,( ix + 1 )", "DD 7E 01", 3, ""}, EncodeCase{"ldx a,( ix )", "DD 7E 00", 3, ""},
                      EncodeCase{"ld a,  ", "3E 00", 2, Err(300, "Invalid expression: \"  \"")}));

INSTANTIATE_TEST_SUITE_P(
    Values, Encode,
    ::testing::Values(
        EncodeCase{"ld a,256", "3E 00", 2, Warn(401, "Argument value truncated to 8 bits")},
        EncodeCase{"ld a,-1", "3E FF", 2, ""},
        EncodeCase{"ld hl,$12345", "21 45 23", 3, Warn(400, "Argument value truncated to 16 bits")},
        EncodeCase{"bit 3,a", "CB 5F", 2, ""}, EncodeCase{"bit 9,a", "CB 4F", 2, Warn(402, "Illegal bit value")},
        EncodeCase{"bit -1,a", "CB 3F", 2, ""}, EncodeCase{"bit -9,a", "CB 3F", 2, ""},
        EncodeCase{"bit ext,a", "CB 47", 2, Err(212, "External symbol cannot be used as 8 bit constant")},
        EncodeCase{"bit bound,a", "CB 57", 2, Err(212, "External symbol cannot be used as 8 bit constant")},
        EncodeCase{"bit lbl-$10,a", "CB 47", 2, Err(217, "Relative symbol cannot be used as 8 bit constant")}));

INSTANTIATE_TEST_SUITE_P(
    TypedOperands, Encode,
    ::testing::Values(
        EncodeCase{"ldx a,(ix+128)", "DD 7E 80", 3, Err(226, "Signed 8 bit value out of range")},
        EncodeCase{"ldx a,(ix-129)", "DD 7E 7F", 3, Err(226, "Signed 8 bit value out of range")},
        EncodeCase{"ldx a,(ix+lbl)", "DD 7E 10", 3, Err(217, "Relative symbol cannot be used as 8 bit constant")},
        EncodeCase{"ldx a,(ix+ext)", "DD 7E 00", 3, Err(212, "External symbol cannot be used as 8 bit constant")},
        EncodeCase{"ldx (ix),256", "DD 36 00 00", 4, Warn(401, "Argument value truncated to 8 bits")},
        EncodeCase{"ldx (ix+2), ", "DD 36 02 00", 4, Err(306, "Value or expression expected")},
        EncodeCase{"bit 9,(ix)", "DD CB 00 4E", 4, Warn(402, "Illegal bit value")},
        EncodeCase{"bit ext,(ix)", "DD CB 00 46", 4, Err(212, "External symbol cannot be used as 8 bit constant")},
        EncodeCase{"add sp,-2", "E8 FE", 2, ""},
        EncodeCase{"add sp,", "E8 00", 2, Err(306, "Value or expression expected")},
        EncodeCase{"push $1234", "ED 8A 12 34", 4, ""},
        EncodeCase{"push $12345", "ED 8A 23 45", 4, Warn(400, "Argument value truncated to 16 bits")},
        EncodeCase{"push lbl", "ED 8A 00 10", 4, Err(217, "Relative symbol cannot be used as 8 bit constant")},
        EncodeCase{"push bound", "ED 8A 00 02", 4, Err(212, "External symbol cannot be used as 8 bit constant")},
        EncodeCase{"callx ext+1,5", "CD 01 00 00 05", 5, ""},
        EncodeCase{"jx ext", "E9 00 00 00", 4, Err(407, "External relocation not supported for instruction")},
        EncodeCase{"jrx $182", "18 80", 2, Err(213, "Relative jump too long")},
        EncodeCase{
            "jrx ext", "18 FE", 2,
            Err(215, "External symbol cannot be the target of a relative jump") + Err(213, "Relative jump too long")}));

INSTANTIATE_TEST_SUITE_P(
    HighPage, Encode,
    ::testing::Values(
        EncodeCase{"ldh ($FF40),a", "E0 40", 2, ""}, EncodeCase{"ldh ($40),a", "E0 40", 2, ""},
        EncodeCase{"ldh (0),a", "E0 00", 2, ""}, EncodeCase{"ldh ($FFFF),a", "E0 FF", 2, ""},
        EncodeCase{"ldh ($FF00),a", "E0 00", 2, ""}, EncodeCase{"ldh ($FF),a", "E0 FF", 2, ""},
        EncodeCase{"ldh ($100),a", "E0 00", 2, Err(227, "Address outside the high page $FF00 to $FFFF")},
        EncodeCase{"ldh ($FEFF),a", "E0 FF", 2, Err(227, "Address outside the high page $FF00 to $FFFF")},
        EncodeCase{"ldh ($10000),a", "E0 00", 2, Err(227, "Address outside the high page $FF00 to $FFFF")},
        EncodeCase{"ldh (-1),a", "E0 FF", 2, Err(227, "Address outside the high page $FF00 to $FFFF")},
        EncodeCase{"ldh (lbl),a", "E0 10", 2, Err(217, "Relative symbol cannot be used as 8 bit constant")},
        EncodeCase{"ldh (ext),a", "E0 00", 2, Err(212, "External symbol cannot be used as 8 bit constant")}));

INSTANTIATE_TEST_SUITE_P(
    RelativeJumps, Encode,
    ::testing::Values(EncodeCase{"jr $102", "18 00", 2, ""}, EncodeCase{"jr $181", "18 7F", 2, ""},
                      EncodeCase{"jr $182", "18 80", 2, Err(213, "Relative jump too long")},
                      EncodeCase{"jr $82", "18 80", 2, ""},
                      EncodeCase{"jr $81", "18 7F", 2, Err(213, "Relative jump too long")},
                      EncodeCase{"jr ext", "18 FE", 2,
                                 Err(215, "External symbol cannot be the target of a relative jump") +
                                     Err(213, "Relative jump too long")},
                      EncodeCase{"jr bound", "18 00", 2,
                                 Err(215, "External symbol cannot be the target of a relative jump") +
                                     Err(213, "Relative jump too long")}));

INSTANTIATE_TEST_SUITE_P(
    ExternalsAndRelocations, Encode,
    ::testing::Values(
        EncodeCase{"jp ext", "C3 00 00 00", 4, ""}, EncodeCase{"ld hl,ext+2", "21 02 00 00", 4, ""},
        EncodeCase{"jp nz,ext", "C2 00 00 00", 4, Err(407, "External relocation not supported for instruction")},
        EncodeCase{"ld ix,ext", "DD 21 00 00 00", 5, Err(407, "External relocation not supported for instruction")},
        EncodeCase{"ld a,ext", "3E 00", 2, Err(212, "External symbol cannot be used as 8 bit constant")},
        EncodeCase{"ld a,bound", "3E 02", 2, Err(212, "External symbol cannot be used as 8 bit constant")},
        EncodeCase{"ld a,lbl", "3E 10", 2, Err(217, "Relative symbol cannot be used as 8 bit constant")},
        EncodeCase{"jp bound", "C3 02 00", 3, ""}));

TEST(Encode, RecordsAtTheOperandAndAddsALineRecord) {
  Rig rig;
  rig.LoadTable(kTable);
  rig.assembler.Symbols().Define("lbl", 0x10, false, true, false, std::nullopt);
  rig.assembler.Symbols().Define("ext", 0, true, false, false, std::nullopt);
  rig.AtLocation(0x100);
  rig.assembler.SetLineCounter(12);
  rig.assembler.Instructions().Encode("ld ix,lbl");
  rig.AtLocation(0x104);
  rig.assembler.Instructions().Encode("jp ext");
  EXPECT_EQ(rig.image.LocalRelocations().addresses, std::vector<std::int32_t>{0x102});
  ASSERT_EQ(rig.image.ExternalCount(), 1u);
  EXPECT_EQ(rig.image.External(0).addresses, std::vector<std::int32_t>{0x105});
  ASSERT_EQ(rig.image.LineRecords().size(), 2u);
  EXPECT_EQ(rig.image.LineRecords()[0].address, 0x100);
  EXPECT_EQ(rig.image.LineRecords()[0].line, 12);
  EXPECT_EQ(rig.image.LineRecords()[1].address, 0x104);
}

TEST(Encode, ABlankBeforeAFixedCharacterIsPassedOverButNoOtherCharacter) {
  Rig rig;
  rig.LoadTable("LD A,B 78 1 0\n");
  EXPECT_EQ(rig.assembler.Instructions().Encode("ld a,b"), 1);
  EXPECT_EQ(rig.assembler.Instructions().Encode("ld a, b"), 1);
  EXPECT_EQ(rig.assembler.Instructions().Encode("ld a,,b"), 0);
  EXPECT_EQ(rig.TakeOutput(), Err(405, "Unrecognized argument format for \"ld\" instruction"));
}

// An external word that is not the last operand moves the bytes after it
// by its extra byte, and what is recorded for them.
TEST(Encode, TypedWordsRecordAtTheirOwnBytes) {
  Rig rig;
  rig.LoadTable("TWO w,w CDww 5 0\n");
  rig.assembler.Symbols().Define("lbl", 0x10, false, true, false, std::nullopt);
  rig.assembler.Symbols().Define("ext", 0, true, false, false, std::nullopt);
  rig.AtLocation(0x100);
  std::optional<InstructionMatch> match;
  EXPECT_EQ(rig.assembler.Instructions().Size("two ext,lbl", match), 6);
  EXPECT_EQ(rig.assembler.Instructions().Encode("two ext,lbl", match), 6);
  const auto& code = rig.image.Code();
  EXPECT_EQ(ToHex(std::string(code.begin(), code.end())), "CD 00 00 00 10 00");
  ASSERT_EQ(rig.image.ExternalCount(), 1u);
  EXPECT_EQ(rig.image.External(0).addresses, std::vector<std::int32_t>{0x101});
  EXPECT_EQ(rig.image.LocalRelocations().addresses, std::vector<std::int32_t>{0x104});
  EXPECT_EQ(rig.TakeOutput(), "");
}

TEST(Encode, RowWithoutOpcodeEmitsItsOperandOnly) {
  Rig rig;
  rig.LoadTable("DATA * ZZ 2 0\nFLAG !,* ZZ 1 0\nJX * ZZ 2 0\n");
  rig.assembler.Symbols().Define("ext", 0, true, false, false, std::nullopt);
  EXPECT_EQ(rig.assembler.Instructions().Encode("data $1234"), 2);
  EXPECT_EQ(rig.assembler.Instructions().Encode("flag 3,7"), 1);
  EXPECT_EQ(rig.assembler.Instructions().Encode("jx ext"), 3);
  const auto& code = rig.image.Code();
  EXPECT_EQ(ToHex(std::string(code.begin(), code.end())), "34 12 07 00 00 00");
  EXPECT_EQ(rig.TakeOutput(), Err(407, "External relocation not supported for instruction"));
}

TEST(Size, CountsTheExtraByteOnlyWhereTheMatchedRowEmitsIt) {
  Rig rig;
  rig.LoadTable("X *,Q 01 3 0\nX *,B 02 1 0\nJP * C3 3 0\nJR @ 18 2 0\n");
  rig.assembler.Symbols().Define("ext", 0, true, false, false, std::nullopt);
  std::optional<InstructionMatch> match;
  const auto size = [&](std::string_view statement) { return rig.assembler.Instructions().Size(statement, match); };
  EXPECT_EQ(size("jp ext"), 4);
  EXPECT_EQ(size("x ext,q"), 4);
  EXPECT_EQ(size("x ext,b"), 1);  // the matched row has no operand bytes
  EXPECT_EQ(match->row, 1);
  EXPECT_EQ(size("jr ext"), 2);
  EXPECT_EQ(size("jp 5"), 3);
  EXPECT_EQ(size("jp"), 3);  // a final wildcard takes an empty operand too
  EXPECT_EQ(size("jz 5"), 0);
  EXPECT_FALSE(match.has_value());
}

// A statement matched again, from another place in memory, fits the same
// row, and its operand lies in the new text; one that fits no row is
// reported every time.
TEST(Match, RepeatedStatementsFitAsTheFirstTimeAndFaultsAreReportedEachTime) {
  Rig rig;
  rig.LoadTable(kTable);
  CInstruction& instructions = rig.assembler.Instructions();
  for (const std::string statement :
       {"ld a,(hl)", "ld a,(1+2)", "nop", "jp nz,far", "eightchr 7", "ninechars 9", "ld a,(1+2+3+4+5+6+7+8+9+10)"}) {
    const auto first = instructions.Match(statement);
    ASSERT_TRUE(first) << statement;
    const std::string again = statement;  // the same text elsewhere
    const auto second = instructions.Match(again);
    ASSERT_TRUE(second) << statement;
    EXPECT_EQ(second->row, first->row) << statement;
    EXPECT_EQ(second->operand, first->operand) << statement;
    if (!second->operand.empty()) {
      EXPECT_GE(second->operand.data(), again.data()) << statement;
      EXPECT_LE(second->operand.data() + second->operand.size(), again.data() + again.size()) << statement;
    }
  }
  EXPECT_EQ(rig.TakeOutput(), "");
  for (const char* statement : {"ld q,q", "bit x,q", "ld q,q"}) EXPECT_FALSE(instructions.Match(statement));
  EXPECT_EQ(rig.TakeOutput(), Err(405, "Unrecognized argument format for \"ld\" instruction") +
                                  Err(405, "Unrecognized argument format for \"bit\" instruction") +
                                  Err(405, "Unrecognized argument format for \"ld\" instruction"));
}

// Far more distinct statements than the remembered matches have room for,
// each matched a second time after others have taken their slots: every
// repeat fits as the first time did.
TEST(Match, ManyDistinctStatementsKeepTheirFits) {
  Rig rig;
  rig.LoadTable(kTable);
  CInstruction& instructions = rig.assembler.Instructions();
  for (int round = 0; round < 2; ++round) {
    for (int n = 0; n < 6000; ++n) {
      const std::string number = std::to_string(n);
      const std::string text = n % 2 == 0 ? "ld a,(" + number + ")" : "jp nz,l" + number;
      const std::string operand = n % 2 == 0 ? number : "l" + number;
      const auto fit = instructions.Match(text);
      ASSERT_TRUE(fit) << text;
      EXPECT_EQ(fit->row, n % 2 == 0 ? 2 : 6) << text;
      EXPECT_EQ(fit->operand, operand) << text;
    }
  }
  EXPECT_EQ(rig.TakeOutput(), "");
}

}  // namespace
}  // namespace torvik::test
