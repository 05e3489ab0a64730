// Where the linker placed a module, read back from its link map, and the
// module's code as linked there: its relocations moved by its address and
// its external references filled in from the map's symbols.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "Objectfile.h"

namespace torvik::tools {

struct LinkedPlace {
  std::uint32_t base = 0;
  std::map<std::string, std::uint16_t> symbols;  // the public symbols of the whole link
};

// The module row of `map` whose file is `object`, or else the only row
// whose file has the same last path component; nullopt when there is none
// or the map is not a link map.
std::optional<LinkedPlace> FindInMap(const std::string& map, const std::string& object);

// `module`'s code with every relocation moved by `place.base` and every
// external reference that the map names resolved; the others keep what
// the object holds.
ObjectModule AtLinkedPlace(ObjectModule module, const LinkedPlace& place);

}  // namespace torvik::tools
