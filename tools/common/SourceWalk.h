// A module's source walked as pass 1 walks it, against the module's object
// file: where each statement's bytes lie and where each label stands. The
// listing and the linker's symbol file both read their addresses from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Assembler.h"
#include "Objectfile.h"
#include "Reporter.h"
#include "SourceScan.h"

namespace torvik::tools {

// One statement of the source and the code bytes [start, end) it produced.
struct PlacedStatement {
  std::size_t line = 0;  // index into the expanded lines
  std::string text;
  bool instruction = false;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::int64_t sized = 0;  // a directive: the size it gives on its own
};

// A label with its address in the module. A local label is named after
// the top-level label it belongs to: "sum.next" for @next under sum.
struct PlacedLabel {
  std::string name;
  std::uint32_t address = 0;
  bool isPublic = false;
};

struct SourceWalk {
  // Where the source and the object's line table part, for a message
  // ("at line 3 of \"a.asm\""); nothing else is filled in then.
  std::optional<std::string> disagreement;
  std::vector<PlacedStatement> statements;
  std::vector<PlacedLabel> labels;  // in source order
  std::uint32_t firstTaken = 0;     // the bytes before it belong to no statement
};

// Walks `source` against `module`. `assembler` holds the instruction table
// the object was assembled with; its diagnostics must go to a stream of no
// interest, since the data directives are sized with it.
SourceWalk WalkSource(const ObjectModule& module, const ExpandedSource& source, CAssembler& assembler);

struct ModuleSource {
  ExpandedSource source;
  SourceWalk walk;
};

// Expands the source at `sourcePath` (its problems are printed as the
// assembler's diagnostics), loads the table at `tablePath` and walks the
// source against `module`; nullopt after an error.
std::optional<ModuleSource> WalkModuleSource(const ObjectModule& module, const std::string& sourcePath,
                                             const std::string& tablePath, Reporter& report);

}  // namespace torvik::tools
