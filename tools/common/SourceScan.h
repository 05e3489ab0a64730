// A source as the assembler sees it: expanded with the assembler's own
// preprocessor (so the include rules are the assembler's), and split into
// statements by the same splitter as its passes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Assembler.h"
#include "Reporter.h"

namespace torvik::tools {

struct ExpandedLine {
  std::string text;
  bool tooLong = false;  // the passes refuse the line and skip it
  int fileIndex = 0;
  std::int32_t lineInFile = 0;
};

struct ExpandedSource {
  std::vector<std::string> files;  // file 0 is the source; the rest as named by #include
  std::vector<ExpandedLine> lines;
};

// Expands `path` and its includes into a private anonymous file (never a
// file in the current directory). Problems are printed by the assembler's
// diagnostics; nullopt when there were any.
std::optional<ExpandedSource> ExpandSource(const std::string& path, CAssembler& assembler, Reporter& report);

struct ScannedLine {
  std::string text;                     // as the passes read it: no comment, blanks for tabs
  std::vector<std::string> statements;  // in order, empty ones left out
};

// One entry per expanded line, as far as the passes read: the line with an
// end directive that has an argument is the last, and it keeps only the
// statements up to that directive.
std::vector<ScannedLine> ScanStatements(const ExpandedSource& source);
// The same lines one at a time, none kept.
void ForEachScannedLine(const ExpandedSource& source, const std::function<void(const ScannedLine&)>& visit);

// The directive name of a statement ("" when the statement is no directive).
std::string_view DirectiveName(std::string_view statement);
// True for the end directive with an argument, which ends both passes.
bool EndsPasses(std::string_view statement);

}  // namespace torvik::tools
