// The sections of an object file in readable form.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "Objectfile.h"

namespace torvik::tools {

// Code as a hex dump (address, 16 bytes, their characters), the local
// relocations and external references with the word each field holds, the
// public symbols and the line table.
void PrintSections(const ObjectModule& module, std::ostream& out);

// The 16-bit word, least significant byte first, at `address` of `code`;
// a field that does not fit reads as 0.
std::uint16_t WordAt(const std::vector<std::uint8_t>& code, std::size_t address);

}  // namespace torvik::tools
