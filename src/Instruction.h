// The instruction table: rows loaded from a text file, the matching of
// statements against their operand patterns, and the encoding of a match.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Limits.h"
#include "Memory.h"

namespace torvik {

class CAssembler;
struct Evaluation;

// The types of operand a typed row names in its pattern, each by a
// lower-case letter. What each type accepts and the bytes it gives are
// decided in one place, CInstruction::EncodeTypedOperand.
enum class OperandType : std::uint8_t {
  UnsignedByte,    // n: 0..255 (larger values warn), no address or external
  SignedByte,      // d, e: -128..127, no address or external
  Word,            // w: 16 bits, low byte first; may be relocated or external
  BigEndianWord,   // m: 16 bits, high byte first; no address or external
  RelativeTarget,  // r: a jump target, one signed byte from the next instruction
  BitNumber,       // b: 0..7, times 8 added to a fixed byte (HH+b)
  HighPage,        // h: an address in $FF00..$FFFF, or its low byte 0..$FF
};

struct OperandTypeInfo {
  char letter;
  OperandType type;
  std::uint8_t width;  // bytes of its own; 0 for a type folded into a fixed byte
  bool emptyIsZero;    // an empty text counts 0 instead of being refused
};

inline constexpr OperandTypeInfo kOperandTypes[] = {
    {'n', OperandType::UnsignedByte, 1, false},  {'d', OperandType::SignedByte, 1, true},
    {'e', OperandType::SignedByte, 1, false},    {'w', OperandType::Word, 2, false},
    {'m', OperandType::BigEndianWord, 2, false}, {'r', OperandType::RelativeTarget, 1, false},
    {'b', OperandType::BitNumber, 0, false},     {'h', OperandType::HighPage, 1, false},
};

// The type a pattern letter names, or none.
constexpr const OperandTypeInfo* FindOperandType(char letter) {
  for (const auto& info : kOperandTypes) {
    if (info.letter == letter) return &info;
  }
  return nullptr;
}

// The pattern characters that capture an operand: the wildcards of an
// untyped row and the type letters of a typed one. A typed row holds no
// wildcard and an untyped row no type letter, so one set serves both.
inline constexpr std::array<bool, 256> kCaptureCharacters = [] {
  std::array<bool, 256> captures{};
  for (const char c : {'*', '!', '@'}) captures[static_cast<unsigned char>(c)] = true;
  for (const auto& info : kOperandTypes) captures[static_cast<unsigned char>(info.letter)] = true;
  return captures;
}();
inline bool IsCaptureCharacter(char c) { return kCaptureCharacters[static_cast<unsigned char>(c)]; }

// Operands a typed row may have: each takes a byte of its own or is folded
// into one, so a row of at most kMaxInstructionLength bytes has no more.
inline constexpr int kMaxTypedOperands = kMaxInstructionLength;

// One operand of a typed row, in pattern order.
struct TypedOperand {
  OperandType type = OperandType::UnsignedByte;
  bool emptyIsZero = false;
  std::uint8_t width = 1;  // 0: folded into the fixed byte it follows
  std::uint8_t at = 0;     // where its first byte stands in the instruction
};

// One item of a typed row's bytes, in the order they are emitted: a fixed
// byte (operand -1), an operand's bytes, or a fixed byte that an operand of
// width 0 is added to.
struct EmitStep {
  std::uint8_t byte = 0;
  std::int8_t operand = -1;
};

struct InstructionEntry {
  // Views of the text the row was parsed from; CInstruction keeps the text
  // of the rows it loads.
  std::string_view mnemonic;
  std::string_view pattern;                            // empty for an instruction without operands
  std::array<std::uint8_t, kMaxOpcodeBytes> opcode{};  // in column order; emitted in reverse
  std::int32_t length = 0;
  std::int32_t opcodeCount = 0;
  std::int32_t spareValue = 0;

