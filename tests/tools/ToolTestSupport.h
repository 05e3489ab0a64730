// Helpers for the tests of the companion tools: modules written out by
// hand, the tools' binaries, and a reporter that keeps what it printed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "Objectfile.h"
#include "Process.h"
#include "Reporter.h"

namespace torvik::tools::test {

using torvik::test::FromHex;
using torvik::test::ProcessResult;
using torvik::test::ReadFile;
using torvik::test::RunProcess;
using torvik::test::TempDir;
using torvik::test::ToHex;
using torvik::test::WriteFile;

inline std::string ToolPath(const std::string& name) { return std::string(OTK_TOOL_DIR) + "/" + name; }
inline std::string TorvikPath() { return OTK_TORVIK; }
inline std::string ExampleDir() { return OTK_EXAMPLE_DIR; }

// Runs a tool (by name, from beside Torvik) in `directory`.
inline ProcessResult RunTool(const std::string& name, std::vector<std::string> args, const std::string& directory) {
  args.insert(args.begin(), ToolPath(name));
  return RunProcess(ToolPath(name), args, directory);
}

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
inline std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }
inline std::string HexOf(const std::vector<std::uint8_t>& bytes) { return ToHex(Text(bytes)); }

struct CapturingReporter {
  std::ostringstream text;
  Reporter report{"tool", text};
};

}  // namespace torvik::tools::test
