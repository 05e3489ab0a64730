#include "ToolSupport.h"

#include <algorithm>
#include <iostream>
#include <vector>

#include "Files.h"
#include "Text.h"

namespace torvik::tools {

namespace {

std::string HelpText(std::string_view program, std::string_view usage) {
  const std::string name(program);
  return "usage: " + name + " " + std::string(usage) + "\n       " + name + " --help | --version\n" +
         "The manual page " + name + "(1) describes the options.\n";
}

}  // namespace

ProgramStart::ProgramStart(int& argc, char**& argv) : arguments_(argc, argv) {
  argc = arguments_.Count();
  argv = arguments_.Vector();
  platform::UseBinaryStandardStreams();
}

std::optional<int> AnswerHelpOrVersion(int argc, char** argv, std::string_view program, std::string_view usage) {
  if (argc < 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option != "--help" && option != "--version") return std::nullopt;
  std::cout << (option == "--help" ? HelpText(program, usage)
                                   : std::string(program) + " (Torvik) " TORVIK_VERSION "\n");
  std::cout.flush();
  if (std::cout) return 0;
  Reporter(std::string(program), std::cerr).Error("cannot write to standard output");
  return 1;
}

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max) {
  int base = 10;
  if (text.starts_with("$")) {
    text.remove_prefix(1);
    base = 16;
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = DigitValue(c);
    if (digit >= base) return std::nullopt;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > max) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::string Hex(std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

std::string DumpRow(std::span<const std::uint8_t> bytes) {
  std::string hex;
  std::string text;
  for (const std::uint8_t byte : bytes) {
    hex += ' ';
    hex += Hex(byte, 2);
    text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
  }
  hex.resize(3 * kDumpRowBytes, ' ');
  return hex + "  |" + text + "|";
}

std::string LineNumberColumn(std::uint32_t number) {
  constexpr std::size_t kColumns = 5;
  const std::string digits = std::to_string(number);
  return std::string(kColumns - std::min(kColumns, digits.size()), ' ') + digits;
}

std::optional<std::vector<std::uint8_t>> ReadInputFile(const std::string& path, std::uint64_t maxBytes,
                                                       Reporter& report, FileIdentity* identity) {
  InputBytes input = ReadBinaryFile(path, maxBytes);
  const std::string quoted = "\"" + path + "\"";
  switch (input.status) {
    case InputBytes::Status::Ok:
      if (identity != nullptr && input.identity) *identity = *input.identity;
      return std::move(input.bytes);
    case InputBytes::Status::NotRegular: report.Error(quoted + " is not a regular file"); break;
    case InputBytes::Status::TooLarge:
      report.Error(quoted + " is too large (" + std::to_string(input.size) + " bytes; at most " +
                   std::to_string(maxBytes) + " are read)");
      break;
    case InputBytes::Status::CannotOpen:
    case InputBytes::Status::CannotRead: report.Error("cannot read " + quoted); break;
  }
  return std::nullopt;
}

std::optional<ObjectModule> LoadObjectFile(const std::string& path, Reporter& report, FileIdentity* identity) {
  const auto bytes = ReadInputFile(path, kMaxObjectFileBytes, report, identity);
  if (!bytes) return std::nullopt;
  return ParseObjectFile(*bytes, path, report);
}

std::optional<ObjectModule> ParseObjectFile(const std::vector<std::uint8_t>& bytes, const std::string& name,
                                            Reporter& report) {
  ObjectReadResult read = CObjectFile::Parse(bytes);
  if (!read.ok) {
    report.Error("\"" + name + "\" is not a valid object file: " + read.error + " (at byte offset " +
                 std::to_string(read.errorOffset) + ")");
    return std::nullopt;
  }
  return std::move(read.module);
}

}  // namespace torvik::tools