  // Whether the pattern holds a bit wildcard '!' or a relative one '@';
  // set when the row is parsed.
  bool bitRow = false;
  bool relativeRow = false;
  int OperandBytes() const { return length - opcodeCount; }
  bool IsBitRow() const { return bitRow; }
  bool IsRelativeRow() const { return relativeRow; }

  // A typed row: its pattern names operands by type letters, and `steps`
  // give its bytes in emitted order (`opcode` and `opcodeCount` stay empty).
  std::uint8_t operandCount = 0;
  std::uint8_t stepCount = 0;
  bool hasWord = false;  // an operand of type Word, which may add a byte
  std::array<TypedOperand, kMaxTypedOperands> operands{};
  std::array<EmitStep, kMaxInstructionLength> steps{};
  bool IsTyped() const { return operandCount > 0; }

  // The byte emitted first, if the row has one.
  std::optional<std::uint8_t> FirstEmittedByte() const;
};

// A statement that fits a row, with the operand text that row captured (a
// view into the statement). For a typed row with more than one operand,
// which captures one text for each, it is the whole operand field, which
// the row splits again.
struct InstructionMatch {
  int row = -1;
  std::string_view operand;
  // Where the operand stands in `statement`, the text it was matched in. A
  // row without a wildcard captures an empty operand, which may point
  // nowhere.
  std::size_t OperandOffset(std::string_view statement) const {
    return operand.empty() ? 0 : static_cast<std::size_t>(operand.data() - statement.data());
  }
};

// Statements that fitted a row before, with the row and where the operand
// stood in them. Matching is purely textual, so a statement that fits once
// fits the same way every time; sources repeat instructions often. A small
// table of fixed size, one statement per place: a statement that comes to
// a taken place replaces the one there, and long statements are not kept.
class MatchCache {
 public:
  struct Fit {
    std::int16_t row = -1;
    std::uint16_t operandOffset = 0;
    std::uint16_t operandLength = 0;
  };
  std::optional<Fit> Find(std::string_view statement) const;
  void Insert(std::string_view statement, const Fit& fit);
  void Clear() {
    if (places_.empty()) return;
    slots_.fill(0);
    places_.clear();
  }

 private:
  static constexpr std::size_t kSlots = 2048;
  static constexpr std::size_t kLongestKept = 22;
  struct Place {
    std::uint32_t hash;
    std::uint8_t length;
    char text[kLongestKept];
    Fit fit;
  };
  // A statement's hash selects a slot; the slot names its place, one more
  // than its index, or 0 while empty. The places are kept densely in the
  // order they were first taken, so a short source touches little memory;
  // a statement whose slot is taken replaces the place there.
  std::array<std::uint16_t, kSlots> slots_{};
  std::vector<Place> places_;
};

class CInstruction {
 public:
  explicit CInstruction(CAssembler& owner) : owner_(owner) {}

  void Load(const std::string& path);

  // First row that fits the statement; reports an unknown mnemonic or
  // operands that fit no row of it.
  std::optional<InstructionMatch> Match(std::string_view statement);
  // Pass 1: the bytes the statement will occupy, the extra byte of an
  // external operand included (see CAssembler::NamesExternalForSizing).
  // The row that fitted is left in `match` for pass 2.
  int Size(std::string_view statement, std::optional<InstructionMatch>& match);
  // Pass 2: emits the statement and returns the bytes it occupies. A match
  // that pass 1 found for the same statement spares matching it again.
  int Encode(std::string_view statement, const std::optional<InstructionMatch>& known = std::nullopt);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  const InstructionEntry& Row(int index) const { return rows_[static_cast<std::size_t>(index)]; }

  // Parses one table line (comment already cut) into a row; exposed for
  // tests. Returns the error code to report (0 when the row is sound), the
  // argument number in `argument`.
  static int ParseRow(std::string_view line, InstructionEntry& row, int& argument);

