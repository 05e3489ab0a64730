// A Z80 with 64 KiB of RAM and nothing else, on the z80ex emulator: loads
// an image, runs it to HALT and shows what it left.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct _z80_cpu_context;

namespace torvik::tools {

struct Registers {
  std::uint16_t af = 0, bc = 0, de = 0, hl = 0, ix = 0, iy = 0, sp = 0, pc = 0;
};

class Machine {
 public:
  static constexpr std::size_t kMemoryBytes = 0x10000;

  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Copies `image` to `address` on; false (and nothing copied) when it
  // would run past the end of memory.
  bool Load(const std::vector<std::uint8_t>& image, std::uint16_t address);
  void SetPC(std::uint16_t value);
  void SetSP(std::uint16_t value);

  struct RunResult {
    bool halted = false;
    std::uint64_t instructions = 0;
    std::uint16_t haltAddress = 0;  // where the HALT instruction stands
  };
  // Steps until the CPU executes HALT or `maxInstructions` have run.
  RunResult Run(std::uint64_t maxInstructions);

  Registers Read() const;
  std::uint8_t Peek(std::uint16_t address) const { return memory_[address]; }
  std::uint16_t PeekWord(std::uint16_t address) const;
  std::string PeekString(std::uint16_t address, std::size_t maxLength) const;

 private:
  static std::uint8_t ReadMemory(_z80_cpu_context*, std::uint16_t address, int, void* self);
  static void WriteMemory(_z80_cpu_context*, std::uint16_t address, std::uint8_t value, void* self);
  static std::uint8_t ReadPort(_z80_cpu_context*, std::uint16_t, void*);
  static void WritePort(_z80_cpu_context*, std::uint16_t, std::uint8_t, void*);
  static std::uint8_t ReadInterruptVector(_z80_cpu_context*, void*);

  std::array<std::uint8_t, kMemoryBytes> memory_{};
  _z80_cpu_context* cpu_ = nullptr;
};

// The registers as one line: "AF=0044 BC=0700 ...".
std::string FormatRegisters(const Registers& registers);

}  // namespace torvik::tools
