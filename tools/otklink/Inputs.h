// The linker's inputs read from their files: object files, and libraries
// (ar archives of object files), told apart by the archive's magic line.
#pragma once

#include <optional>
#include <string>

#include "Files.h"
#include "Linker.h"
#include "Reporter.h"

namespace torvik::tools {

// Reads the object file or library at `path`; reports what is wrong with
// it (for a member, as "lib.a(member.otk)", with the offset in the member)
// and gives nullopt.
// `identity`, when given, receives the identity of the file read.
std::optional<LinkInput> ReadInput(const std::string& path, const Placement& placement, Reporter& report,
                                   FileIdentity* identity = nullptr);

}  // namespace torvik::tools
