// otklink -o OUT [--org ADDR] [--format bin|ihex] [--map FILE] A.otk B.otk ...
//
// Links object modules into one image for a 64 KiB machine. On any error
// nothing is written, neither the image nor the map, and older ones stay.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Files.h"
#include "Linker.h"
#include "Output.h"
#include "ToolSupport.h"

namespace {

using torvik::tools::Reporter;

constexpr const char* kUsage = "-o OUT [--org ADDR] [--format bin|ihex] [--map FILE] A.otk [B.otk ...]";

struct Options {
  std::string output;
  std::string map;
  std::uint32_t origin = 0;
  bool intelHex = false;
  std::vector<std::string> inputs;
};

// The value of the option at argv[i], which must have one.
const char* Value(int argc, char** argv, int& i) { return i + 1 < argc ? argv[++i] : nullptr; }

bool ParseOption(const std::string& arg, const char* value, Options& options, Reporter& report) {
  if (value == nullptr) return false;
  if (arg == "-o") {
    options.output = value;
  } else if (arg == "--map") {
    options.map = value;
  } else if (arg == "--org") {
    const auto origin = torvik::tools::ParseNumber(value, 0xFFFF);
    if (!origin) {
      report.Error("--org needs an address from 0 to $FFFF, not \"" + std::string(value) + "\"");
      return false;
    }
    options.origin = *origin;
  } else if (arg == "--format") {
    const std::string format = value;
    if (format != "bin" && format != "ihex") {
      report.Error("--format is bin or ihex, not \"" + format + "\"");
      return false;
    }
    options.intelHex = format == "ihex";
  } else {
    return false;
  }
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options, Reporter& report) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() > 1 && arg.front() == '-') {
      if (!ParseOption(arg, Value(argc, argv, i), options, report)) return false;
    } else {
      options.inputs.push_back(arg);
    }
  }
  return !options.output.empty() && !options.inputs.empty();
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const auto first = torvik::IdentityOfPath(a);
  return first && first == torvik::IdentityOfPath(b);
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The image and the map, both or neither: an older image stays when the
// map cannot be written. No output may take the place of an input.
bool WriteOutputs(const Options& options, const torvik::tools::LinkResult& result,
                  const std::vector<torvik::FileIdentity>& inputs, Reporter& report) {
  const auto image = options.intelHex ? Bytes(torvik::tools::IntelHex(result.image, result.origin)) : result.image;
  const auto map = options.map.empty() ? std::vector<std::uint8_t>{} : Bytes(torvik::tools::LinkMap(result));
  std::vector<torvik::OutputFile> outputs = {{options.output, image}};
  if (!options.map.empty()) outputs.push_back({options.map, map});
  const auto outcome = torvik::WriteOutputs(outputs, inputs);
  if (outcome.status == torvik::OutputStatus::Written) return true;
  const std::string& path = outputs[outcome.failed].path;
  if (outcome.status == torvik::OutputStatus::NamesAnInput) {
    report.Error("the output \"" + path + "\" is one of the inputs; nothing was written");
  } else {
    report.Error("cannot write \"" + path + "\"");
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Reporter report("otklink", std::cerr);
  Options options;
  if (!ParseOptions(argc, argv, options, report)) {
    report.Usage(kUsage);
    return 2;
  }
  if (!options.map.empty() && SameFile(options.map, options.output)) {
    report.Error("the map and the image cannot be the same file \"" + options.map + "\"");
    return 1;
  }
  std::vector<torvik::tools::LinkInput> inputs;
  std::vector<torvik::FileIdentity> read;
  for (const std::string& path : options.inputs) {
    torvik::FileIdentity identity;
    if (auto module = torvik::tools::LoadObjectFile(path, report, &identity)) {
      inputs.push_back({path, std::move(*module)});
      read.push_back(identity);
    }
  }
  if (report.HasErrors()) return 1;
  const auto result = torvik::tools::Link(inputs, options.origin, report);
  if (!result.ok) return 1;
  return WriteOutputs(options, result, read, report) ? 0 : 1;
}
