// Links object modules into memory images: places each module (at a fixed
// address, or after the previous one of its area), takes from libraries
// the members that resolve open external references, and resolves the
// relocations and external references of the modules placed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Objectfile.h"
#include "Reporter.h"

namespace torvik::tools {

// Every address of a 64 KiB machine lies below this.
inline constexpr std::uint32_t kAddressSpace = 0x10000;
inline constexpr int kNoBank = -1;

// Where an input goes: ROM outside any bank, RAM (its labels get addresses,
// its bytes are not written), or one bank of the bank window.
struct Placement {
  std::optional<std::uint32_t> at;  // else right after the previous module of the same area
  bool ram = false;
  int bank = kNoBank;
};

struct LibraryMember {
  std::string name;  // "lib.a(member.otk)", for messages and the map
  ObjectModule module;
};

// An object file, or a library whose members are taken as needed and
// placed where the library is named.
struct LinkInput {
  std::string name;  // as given on the command line
  ObjectModule module;
  Placement placement{};
  bool isLibrary = false;
  std::vector<LibraryMember> members{};
};

// The address range that every bank is mapped into.
struct Window {
  std::uint32_t start = 0x4000;
  std::uint32_t size = 0x4000;
  std::uint32_t End() const { return start + size; }
};

struct LinkOptions {
  std::optional<std::uint32_t> origin;  // the first ROM module without an address (default 0)
  std::uint8_t fill = 0xFF;             // for the gaps of an image
  std::optional<std::uint32_t> limit;   // the last address the ROM image may use
  Window window;
  bool combinedRom = false;  // the banks follow the ROM image in one file, bank N at N times the window size
};

struct PlacedModule {
  std::string name;
  const ObjectModule* object = nullptr;  // into the inputs, which must outlive the result
  std::uint32_t base = 0;
  std::uint32_t size = 0;
  bool ram = false;
  int bank = kNoBank;
};

struct LinkedSymbol {
  std::string name;
  std::uint16_t address = 0;
  std::size_t module = 0;  // index into LinkResult::modules
};

// A library member taken for `symbol`, which `referrer` refers to.
struct TakenMember {
  std::size_t module = 0;  // index into LinkResult::modules
  std::string symbol;
  std::string referrer;
};

// Bytes from `origin` on; gaps hold the fill byte. `spans` are the address
// ranges [first, second) that modules cover, in order and merged.
struct Image {
  std::uint16_t origin = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;
};

struct BankImage {
  int bank = 0;
  Image image;  // from the window's start
};

struct LinkResult {
  bool ok = false;
  Image image;                   // the ROM outside the banks
  std::vector<BankImage> banks;  // in the order of their numbers
  Window window;
  std::vector<PlacedModule> modules;  // in placement order
  std::vector<LinkedSymbol> symbols;  // in the order of the modules and their public symbols
  std::vector<TakenMember> taken;
};

// Reports every undefined external, every symbol public in two modules,
// every module that overlaps another, lies past the end of memory, the
// limit or its window, every RAM module that holds more than reserved
// space and every reference into a bank that lands outside the window; the
// result is ok only when there were none.
LinkResult Link(const std::vector<LinkInput>& inputs, const LinkOptions& options, Reporter& report);

}  // namespace torvik::tools
