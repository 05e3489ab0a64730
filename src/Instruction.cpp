// Loading the instruction table file.
#include "Instruction.h"

#include <algorithm>

#include "Assembler.h"
#include "Messages.h"
#include "Statement.h"

namespace torvik {

namespace {

// The white space that "%s" and "%i" conversions pass over.
constexpr std::array<bool, 256> kFormatSpace = [] {
  std::array<bool, 256> space{};
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) space[static_cast<unsigned char>(c)] = true;
  return space;
}();

bool IsFormatSpace(char c) { return kFormatSpace[static_cast<unsigned char>(c)]; }

constexpr std::size_t kRowsAtOnce = 16;

// Skips white space; the runs of blanks that align a table's columns go
// first.
[[gnu::always_inline]] inline std::size_t SkipFormatSpace(std::string_view line, std::size_t pos) {
  pos = SkipBlanks(line, pos);
  while (pos < line.size() && IsFormatSpace(line[pos])) ++pos;
  return pos;
}

// A whitespace-delimited word, as the "%s" conversion reads one.
[[gnu::always_inline]] inline bool ScanWord(std::string_view line, std::size_t& pos, std::string_view& word) {
  const char* const end = line.data() + line.size();
  const char* const start = line.data() + SkipFormatSpace(line, pos);
  const char* p = start;
  while (p < end && !IsFormatSpace(*p)) ++p;
  word = std::string_view(start, static_cast<std::size_t>(p - start));
  pos = static_cast<std::size_t>(p - line.data());
  return p > start;
}

// An integer as the "%i" conversion reads one: decimal, hexadecimal after
// 0x, octal after a leading 0. Short decimals, which nearly every row
// holds, are read at once.
[[gnu::always_inline]] inline bool ScanInteger(std::string_view line, std::size_t& pos, std::int32_t& value) {
  std::size_t p = SkipFormatSpace(line, pos);
  const std::size_t number = p;  // its sign or first digit
  if (p < line.size() && line[p] >= '1' && line[p] <= '9') {
    constexpr std::size_t kSafeDigits = 9;  // cannot leave 32 bits
    std::int32_t decimal = 0;
    while (p < line.size() && IsAsciiDigit(line[p]) && p - number < kSafeDigits)
      decimal = decimal * 10 + (line[p++] - '0');
    if (p == line.size() || !IsAsciiDigit(line[p])) {
      value = decimal;
      pos = p;
      return true;
    }
    p = number;
  } else if (p < line.size() && line[p] == '0' &&
             (p + 1 == line.size() || (!IsAsciiDigit(line[p + 1]) && line[p + 1] != 'x' && line[p + 1] != 'X'))) {
    value = 0;
    pos = p + 1;
    return true;
  }
  if (p < line.size() && (line[p] == '+' || line[p] == '-')) ++p;
  int base = 10;
  if (p < line.size() && line[p] == '0') {
    const bool hexPrefix =
        p + 2 < line.size() && (line[p + 1] == 'x' || line[p + 1] == 'X') && DigitValue(line[p + 2]) < 16;
    base = hexPrefix ? 16 : 8;
  }
  std::size_t end = number;
  value = ConvertNumber(line, number, base, end);
  if (end == number) return false;
  pos = end;
  return true;
}

// The value of a hexadecimal digit, or -1 for any other character.
int HexDigit(char c) {
  const int value = DigitValue(c);
  return value < 16 ? value : -1;
}

// Opcode bytes from pairs of hex digits; stops at the first pair that holds
// no digit. Bytes past the row's room are cut off.
int ParseOpcode(std::string_view text, std::array<std::uint8_t, kMaxOpcodeBytes>& opcode) {
  int count = 0;
  for (std::size_t at = 0; at < text.size(); at += 2) {
    const int high = HexDigit(text[at]);
    if (high < 0) break;
    const int low = at + 1 < text.size() ? HexDigit(text[at + 1]) : -1;
    const int value = low < 0 ? high : high * 16 + low;
    if (count == kMaxOpcodeBytes) break;
    opcode[static_cast<std::size_t>(count++)] = static_cast<std::uint8_t>(value);
  }
  return count;
}

bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsUpperHexDigit(char c) { return IsAsciiDigit(c) || (c >= 'A' && c <= 'F'); }

bool HasTypeLetter(std::string_view pattern) {
  return std::any_of(pattern.begin(), pattern.end(), [](char c) { return IsLowerLetter(c) && IsCaptureCharacter(c); });
}

// A typed row's operands, in pattern order, with the letter that names
// each. False when the pattern holds a wildcard, a lower-case letter that
// names no type, two operands with nothing between them (the first could
// not end), or more operands than a row has bytes.
bool ParseTypedPattern(std::string_view pattern, InstructionEntry& row, std::array<char, kMaxTypedOperands>& letters) {
  bool afterOperand = false;
  for (const char c : pattern) {
    if (c == '*' || c == '!' || c == '@') return false;
    const bool isLetter = IsLowerLetter(c);
    if (isLetter) {
      const OperandTypeInfo* info = FindOperandType(c);
      if (info == nullptr || afterOperand || row.operandCount == kMaxTypedOperands) return false;
      letters[row.operandCount] = c;
      row.operands[row.operandCount++] = TypedOperand{info->type, info->emptyIsZero, info->width, 0};
      row.hasWord = row.hasWord || info->type == OperandType::Word;
    }
    afterOperand = isLetter;
  }
  return true;
}

// A typed row's opcode column, in emitted order: fixed bytes as pairs of
// upper-case hex digits, an operand by its letter where its bytes stand,
// and a folded operand after the byte it is added to ("46+b"). The n-th
// use of a letter places the n-th operand of that letter in the pattern.
// Gives kErrBadTableRow for a column that cannot be read or does not place
// every operand once, kErrLengthMismatch when the bytes are not the row's
// length, else 0.
int ParseTypedOpcode(std::string_view text, InstructionEntry& row, const std::array<char, kMaxTypedOperands>& letters) {
  std::array<bool, kMaxTypedOperands> placed{};
  const auto place = [&](char letter, bool folded) -> int {
    for (int k = 0; k < row.operandCount; ++k) {
      if (placed[static_cast<std::size_t>(k)] || letters[static_cast<std::size_t>(k)] != letter) continue;
      if ((FindOperandType(letter)->width == 0) != folded) return -1;
      placed[static_cast<std::size_t>(k)] = true;
      return k;
    }
    return -1;
  };
  int emitted = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (row.stepCount == kMaxInstructionLength) return kErrLengthMismatch;
    EmitStep step;
    int width = 1;
    if (IsUpperHexDigit(text[at])) {
      if (at + 1 == text.size() || !IsUpperHexDigit(text[at + 1])) return kErrBadTableRow;
      step.byte = static_cast<std::uint8_t>(HexDigit(text[at]) * 16 + HexDigit(text[at + 1]));
      at += 2;
      if (at < text.size() && text[at] == '+') {
        if (at + 1 == text.size() || (step.operand = static_cast<std::int8_t>(place(text[at + 1], true))) < 0)
          return kErrBadTableRow;
        at += 2;
      }
    } else {
      step.operand = static_cast<std::int8_t>(place(text[at], false));
      if (step.operand < 0) return kErrBadTableRow;
      width = FindOperandType(text[at])->width;
      ++at;
    }
    if (step.operand >= 0) row.operands[static_cast<std::size_t>(step.operand)].at = static_cast<std::uint8_t>(emitted);
    row.steps[row.stepCount++] = step;
    emitted += width;
  }
  if (std::find(placed.begin(), placed.begin() + row.operandCount, false) != placed.begin() + row.operandCount) {
    return kErrBadTableRow;
  }
  return emitted == row.length ? 0 : kErrLengthMismatch.code;
}

