// Places object modules one after another from an origin and resolves
// their relocations and external references into one memory image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Objectfile.h"
#include "Reporter.h"

namespace torvik::tools {

struct LinkInput {
  std::string name;  // as given on the command line, for messages and the map
  ObjectModule module;
};

struct PlacedModule {
  std::string name;
  std::uint32_t base = 0;
  std::uint32_t size = 0;
};

struct LinkedSymbol {
  std::string name;
  std::uint16_t address = 0;
  std::size_t module = 0;  // index into LinkResult::modules
};

struct LinkResult {
  bool ok = false;
  std::uint16_t origin = 0;
  std::vector<std::uint8_t> image;  // the bytes from the origin on
  std::vector<PlacedModule> modules;
  std::vector<LinkedSymbol> symbols;  // in the order of the modules and their public symbols
};

// Every address of a 64 KiB machine lies below this.
inline constexpr std::uint32_t kAddressSpace = 0x10000;

// Links `inputs` in their order, the first at `origin`. Reports every
// undefined external, every symbol public in two modules and an image past
// the end of the address space; the result is ok only when there were none.
LinkResult Link(const std::vector<LinkInput>& inputs, std::uint32_t origin, Reporter& report);

}  // namespace torvik::tools
