// What the linker writes: images as Intel HEX or as one combined ROM, the
// link map and the debugger's symbol file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Linker.h"
#include "SourceWalk.h"

namespace torvik::tools {

// Data records of at most 16 bytes for the spans of the image (the gaps
// between them are left out), then the end record.
std::string IntelHex(const Image& image);

// The ROM image from file offset 0, bank N at N times the window size, each
// bank filled up to the window's size with `fill`.
std::vector<std::uint8_t> CombinedRom(const LinkResult& result, std::uint8_t fill);

// The images, the modules with their addresses, sizes and banks, the
// library members taken and why, and the public symbols with their
// addresses and banks, sorted by bank and address.
std::string LinkMap(const LinkResult& result);

// "BB:AAAA name" for every label of `labels` (one list per module of the
// result, with addresses in the module), at its linked address; BB is the
// bank, 00 outside the banks. Sorted by bank, address and name.
std::string SymbolFile(const LinkResult& result, const std::vector<std::vector<PlacedLabel>>& labels);

}  // namespace torvik::tools
