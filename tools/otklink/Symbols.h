// Every label of every linked module, public or not, for the debugger's
// symbol file. The object file holds only the public labels; the others
// are recovered from each module's source, walked as the listing walks it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Linker.h"
#include "Reporter.h"
#include "SourceWalk.h"

namespace torvik::tools {

// The source of a module: the one named in `sources` under the module's
// name, else the ".asm" file of the same name beside the object (beside
// the archive for a library member), or "" when there is none.
std::string SourceOf(const std::string& module, const std::map<std::string, std::string>& sources);

// One list per module of `result`, with addresses in the module. A module
// without a source, or whose source no longer agrees with its object,
// gives its public labels, with a warning. A source that cannot be read is
// an error: nullopt.
std::optional<std::vector<std::vector<PlacedLabel>>> ModuleLabels(const LinkResult& result,
                                                                  const std::map<std::string, std::string>& sources,
                                                                  const std::string& table, Reporter& report);

}  // namespace torvik::tools