int ParseTypedRow(std::string_view opcodeText, InstructionEntry& row) {
  std::array<char, kMaxTypedOperands> letters{};
  if (!ParseTypedPattern(row.pattern, row, letters)) return kErrBadTableRow;
  return ParseTypedOpcode(opcodeText, row, letters);
}

}  // namespace

std::optional<std::uint8_t> InstructionEntry::FirstEmittedByte() const {
  if (IsTyped()) {
    if (stepCount == 0 || steps[0].operand >= 0) return std::nullopt;
    return steps[0].byte;
  }
  if (opcodeCount <= 0) return std::nullopt;
  return opcode[static_cast<std::size_t>(opcodeCount - 1)];
}

int CInstruction::ParseRow(std::string_view line, InstructionEntry& row, int& argument) {
  std::size_t pos = 0;
  std::string_view mnemonic;
  std::string_view pattern;
  std::string_view opcodeText;
  argument = 0;
  if (!ScanWord(line, pos, mnemonic) || !ScanWord(line, pos, pattern) || !ScanWord(line, pos, opcodeText) ||
      !ScanInteger(line, pos, row.length) || !ScanInteger(line, pos, row.spareValue)) {
    return kErrBadTableRow;
  }
  row.mnemonic = mnemonic;
  row.pattern = pattern;
  if (row.length < 1 || row.length > kMaxInstructionLength) {
    argument = kMaxInstructionLength;
    return kErrOpcodeSize;
  }
  if (!row.pattern.empty() && row.pattern.front() == '"') row.pattern = {};
  // A type letter, being lower case, never fits a source character, so a
  // row that holds one could fit nothing as an untyped row.
  if (HasTypeLetter(row.pattern)) return ParseTypedRow(opcodeText, row);
  row.opcodeCount = ParseOpcode(opcodeText, row.opcode);
  // Patterns are short: one look at each character finds both wildcards.
  row.bitRow = row.relativeRow = false;
  for (const char c : row.pattern) {
    row.bitRow = row.bitRow || c == '!';
    row.relativeRow = row.relativeRow || c == '@';
  }
  const int operandBytes = row.OperandBytes();
  if (operandBytes < 0 || operandBytes > 2 || (row.IsRelativeRow() && operandBytes > 1)) return kErrLengthMismatch;
  return 0;
}

