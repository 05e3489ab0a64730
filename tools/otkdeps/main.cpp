// otkdeps [-P] [-o DEPFILE] SOURCE.asm OBJECT.otk
//
// Prints (or writes to DEPFILE) the make rule "OBJECT.otk: SOURCE.asm ..."
// naming every file the assembly of SOURCE.asm reads.
#include <iostream>
#include <string>
#include <vector>

#include "Deps.h"
#include "Files.h"
#include "ToolSupport.h"

namespace {

constexpr const char* kUsage = "[-P] [-o DEPFILE] SOURCE.asm OBJECT.otk";

struct Options {
  bool phonyTargets = false;
  std::string output;  // empty: standard output
  std::vector<std::string> files;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-P") {
      options.phonyTargets = true;
    } else if (arg == "-o" && i + 1 < argc) {
      options.output = argv[++i];
    } else if (arg.size() > 1 && arg.front() == '-') {
      return false;
    } else {
      options.files.push_back(arg);
    }
  }
  return options.files.size() == 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = torvik::tools::AnswerHelpOrVersion(argc, argv, "otkdeps", kUsage)) return *status;
  torvik::tools::Reporter report("otkdeps", std::cerr);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    report.Usage(kUsage);
    return 2;
  }
  torvik::CObjectFile image;
  torvik::CAssembler assembler(image, report.Stream());
  const auto dependencies = torvik::tools::CollectDependencies(options.files[0], assembler, report);
  if (!dependencies) return 1;
  const std::string rule =
      torvik::tools::MakeRule(options.files[1], options.files[0], *dependencies, options.phonyTargets);
  if (options.output.empty()) {
    std::cout << rule;
    std::cout.flush();
    if (!std::cout) {
      report.Error("cannot write to standard output");
      return 1;
    }
  } else if (!torvik::WriteFileAtomically(options.output, std::vector<std::uint8_t>(rule.begin(), rule.end()))) {
    report.Error("cannot write \"" + options.output + "\"");
    return 1;
  }
  return 0;
}
