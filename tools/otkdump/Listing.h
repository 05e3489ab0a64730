// A listing of an object file against the source it was assembled from:
// the address and bytes of every source line, in the order of the expanded
// source (included files in their places).
#pragma once

#include <cstdint>
#include <ostream>

#include "Objectfile.h"
#include "Reporter.h"
#include "SourceWalk.h"

namespace torvik::tools {

// Prints the listing of `module`, whose source was walked into `listed`,
// with every address moved by `base` (the address the linker gave the
// module; 0 for the module as assembled). When the source does not agree
// with the object's line table, a warning says where, and a plainer listing
// follows: each line record with the bytes up to the next one. Returns
// whether the source agreed.
bool PrintListing(const ObjectModule& module, const ModuleSource& listed, std::uint32_t base, std::ostream& out,
                  Reporter& report);

}  // namespace torvik::tools
