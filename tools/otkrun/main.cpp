// otkrun [--org ADDR] [--entry ADDR] [--sp ADDR] [--max INSTRUCTIONS] [--dump ADDR:LENGTH]... IMAGE.bin
//
// Loads a raw binary image at ADDR (default 0) into a Z80 with 64 KiB of
// RAM, starts it at the entry (default: the origin) and runs it to HALT.
// Prints where it halted, the registers and the memory asked for.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Files.h"
#include "Machine.h"
#include "ToolSupport.h"

namespace {

using torvik::tools::Hex;
using torvik::tools::ParseNumber;
using torvik::tools::Reporter;

constexpr const char* kUsage =
    "[--org ADDR] [--entry ADDR] [--sp ADDR] [--max INSTRUCTIONS] [--dump ADDR:LENGTH]... IMAGE.bin";
constexpr std::uint32_t kDefaultLimit = 10'000'000;

struct Dump {
  std::uint16_t address = 0;
  std::uint32_t length = 0;
};

struct Options {
  std::uint16_t origin = 0;
  std::optional<std::uint16_t> entry;
  std::optional<std::uint16_t> stack;
  std::uint32_t limit = kDefaultLimit;
  std::vector<Dump> dumps;
  std::string image;
};

std::optional<Dump> ParseDump(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const auto address = ParseNumber(std::string_view(text).substr(0, colon), 0xFFFF);
  const auto length = ParseNumber(std::string_view(text).substr(colon + 1), 0x10000);
  if (!address || !length) return std::nullopt;
  return Dump{static_cast<std::uint16_t>(*address), *length};
}

bool ParseOption(const std::string& arg, const std::string& value, Options& options) {
  if (arg == "--dump") {
    const auto dump = ParseDump(value);
    if (dump) options.dumps.push_back(*dump);
    return dump.has_value();
  }
  const auto number = ParseNumber(value, arg == "--max" ? 0xFFFFFFFFu : 0xFFFFu);
  if (!number) return false;
  if (arg == "--org")
    options.origin = static_cast<std::uint16_t>(*number);
  else if (arg == "--entry")
    options.entry = static_cast<std::uint16_t>(*number);
  else if (arg == "--sp")
    options.stack = static_cast<std::uint16_t>(*number);
  else if (arg == "--max")
    options.limit = *number;
  else
    return false;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() > 1 && arg.front() == '-') {
      if (i + 1 == argc || !ParseOption(arg, argv[++i], options)) return false;
    } else if (options.image.empty()) {
      options.image = arg;
    } else {
      return false;
    }
  }
  return !options.image.empty();
}

// The memory asked for in rows of a hex dump, each after its address.
void PrintDump(const torvik::tools::Machine& machine, const Dump& dump) {
  using torvik::tools::kDumpRowBytes;
  for (std::uint32_t row = 0; row < dump.length; row += kDumpRowBytes) {
    const auto start = static_cast<std::uint16_t>(dump.address + row);
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t i = row; i < dump.length && i < row + kDumpRowBytes; ++i) {
      bytes.push_back(machine.Peek(static_cast<std::uint16_t>(dump.address + i)));
    }
    std::cout << Hex(start, 4) << ":" << torvik::tools::DumpRow(bytes) << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const torvik::tools::ProgramStart start(argc, argv);
  if (const auto status = torvik::tools::AnswerHelpOrVersion(argc, argv, "otkrun", kUsage)) return *status;
  Reporter report("otkrun", std::cerr);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    report.Usage(kUsage);
    return 2;
  }
  // No image larger than the memory can be loaded.
  const auto image = torvik::tools::ReadInputFile(options.image, torvik::tools::Machine::kMemoryBytes, report);
  if (!image) return 1;
  torvik::tools::Machine machine;
  if (!machine.Load(*image, options.origin)) {
    report.Error("\"" + options.image + "\" (" + std::to_string(image->size()) +
                 " bytes) does not fit in memory from $" + Hex(options.origin, 4));
    return 1;
  }
  machine.SetPC(options.entry.value_or(options.origin));
  if (options.stack) machine.SetSP(*options.stack);
  const auto run = machine.Run(options.limit);
  if (run.halted) {
    std::cout << "halted at $" << Hex(run.haltAddress, 4) << " after " << run.instructions << " instructions\n";
  }
  std::cout << torvik::tools::FormatRegisters(machine.Read()) << "\n";
  for (const Dump& dump : options.dumps) PrintDump(machine, dump);
  std::cout.flush();
  if (!run.halted) {
    report.Error("no HALT within " + std::to_string(options.limit) + " instructions");
    return 1;
  }
  return 0;
}
