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

// The files the rule names, as the expansion read them and as named.
std::vector<torvik::FileIdentity> InputsOf(torvik::CAssembler& assembler, const std::string& source,
                                           const std::vector<std::string>& dependencies) {
  std::vector<torvik::FileIdentity> inputs = assembler.Preprocessor().Inputs();
  for (const std::string& name : dependencies) {
    if (const auto identity = torvik::IdentityOfPath(name)) inputs.push_back(*identity);
  }
  if (const auto identity = torvik::IdentityOfPath(source)) inputs.push_back(*identity);
  return inputs;
}

bool WriteRule(const std::string& path, const std::string& rule, const std::vector<torvik::FileIdentity>& inputs,
               torvik::tools::Reporter& report) {
  const std::vector<std::uint8_t> bytes(rule.begin(), rule.end());
  const torvik::OutputFile output{path, bytes};
  switch (torvik::WriteOutputs(std::span(&output, 1), inputs).status) {
    case torvik::OutputStatus::Written: return true;
    case torvik::OutputStatus::NamesAnInput:
      report.Error("the output \"" + path + "\" is one of the files the rule names; nothing was written");
      return false;
    case torvik::OutputStatus::CannotWrite: break;
  }
  report.Error("cannot write \"" + path + "\"");
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const torvik::tools::ProgramStart start(argc, argv);
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
    return 0;
  }
  return WriteRule(options.output, rule, InputsOf(assembler, options.files[0], *dependencies), report) ? 0 : 1;
}
