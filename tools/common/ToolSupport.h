// Small helpers shared by the companion tools: --help and --version, where
// the instruction table lies, numbers on the command line, hexadecimal
// text, dump rows and line numbers, and object files read with a clear message for every fault.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "Objectfile.h"
#include "Platform.h"
#include "Reporter.h"

namespace torvik::tools {

using torvik::BesideProgram;

// Makes argc and argv those of the program's arguments as UTF-8 texts (on
// Windows, taken from the wide command line), which it holds, and has the
// standard streams carry every byte as written.
class ProgramStart {
 public:
  ProgramStart(int& argc, char**& argv);

 private:
  platform::ProgramArguments arguments_;
};

// Answers "--help" or "--version" as the first argument: the usage line
// ("usage: PROGRAM USAGE"), or "PROGRAM (Torvik) VERSION", on standard
// output. Gives the exit status (0, or 1 when standard output cannot be
// written), or nullopt for any other command line, which the program then
// reads itself.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv, std::string_view program, std::string_view usage);

// A number from the command line: decimal, or hexadecimal after "$", "0x"
// or "0X". Nothing else may follow; nullopt when it is malformed or above
// `max`.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max);

// Upper-case hexadecimal with exactly `digits` digits.
std::string Hex(std::uint32_t value, int digits);

// One row of a hex dump of at most kDumpRowBytes bytes, after its address:
// each byte as " XX", the room of missing bytes left blank, then the bytes
// as characters between bars, '.' for those that do not print.
inline constexpr std::size_t kDumpRowBytes = 16;
std::string DumpRow(std::span<const std::uint8_t> bytes);

// A source line number, right-aligned in the five columns that listings
// give it.
std::string LineNumberColumn(std::uint32_t number);

// Reads a whole input file of at most maxBytes bytes. Anything but a
// regular file, and a file larger than that, is refused with a message
// before it is read; nullopt then. `identity`, when given, receives the
// identity of the file read.
std::optional<std::vector<std::uint8_t>> ReadInputFile(const std::string& path, std::uint64_t maxBytes,
                                                       Reporter& report, FileIdentity* identity = nullptr);

// Reads and checks an object file; reports what is wrong (with the byte
// offset for a malformed file) and gives nullopt.
std::optional<ObjectModule> LoadObjectFile(const std::string& path, Reporter& report, FileIdentity* identity = nullptr);

// Checks the bytes of an object file named `name` in messages, as above.
std::optional<ObjectModule> ParseObjectFile(const std::vector<std::uint8_t>& bytes, const std::string& name,
                                            Reporter& report);

}  // namespace torvik::tools