void CInstruction::Load(const std::string& path) {
  owner_.Message("Loading instruction table \"%s\"", path);
  TextReader in;
  if (in.Open(path) != TextReader::OpenResult::Ok) {
    owner_.Error(kErrCannotOpenTable, path);
    return;
  }
  rows_.reserve(kMaxTableRows);
  std::string spill;
  std::string_view line;
  TextReader::LineEnd end;
  for (;;) {
    // Runs of plain lines are split straight from the reader's chunk; a
    // very long line or one with a special character comes through the
    // line-by-line read.
    const std::string_view run = in.PlainRun();
    std::size_t taken = 0;
    bool goesOn = true;
    while (goesOn && taken < run.size()) {
      const std::size_t newline = run.find('\n', taken);  // a run ends with one
      if (newline - taken > kMaxLineLength) break;
      goesOn = LoadLine(run.substr(taken, newline - taken));
      taken = newline + 1;
    }
    in.Consume(taken);
    if (!goesOn) return;
    if (!run.empty() && taken == run.size()) continue;

    const auto status = in.ReadLineView(line, spill, kMaxLineLength, end);
    if (status == TextReader::Status::End) return;
    if (status == TextReader::Status::Error) {
      owner_.Error(kErrCannotOpenTable, path);
      return;
    }
    if (end.tooLong) {
      owner_.NextLine();
      owner_.ErrorNum(kErrTableLineTooLong, static_cast<std::int32_t>(kLineReadLimit));
      return;
    }
    if (!LoadLine(line)) return;
  }
}

bool CInstruction::LoadLine(std::string_view line) {
  owner_.NextLine();
  line = line.substr(0, line.find(';'));
  if (line.empty()) return true;
  InstructionEntry row;
  int argument = 0;
  const int code = ParseRow(line, row, argument);
  if (code != 0) {
    if (argument != 0) {
      owner_.ErrorNum(code, argument);
    } else {
      owner_.Error(code, "");
    }
    return true;
  }
  if (RowCount() == kMaxTableRows) {
    owner_.ErrorNum(kErrTooManyRows, kMaxTableRows + 1);
    return false;
  }
  KeepText(row);
  AddRow(row);
  return true;
}

void CInstruction::KeepText(InstructionEntry& row) {
  row.mnemonic = rowText_.Keep(row.mnemonic);
  row.pattern = rowText_.Keep(row.pattern);
}

// Rows of one mnemonic mostly stand together, so the last one's list is
// tried before the index.
void CInstruction::AddRow(const InstructionEntry& row) {
  if (rows_.empty() || !EqualsIgnoringCase(row.mnemonic, rows_.back().mnemonic)) {
    const std::size_t slot = MnemonicSlot(row.mnemonic);
    if (mnemonicSlots_[slot] == 0) {
      if (mnemonics_.empty()) mnemonics_.reserve(kMaxTableRows);  // places never move
      mnemonics_.push_back(MnemonicRows{row.mnemonic, {}, {}});
      // Most mnemonics have a few rows; room for them comes at once.
      mnemonics_.back().rows.reserve(kRowsAtOnce);
      mnemonicSlots_[slot] = static_cast<std::uint16_t>(mnemonics_.size());
    }
    lastAdded_ = mnemonicSlots_[slot] - 1u;
  }
  MnemonicRows& entry = mnemonics_[lastAdded_];
  entry.rows.push_back(RowCount());
  entry.nodes.clear();  // a tree built before is rebuilt with the new row
  matches_.Clear();
  rows_.push_back(row);
}

}  // namespace torvik
