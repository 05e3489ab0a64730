// The files an assembly reads besides its source, and the make rule that
// names them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Assembler.h"
#include "Reporter.h"

namespace torvik::tools {

// Every file the source includes, in the order of first inclusion, then
// every binary file it includes, in the order of the passes; each name once,
// as the source writes it. nullopt (after the assembler's diagnostics) when
// the source cannot be expanded.
std::optional<std::vector<std::string>> CollectDependencies(const std::string& source, CAssembler& assembler,
                                                            Reporter& report);

// A file name as make reads it in a rule: blanks and '#' behind a
// backslash, '$' doubled.
std::string EscapeForMake(std::string_view name);

// "TARGET: SOURCE DEPENDENCY...", and with `phonyTargets` an empty rule for
// each dependency, so that make goes on when one of them is deleted.
std::string MakeRule(const std::string& target, const std::string& source, const std::vector<std::string>& dependencies,
                     bool phonyTargets);

}  // namespace torvik::tools
