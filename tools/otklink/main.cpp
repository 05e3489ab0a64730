// otklink -o OUT [options] INPUT... [--ram INPUT]... [--bank N INPUT...]...
//
// Links object modules and libraries into images for a 64 KiB machine,
// with a map and a symbol file. On any error nothing is written, and
// older outputs stay as they were.
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Files.h"
#include "Inputs.h"
#include "Linker.h"
#include "Output.h"
#include "Symbols.h"
#include "Text.h"
#include "ToolSupport.h"

namespace {

using torvik::tools::Reporter;

constexpr const char* kUsage =
    "-o OUT [--org ADDR] [--format bin|ihex] [--map FILE] [--sym FILE] [--fill BYTE] [--limit ADDR] "
    "[--window ADDR:SIZE] [--rom] [-t TABLE] [--source MODULE=FILE]... "
    "INPUT[@ADDR]... [--ram INPUT[@ADDR]]... [--bank N INPUT[@ADDR]...]...";

struct InputArgument {
  std::string path;
  torvik::tools::Placement placement;
};

struct Options {
  std::string output;
  std::string map;
  std::string symbols;
  std::string table;
  bool intelHex = false;
  torvik::tools::LinkOptions link;
  std::map<std::string, std::string> sources;
  std::vector<InputArgument> inputs;
  int bank = torvik::tools::kNoBank;  // of the inputs that follow
};

// The value of the option at argv[i], which must have one.
const char* Value(int argc, char** argv, int& i) { return i + 1 < argc ? argv[++i] : nullptr; }

std::optional<std::uint32_t> Number(const std::string& option, const std::string& value, std::uint32_t max,
                                    const std::string& what, Reporter& report) {
  const auto number = torvik::tools::ParseNumber(value, max);
  if (!number) report.Error(option + " needs " + what + ", not \"" + value + "\"");
  return number;
}

// "FILE@ADDR" places the input at ADDR: an '@' followed by a digit or '$'.
std::optional<InputArgument> ParseInput(const std::string& text, bool ram, int bank, Reporter& report) {
  InputArgument input{text, {std::nullopt, ram, bank}};
  const auto at = text.rfind('@');
  if (at == std::string::npos || at + 1 == text.size() ||
      (!torvik::IsAsciiDigit(text[at + 1]) && text[at + 1] != '$')) {
    return input;
  }
  input.path = text.substr(0, at);
  input.placement.at = Number(input.path + "@", text.substr(at + 1), 0xFFFF, "an address from 0 to $FFFF", report);
  if (!input.placement.at || input.path.empty()) return std::nullopt;
  return input;
}

bool ParseWindow(const std::string& value, torvik::tools::Window& window, Reporter& report) {
  const auto colon = value.find(':');
  const auto start = torvik::tools::ParseNumber(value.substr(0, colon), 0xFFFF);
  const auto size =
      colon == std::string::npos ? std::nullopt : torvik::tools::ParseNumber(value.substr(colon + 1), 0x10000);
  if (!start || !size || *size == 0 || *start + *size > 0x10000) {
    report.Error("--window needs START:SIZE within 64 KiB, not \"" + value + "\"");
    return false;
  }
  window = {*start, *size};
  return true;
}

bool ParseSource(const std::string& value, Options& options, Reporter& report) {
  const auto equals = value.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
    report.Error("--source needs MODULE=FILE, not \"" + value + "\"");
    return false;
  }
  options.sources[value.substr(0, equals)] = value.substr(equals + 1);
  return true;
}

bool ParseInputOption(const std::string& value, bool ram, Options& options, Reporter& report) {
  auto input = ParseInput(value, ram, ram ? torvik::tools::kNoBank : options.bank, report);
  if (input) options.inputs.push_back(std::move(*input));
  return input.has_value();
}

bool ParseNumberOption(const std::string& arg, const std::string& value, Options& options, Reporter& report) {
  if (arg == "--org") {
    options.link.origin = Number(arg, value, 0xFFFF, "an address from 0 to $FFFF", report);
    return options.link.origin.has_value();
  }
  if (arg == "--limit") {
    options.link.limit = Number(arg, value, 0xFFFF, "an address from 0 to $FFFF", report);
    return options.link.limit.has_value();
  }
  if (arg == "--fill") {
    const auto fill = Number(arg, value, 0xFF, "a byte from 0 to $FF", report);
    if (fill) options.link.fill = static_cast<std::uint8_t>(*fill);
    return fill.has_value();
  }
  const auto bank = Number(arg, value, 0xFF, "a bank number from 0 to 255", report);
  if (bank) options.bank = static_cast<int>(*bank);
  return bank.has_value();
}

