// What the linker writes: the image as Intel HEX, and the link map.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Linker.h"

namespace torvik::tools {

// Data records of at most 16 bytes from `origin` on, then the end record.
std::string IntelHex(const std::vector<std::uint8_t>& image, std::uint16_t origin);

// The modules with their addresses and sizes, and the public symbols with
// their addresses, sorted by address.
std::string LinkMap(const LinkResult& result);

}  // namespace torvik::tools
