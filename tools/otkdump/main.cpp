// otkdump [-t TABLE] [-s SOURCE.asm [--base ADDR | --map FILE]] FILE.otk
//
// Prints the sections of an object file; with the source it was assembled
// from, a listing of address, bytes and source line instead, at the
// address the linker gave the module when its map or address is given.
#include <cstdlib>
#include <iostream>
#include <string>

#include "Dump.h"
#include "Files.h"
#include "LinkedPlace.h"
#include "Listing.h"
#include "ToolSupport.h"

namespace {

using torvik::tools::Reporter;

constexpr const char* kUsage = "[-t TABLE] [-s SOURCE.asm [--base ADDR | --map FILE]] FILE.otk";

struct Options {
  std::string table;
  std::string source;
  std::string map;
  std::string base;
  std::string object;
};

std::string* ValueOf(const std::string& arg, Options& options) {
  if (arg == "-t") return &options.table;
  if (arg == "-s") return &options.source;
  if (arg == "--map") return &options.map;
  if (arg == "--base") return &options.base;
  return nullptr;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string* value = ValueOf(arg, options);
    if (value != nullptr && i + 1 < argc) {
      *value = argv[++i];
    } else if (arg.size() > 1 && arg.front() == '-') {
      return false;
    } else if (options.object.empty()) {
      options.object = arg;
    } else {
      return false;
    }
  }
  const bool placed = !options.map.empty() || !options.base.empty();
  if (placed && (options.source.empty() || (!options.map.empty() && !options.base.empty()))) return false;
  return !options.object.empty();
}

// Where the module is listed: from --base, from its row of the --map, or
// where it was assembled.
std::optional<torvik::tools::LinkedPlace> PlaceOf(const Options& options, Reporter& report) {
  if (!options.base.empty()) {
    const auto base = torvik::tools::ParseNumber(options.base, 0xFFFF);
    if (!base) report.Error("--base needs an address from 0 to $FFFF, not \"" + options.base + "\"");
    if (!base) return std::nullopt;
    return torvik::tools::LinkedPlace{*base, {}};
  }
  if (options.map.empty()) return torvik::tools::LinkedPlace{};
  // A map names every symbol of a link once; far less than this.
  constexpr std::uint64_t kMaxMapBytes = std::uint64_t{64} << 20;
  const auto text = torvik::tools::ReadInputFile(options.map, kMaxMapBytes, report);
  if (!text) return std::nullopt;
  auto place = torvik::tools::FindInMap(std::string(text->begin(), text->end()), options.object);
  if (!place) report.Error("the map \"" + options.map + "\" places no module \"" + options.object + "\"");
  return place;
}

int List(const torvik::ObjectModule& module, const Options& options, const std::string& table, Reporter& report) {
  const auto place = PlaceOf(options, report);
  if (!place) return 1;
  const auto listed = torvik::tools::WalkModuleSource(module, options.source, table, report);
  if (!listed) return 1;
  torvik::tools::PrintListing(torvik::tools::AtLinkedPlace(module, *place), *listed, place->base, std::cout, report);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const torvik::tools::ProgramStart start(argc, argv);
  if (const auto status = torvik::tools::AnswerHelpOrVersion(argc, argv, "otkdump", kUsage)) return *status;
  std::ios::sync_with_stdio(false);
  Reporter report("otkdump", std::cerr);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    report.Usage(kUsage);
    return 2;
  }
  const auto module = torvik::tools::LoadObjectFile(options.object, report);
  if (!module) return 1;
  int status = 0;
  if (options.source.empty()) {
    torvik::tools::PrintSections(*module, std::cout);
  } else {
    const std::string table = options.table.empty() ? torvik::tools::BesideProgram(
                                                          argv[0], torvik::kInstructionTableName, std::getenv("PATH"))
                                                    : options.table;
    status = List(*module, options, table, report);
  }
  std::cout.flush();
  if (!std::cout) {
    report.Error("cannot write to standard output");
    return 1;
  }
  return status;
}