bool ParseOption(const std::string& arg, const char* value, Options& options, Reporter& report) {
  if (value == nullptr) return false;
  if (arg == "--org" || arg == "--limit" || arg == "--fill" || arg == "--bank") {
    return ParseNumberOption(arg, value, options, report);
  }
  if (arg == "--ram") return ParseInputOption(value, true, options, report);
  if (arg == "--window") return ParseWindow(value, options.link.window, report);
  if (arg == "--source") return ParseSource(value, options, report);
  if (arg == "-o")
    options.output = value;
  else if (arg == "--map")
    options.map = value;
  else if (arg == "--sym")
    options.symbols = value;
  else if (arg == "-t")
    options.table = value;
  else if (arg == "--format") {
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
    if (arg == "--rom") {
      options.link.combinedRom = true;
    } else if (arg.size() > 1 && arg.front() == '-') {
      if (!ParseOption(arg, Value(argc, argv, i), options, report)) return false;
    } else if (!ParseInputOption(arg, false, options, report)) {
      return false;
    }
  }
  if (options.link.combinedRom && options.intelHex) {
    report.Error("--rom writes one binary file, not Intel HEX");
    return false;
  }
  return !options.output.empty() && !options.inputs.empty();
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const auto first = torvik::IdentityOfPath(a);
  return first && first == torvik::IdentityOfPath(b);
}

// Refuses two outputs that are one file; the empty paths are not asked for.
bool DistinctOutputs(const std::vector<std::string>& paths, Reporter& report) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    for (std::size_t j = i + 1; j < paths.size(); ++j) {
      if (paths[i].empty() || paths[j].empty() || !SameFile(paths[i], paths[j])) continue;
      report.Error("two outputs cannot be the same file \"" + paths[j] + "\"");
      return false;
    }
  }
  return true;
}

// The inputs, and the identities of their files, which no output may take
// the place of.
std::vector<torvik::tools::LinkInput> ReadInputs(const Options& options, std::vector<torvik::FileIdentity>& read,
                                                 Reporter& report) {
  std::vector<torvik::tools::LinkInput> inputs;
  for (const InputArgument& argument : options.inputs) {
    torvik::FileIdentity identity;
    if (auto input = torvik::tools::ReadInput(argument.path, argument.placement, report, &identity)) {
      inputs.push_back(std::move(*input));
      read.push_back(identity);
    }
  }
  return inputs;
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// "game.bin" gives "game.bank3.bin" for bank 3.
std::string BankPath(const std::string& output, int bank) {
  const auto slash = output.rfind('/');
  auto dot = output.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) dot = output.size();
  return output.substr(0, dot) + ".bank" + std::to_string(bank) + output.substr(dot);
}

struct ProductFile {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

std::optional<std::vector<ProductFile>> Products(const Options& options, const torvik::tools::LinkResult& result,
                                                 const std::string& table, Reporter& report) {
  const auto image = [&options](const torvik::tools::Image& linked) {
    return options.intelHex ? Bytes(torvik::tools::IntelHex(linked)) : linked.bytes;
  };
  std::vector<ProductFile> files;
  if (options.link.combinedRom) {
    files.push_back({options.output, torvik::tools::CombinedRom(result, options.link.fill)});
  } else {
    files.push_back({options.output, image(result.image)});
    for (const auto& bank : result.banks) files.push_back({BankPath(options.output, bank.bank), image(bank.image)});
  }
  if (!options.map.empty()) files.push_back({options.map, Bytes(torvik::tools::LinkMap(result))});
  if (!options.symbols.empty()) {
    const auto labels = torvik::tools::ModuleLabels(result, options.sources, table, report);
    if (!labels) return std::nullopt;
    files.push_back({options.symbols, Bytes(torvik::tools::SymbolFile(result, *labels))});
  }
  std::vector<std::string> paths;
  for (const ProductFile& file : files) paths.push_back(file.path);
  if (!DistinctOutputs(paths, report)) return std::nullopt;
  return files;
}

// Every output or none: an older image stays when the map cannot be
// written. No output may take the place of an input.
bool WriteOutputs(const Options& options, const torvik::tools::LinkResult& result, const std::string& table,
                  const std::vector<torvik::FileIdentity>& inputs, Reporter& report) {
  const auto files = Products(options, result, table, report);
  if (!files) return false;
  std::vector<torvik::OutputFile> outputs;
  for (const ProductFile& file : *files) outputs.push_back({file.path, file.bytes});
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
  const torvik::tools::ProgramStart start(argc, argv);
  if (const auto status = torvik::tools::AnswerHelpOrVersion(argc, argv, "otklink", kUsage)) return *status;
  Reporter report("otklink", std::cerr);
  Options options;
  if (!ParseOptions(argc, argv, options, report)) {
    report.Usage(kUsage);
    return 2;
  }
  if (!DistinctOutputs({options.output, options.map, options.symbols}, report)) return 1;
  std::vector<torvik::FileIdentity> read;
  const auto inputs = ReadInputs(options, read, report);
  if (report.HasErrors()) return 1;
  const auto result = torvik::tools::Link(inputs, options.link, report);
  if (!result.ok) return 1;
  const std::string table =
      options.table.empty() ? torvik::tools::BesideProgram(argv[0], torvik::kInstructionTableName, std::getenv("PATH"))
                            : options.table;
  return WriteOutputs(options, result, table, read, report) ? 0 : 1;
}
