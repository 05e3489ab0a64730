// A listing of an object file against the source it was assembled from:
// the address and bytes of every source line, in the order of the expanded
// source (included files in their places).
#pragma once

#include <ostream>

#include "Assembler.h"
#include "Objectfile.h"
#include "Reporter.h"
#include "SourceScan.h"

namespace torvik::tools {

// Prints the listing. `assembler` holds the instruction table the object was
// assembled with; its diagnostics must go to a stream of no interest, since
// the data directives are sized with it. When the source does not agree
// with the object's line table, a warning says where, and a plainer listing
// follows: each line record with the bytes up to the next one. Returns
// whether the source agreed.
bool PrintListing(const ObjectModule& module, const ExpandedSource& source, CAssembler& assembler, std::ostream& out,
                  Reporter& report);

}  // namespace torvik::tools