 private:
  // One line of the table, read as it stands; false when loading stops.
  bool LoadLine(std::string_view line);
  void AddRow(const InstructionEntry& row);
  // Points the row's texts at copies that live as long as the table.
  void KeepText(InstructionEntry& row);
  // Whether the pattern's walk over the operand from `start` fits; gives
  // the text captured last in `last` and, when `each` is given, every
  // capture of a typed row there, blanks around each removed.
  static bool Fits(std::string_view pattern, std::string_view statement, std::size_t start, std::string_view& last,
                   std::string_view* each = nullptr);
  // The texts a typed row's operands take in what it matched: the operand
  // field, or the one operand itself.
  struct Captures {
    std::array<std::string_view, kMaxTypedOperands> text{};
  };
  static Captures CapturesOf(const InstructionEntry& row, std::string_view field);
  void EmitOpcode(const InstructionEntry& row, std::string_view operand);
  int EmitOperand(const InstructionEntry& row, std::string_view operand, std::int32_t start);
  void CheckByteLinks(std::string_view text, const Evaluation& evaluation);

  struct TypedBytes {
    std::array<std::uint8_t, 3> bytes{};
    std::uint8_t count = 0;
  };
  int EncodeTyped(const InstructionEntry& row, std::string_view field, std::int32_t start);
  // The row's bytes, with `texts` its operands' texts in pattern order.
  int EmitTyped(const InstructionEntry& row, const std::string_view* texts, std::int32_t start);
  TypedBytes EncodeTypedOperand(const InstructionEntry& row, const TypedOperand& operand, std::string_view text,
                                std::int32_t address, std::int32_t start);

  // The rows of one mnemonic in a tree of the fixed characters their
  // patterns begin with, up to the first wildcard. Only the rows whose
  // prefix lies on the walk along an operand's upper-cased characters can
  // fit it; each node keeps those rows, in table order, for the walks that
  // end there, so trying them finds the same first fitting row as trying
  // every row.
  // The tree of a mnemonic is built when a statement first uses it, since
  // a source uses only some of the table's mnemonics.
  struct PrefixNode {
    char character = 0;  // the pattern character that leads here
    int parent = -1;
    int firstChild = -1;
    int nextSibling = -1;
    std::vector<int> candidates;  // the rows whose prefix ends here or above, in table order
  };
  struct MnemonicRows {
    std::string_view name;  // as its first row spells it
    std::vector<int> rows;  // in table order
    std::vector<PrefixNode> nodes;
  };
  std::span<const int> Candidates(const MnemonicRows& entry, std::string_view operand) const;
  void BuildTree(MnemonicRows& entry) const;
  MnemonicRows* RowsOf(std::string_view mnemonic);
  MnemonicRows* FindRows(std::string_view mnemonic);
  // The index slot that holds the mnemonic, or the free one where it goes.
  std::size_t MnemonicSlot(std::string_view mnemonic) const;

  CAssembler& owner_;
  std::vector<InstructionEntry> rows_;
  // The mnemonics and patterns of the rows, at addresses that never move.
  ReservedText rowText_{static_cast<std::size_t>(kMaxTableRows) * kLineReadLimit};
  // The rows of each mnemonic, in the order mnemonics first appear, found
  // through an index of their names without regard to case: a slot holds
  // one more than the mnemonic's place in `mnemonics_`, or 0 while free.
  // There are at most kMaxTableRows mnemonics, so the index is never full.
  static constexpr std::size_t kMnemonicSlots = 1024;
  static_assert(kMnemonicSlots > kMaxTableRows && (kMnemonicSlots & (kMnemonicSlots - 1)) == 0);
  std::vector<MnemonicRows> mnemonics_;
  std::array<std::uint16_t, kMnemonicSlots> mnemonicSlots_{};
  std::size_t lastAdded_ = 0;  // the place of the last row's mnemonic
  MatchCache matches_;
};

}  // namespace torvik
