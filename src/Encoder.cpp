// Sizing a matched statement in pass 1 and emitting it in pass 2.
#include "Assembler.h"
#include "Instruction.h"

namespace torvik {

namespace {

// Only these instructions may take an external symbol in their 16-bit
// operand (LD HL,nn, JP nn and CALL nn on a Z80-family CPU).
bool TakesExternalOperand(std::optional<std::uint8_t> firstByte) {
  return firstByte && (*firstByte == 0x21 || *firstByte == 0xC3 || *firstByte == 0xCD);
}

bool IsBlank(std::string_view text) {
  for (const char c : text) {
    if (c != ' ') return false;
  }
  return true;
}

}  // namespace

int CInstruction::Size(std::string_view statement, std::optional<InstructionMatch>& match) {
  match = Match(statement);
  if (!match) return 0;
  const InstructionEntry& row = Row(match->row);
  if (row.IsTyped()) {
    if (!row.hasWord) return row.length;
    const Captures captures = CapturesOf(row, match->operand);
    int extra = 0;
    for (int k = 0; k < row.operandCount; ++k) {
      const std::string_view text = captures.text[static_cast<std::size_t>(k)];
      if (row.operands[static_cast<std::size_t>(k)].type == OperandType::Word && !IsBlank(text) &&
          owner_.NamesExternalForSizing(text)) {
        ++extra;
      }
    }
    return row.length + extra;
  }
  // The extra byte of an external operand, exactly when pass 2 emits it.
  const bool extraByte =
      row.OperandBytes() >= 2 && !row.IsRelativeRow() && owner_.NamesExternalForSizing(match->operand);
  return row.length + (extraByte ? 1 : 0);
}

int CInstruction::Encode(std::string_view statement, const std::optional<InstructionMatch>& known) {
  std::optional<InstructionMatch> matched;
  if (!known) {
    matched = Match(statement);
    if (!matched) return 0;
  }
  const InstructionMatch* match = known ? &*known : &*matched;
  const InstructionEntry& row = Row(match->row);
  const std::int32_t start = owner_.LocationCounter();
  owner_.Image().AddLineRecord(start, owner_.CurrentLine());
  if (row.IsTyped()) return EncodeTyped(row, match->operand, start);
  EmitOpcode(row, match->operand);
  return row.length + EmitOperand(row, match->operand, start);
}

// A one-byte value can be neither an address nor an external symbol: the
// object format relocates and links 16-bit fields only.
void CInstruction::CheckByteLinks(std::string_view text, const Evaluation& evaluation) {
  if (owner_.ExternalLinks(text, evaluation, std::nullopt).Any()) owner_.Error(kErrExternalAsByte, "");
  if (owner_.CheckRelocatable(text, std::nullopt, &evaluation)) owner_.Error(kErrRelocatableAsByte, "");
}

void CInstruction::EmitOpcode(const InstructionEntry& row, std::string_view operand) {
  const int count = row.opcodeCount;
  if (!row.IsBitRow() || count == 0) {
    for (int i = count - 1; i >= 0; --i) owner_.Emit(row.opcode[static_cast<std::size_t>(i)]);
    return;
  }
  // The bit number is folded into the byte that stands first in the table
  // and is emitted last.
  const Evaluation evaluation = owner_.EvaluateTracked(operand);
  const std::int32_t bit = evaluation.value;
  CheckByteLinks(operand, evaluation);
  for (int i = count - 1; i >= 1; --i) owner_.Emit(row.opcode[static_cast<std::size_t>(i)]);
  if (bit >= 8) owner_.Warning(kWarnBadBitNumber, "");
  const std::int32_t remainder = bit % 8;
  owner_.Emit(static_cast<std::uint8_t>((row.opcode[0] + 8 * remainder) & 0xFF));
}

// Emits the operand bytes; returns 1 when an extra byte for an external
// reference followed them.
int CInstruction::EmitOperand(const InstructionEntry& row, std::string_view operand, std::int32_t start) {
  const int count = row.OperandBytes();
  if (count <= 0) return 0;
  const Evaluation evaluation = owner_.EvaluateTracked(operand);
  const std::int32_t value = evaluation.value;

  if (row.IsRelativeRow()) {
    if (owner_.ExternalLinks(operand, evaluation, std::nullopt).Any()) owner_.Error(kErrExternalJumpTarget, "");
    const std::int64_t displacement = std::int64_t{value} - (std::int64_t{start} + row.length);
    if (displacement < -128 || displacement > 127) owner_.Error(kErrJumpTooLong, "");
    owner_.Emit(static_cast<std::uint8_t>(displacement & 0xFF));
    return 0;
  }

  if (count == 1) {
    CheckByteLinks(operand, evaluation);
    if (value > 255) owner_.Warning(kWarnOperandTruncated8, "");
    owner_.Emit(static_cast<std::uint8_t>(value & 0xFF));
    return 0;
  }

  if (value > 65535) owner_.Warning(kWarnOperandTruncated16, "");
  owner_.Emit(static_cast<std::uint8_t>(value & 0xFF));
  owner_.Emit(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  // References and relocations name the operand's first byte, which
  // follows the opcode bytes.
  const auto operandAddress =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(start) + static_cast<std::uint32_t>(row.opcodeCount));
  const bool external = owner_.ExternalLinks(operand, evaluation, operandAddress).external;
  if (external) {
    if (!TakesExternalOperand(row.FirstEmittedByte())) owner_.Error(kErrNoExternalOperand, "");
    owner_.Emit(0);
  }
  owner_.CheckRelocatable(operand, operandAddress, &evaluation);
  return external ? 1 : 0;
}

// What each operand type accepts, and the bytes it gives at `address`: a
// folded type gives the amount added to its fixed byte.
CInstruction::TypedBytes CInstruction::EncodeTypedOperand(const InstructionEntry& row, const TypedOperand& operand,
                                                          std::string_view text, std::int32_t address,
                                                          std::int32_t start) {
  const auto bytes = [](std::int32_t value, int count) {
    TypedBytes out;
    out.count = static_cast<std::uint8_t>(count);
    for (int i = 0; i < count; ++i)
      out.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    return out;
  };
  if (IsBlank(text)) {
    if (!operand.emptyIsZero) owner_.Error(kErrValueExpected, "");
    return bytes(0, operand.width == 0 ? 1 : operand.width);
  }
  const Evaluation evaluation = owner_.EvaluateTracked(text);
  const std::int32_t value = evaluation.value;
  switch (operand.type) {
    case OperandType::UnsignedByte:
      CheckByteLinks(text, evaluation);
      if (value > 255) owner_.Warning(kWarnOperandTruncated8, "");
      return bytes(value, 1);
    case OperandType::SignedByte:
      CheckByteLinks(text, evaluation);
      if (value < -128 || value > 127) owner_.Error(kErrSignedByteRange, "");
      return bytes(value, 1);
    case OperandType::BigEndianWord:
      CheckByteLinks(text, evaluation);
      if (value > 65535) owner_.Warning(kWarnOperandTruncated16, "");
      return bytes(((value & 0xFF) << 8) | ((value >> 8) & 0xFF), 2);
    case OperandType::Word: {
      // An external operand is followed by one byte 0.
      if (value > 65535) owner_.Warning(kWarnOperandTruncated16, "");
      const bool external = owner_.ExternalLinks(text, evaluation, address).external;
      if (external && !TakesExternalOperand(row.FirstEmittedByte())) owner_.Error(kErrNoExternalOperand, "");
      owner_.CheckRelocatable(text, address, &evaluation);
      return bytes(value & 0xFFFF, external ? 3 : 2);
    }
    case OperandType::RelativeTarget: {
      if (owner_.ExternalLinks(text, evaluation, std::nullopt).Any()) owner_.Error(kErrExternalJumpTarget, "");
      const std::int64_t displacement = std::int64_t{value} - (std::int64_t{start} + row.length);
      if (displacement < -128 || displacement > 127) owner_.Error(kErrJumpTooLong, "");
      return bytes(static_cast<std::int32_t>(displacement & 0xFF), 1);
    }
    case OperandType::BitNumber:
      CheckByteLinks(text, evaluation);
      if (value >= 8) owner_.Warning(kWarnBadBitNumber, "");
      return bytes(8 * (value % 8), 1);
    case OperandType::HighPage:
      // The instruction reaches $FF00 plus its byte, so an address there
      // and the byte alone mean the same; nothing else can be reached.
      CheckByteLinks(text, evaluation);
      if (!(value >= 0 && value <= 0xFF) && !(value >= 0xFF00 && value <= 0xFFFF))
        owner_.Error(kErrOutsideHighPage, "");
      return bytes(value, 1);
  }
  return bytes(0, 1);
}

// Emits a typed row; returns the bytes it occupies. Operands are checked
// in the order their bytes stand; one that gives more bytes than its width
// (an external word) moves the bytes after it.
int CInstruction::EncodeTyped(const InstructionEntry& row, std::string_view field, std::int32_t start) {
  if (row.operandCount == 1) return EmitTyped(row, &field, start);
  const Captures captures = CapturesOf(row, field);
  return EmitTyped(row, captures.text.data(), start);
}

int CInstruction::EmitTyped(const InstructionEntry& row, const std::string_view* texts, std::int32_t start) {
  std::uint32_t offset = 0;
  int extra = 0;
  for (int s = 0; s < row.stepCount; ++s) {
    const EmitStep& step = row.steps[static_cast<std::size_t>(s)];
    if (step.operand < 0) {
      owner_.Emit(step.byte);
      ++offset;
      continue;
    }
    const auto k = static_cast<std::size_t>(step.operand);
    const TypedOperand& operand = row.operands[k];
    const auto address = static_cast<std::int32_t>(static_cast<std::uint32_t>(start) + offset);
    const TypedBytes bytes = EncodeTypedOperand(row, operand, texts[k], address, start);
    if (operand.width == 0) {
      owner_.Emit(static_cast<std::uint8_t>((step.byte + bytes.bytes[0]) & 0xFF));
      ++offset;
      continue;
    }
    for (std::size_t i = 0; i < bytes.count; ++i) owner_.Emit(bytes.bytes[i]);
    offset += bytes.count;
    extra += bytes.count - operand.width;
  }
  return row.length + extra;
}

}  // namespace torvik
