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

}  // namespace

int CInstruction::Size(std::string_view statement, std::optional<InstructionMatch>& match) {
  match = Match(statement);
  if (!match) return 0;
  const InstructionEntry& row = Row(match->row);
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
  EmitOpcode(row, match->operand);
  return row.length + EmitOperand(row, match->operand, start);
}

void CInstruction::EmitOpcode(const InstructionEntry& row, std::string_view operand) {
  const int count = row.opcodeCount;
  if (!row.IsBitRow() || count == 0) {
    for (int i = count - 1; i >= 0; --i) owner_.Emit(row.opcode[static_cast<std::size_t>(i)]);
    return;
  }
  // The bit number is folded into the byte that stands first in the table
  // and is emitted last.
  const std::int32_t bit = owner_.Evaluate(operand);
  for (int i = count - 1; i >= 1; --i) owner_.Emit(row.opcode[static_cast<std::size_t>(i)]);
  if (bit >= 8) owner_.Warning(402, "");
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
    if (owner_.ExternalLinks(operand, evaluation, std::nullopt).Any()) owner_.Error(215, "");
    const std::int64_t displacement = std::int64_t{value} - (std::int64_t{start} + row.length);
    if (displacement < -128 || displacement > 127) owner_.Error(213, "");
    owner_.Emit(static_cast<std::uint8_t>(displacement & 0xFF));
    return 0;
  }

  if (count == 1) {
    if (owner_.ExternalLinks(operand, evaluation, std::nullopt).Any()) owner_.Error(212, "");
    if (owner_.CheckRelocatable(operand, std::nullopt, &evaluation)) owner_.Error(217, "");
    if (value > 255) owner_.Warning(401, "");
    owner_.Emit(static_cast<std::uint8_t>(value & 0xFF));
    return 0;
  }

  if (value > 65535) owner_.Warning(400, "");
  owner_.Emit(static_cast<std::uint8_t>(value & 0xFF));
  owner_.Emit(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  // References and relocations name the operand's first byte, which
  // follows the opcode bytes.
  const auto operandAddress =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(start) + static_cast<std::uint32_t>(row.opcodeCount));
  const bool external = owner_.ExternalLinks(operand, evaluation, operandAddress).external;
  if (external) {
    if (!TakesExternalOperand(row.FirstEmittedByte())) owner_.Error(407, "");
    owner_.Emit(0);
  }
  owner_.CheckRelocatable(operand, operandAddress, &evaluation);
  return external ? 1 : 0;
}

}  // namespace torvik
