// otkdump [-t TABLE] [-s SOURCE.asm] FILE.otk
//
// Prints the sections of an object file; with the source it was assembled
// from, a listing of address, bytes and source line instead.
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "Dump.h"
#include "Listing.h"
#include "ToolSupport.h"

namespace {

using torvik::tools::Reporter;

constexpr const char* kUsage = "[-t TABLE] [-s SOURCE.asm] FILE.otk";

struct Options {
  std::string table;
  std::string source;
  std::string object;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "-t" || arg == "-s") && i + 1 < argc) {
      (arg == "-t" ? options.table : options.source) = argv[++i];
    } else if (arg.size() > 1 && arg.front() == '-') {
      return false;
    } else if (options.object.empty()) {
      options.object = arg;
    } else {
      return false;
    }
  }
  return !options.object.empty();
}

// The table as the assembler loads it, its messages kept out of sight
// unless it could not be read at all.
bool LoadTable(torvik::CAssembler& assembler, const std::string& path, Reporter& report) {
  assembler.Instructions().Load(path);
  if (assembler.Instructions().RowCount() > 0) return true;
  report.Error("no instructions could be loaded from the table \"" + path + "\"");
  return false;
}

int List(const torvik::ObjectModule& module, const Options& options, const std::string& table, Reporter& report) {
  // Problems in the source are the assembler's; the sizing of directives
  // later on speaks through the same assembler into a discarded stream.
  std::ostream diagnostics(report.Stream().rdbuf());
  torvik::CObjectFile image;
  torvik::CAssembler assembler(image, diagnostics);
  const auto source = torvik::tools::ExpandSource(options.source, assembler, report);
  if (!source) return 1;
  std::ostringstream discarded;
  diagnostics.rdbuf(discarded.rdbuf());
  if (!LoadTable(assembler, table, report)) return 1;
  torvik::tools::PrintListing(module, *source, assembler, std::cout, report);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
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
    const std::string table =
        options.table.empty() ? torvik::tools::BesideProgram(argv[0], torvik::tools::kTableName, std::getenv("PATH")) : options.table;
    status = List(*module, options, table, report);
  }
  std::cout.flush();
  if (!std::cout) {
    report.Error("cannot write to standard output");
    return 1;
  }
  return status;
}
