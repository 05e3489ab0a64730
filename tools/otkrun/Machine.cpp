#include "Machine.h"

#include <z80ex/z80ex.h>

#include "ToolSupport.h"

namespace torvik::tools {

Machine::Machine()
    : cpu_(z80ex_create(&Machine::ReadMemory, this, &Machine::WriteMemory, this, &Machine::ReadPort, this,
                        &Machine::WritePort, this, &Machine::ReadInterruptVector, this)) {
  z80ex_reset(cpu_);
}

Machine::~Machine() { z80ex_destroy(cpu_); }

bool Machine::Load(const std::vector<std::uint8_t>& image, std::uint16_t address) {
  if (image.size() > memory_.size() - address) return false;
  std::copy(image.begin(), image.end(), memory_.begin() + address);
  return true;
}

void Machine::SetPC(std::uint16_t value) { z80ex_set_reg(cpu_, regPC, value); }
void Machine::SetSP(std::uint16_t value) { z80ex_set_reg(cpu_, regSP, value); }

Machine::RunResult Machine::Run(std::uint64_t maxInstructions) {
  RunResult result;
  while (result.instructions < maxInstructions) {
    const std::uint16_t pc = z80ex_get_reg(cpu_, regPC);
    // A prefix byte is a step of its own; the instruction ends with the
    // step after which no prefix is pending.
    do {
      z80ex_step(cpu_);
    } while (z80ex_last_op_type(cpu_) != 0);
    ++result.instructions;
    if (z80ex_doing_halt(cpu_)) {
      result.halted = true;
      result.haltAddress = pc;
      break;
    }
  }
  return result;
}

Registers Machine::Read() const {
  return {z80ex_get_reg(cpu_, regAF), z80ex_get_reg(cpu_, regBC), z80ex_get_reg(cpu_, regDE),
          z80ex_get_reg(cpu_, regHL), z80ex_get_reg(cpu_, regIX), z80ex_get_reg(cpu_, regIY),
          z80ex_get_reg(cpu_, regSP), z80ex_get_reg(cpu_, regPC)};
}

std::uint16_t Machine::PeekWord(std::uint16_t address) const {
  return static_cast<std::uint16_t>(memory_[address] | (memory_[static_cast<std::uint16_t>(address + 1)] << 8));
}

std::string Machine::PeekString(std::uint16_t address, std::size_t maxLength) const {
  std::string text;
  for (std::uint16_t at = address; text.size() < maxLength && memory_[at] != 0; ++at) {
    text.push_back(static_cast<char>(memory_[at]));
  }
  return text;
}

std::uint8_t Machine::ReadMemory(_z80_cpu_context*, std::uint16_t address, int, void* self) {
  return static_cast<Machine*>(self)->memory_[address];
}

void Machine::WriteMemory(_z80_cpu_context*, std::uint16_t address, std::uint8_t value, void* self) {
  static_cast<Machine*>(self)->memory_[address] = value;
}

// No devices: ports read as a floating bus and ignore writes.
std::uint8_t Machine::ReadPort(_z80_cpu_context*, std::uint16_t, void*) { return 0xFF; }
void Machine::WritePort(_z80_cpu_context*, std::uint16_t, std::uint8_t, void*) {}
std::uint8_t Machine::ReadInterruptVector(_z80_cpu_context*, void*) { return 0xFF; }

std::string FormatRegisters(const Registers& r) {
  return "AF=" + Hex(r.af, 4) + " BC=" + Hex(r.bc, 4) + " DE=" + Hex(r.de, 4) + " HL=" + Hex(r.hl, 4) +
         " IX=" + Hex(r.ix, 4) + " IY=" + Hex(r.iy, 4) + " SP=" + Hex(r.sp, 4) + " PC=" + Hex(r.pc, 4);
}

}  // namespace torvik::tools
