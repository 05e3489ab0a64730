#include "ToolSupport.h"

#include <unistd.h>

#include <vector>

#include "Files.h"

namespace torvik::tools {

std::string BesideProgram(const std::string& programPath, const std::string& name) {
  const auto slash = programPath.find_last_of("/\\");
  if (slash != std::string::npos) return programPath.substr(0, slash + 1) + name;
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return name;
  const std::string executable(buffer.data(), static_cast<std::size_t>(length));
  return executable.substr(0, executable.find_last_of('/') + 1) + name;
}

namespace {

int DigitValue(char c, int base) {
  int value = -1;
  if (IsAsciiDigit(c)) value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

}  // namespace

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
    const int digit = DigitValue(c, base);
    if (digit < 0) return std::nullopt;
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

namespace {

// The reader checks addresses against the code only once every field has
// been read, and then names no field. In a file that was read whole every
// field's place follows from the counts, so the first address outside the
// code can be found again, in the reader's order, to name its offset.
std::optional<std::size_t> OffsetOfAddressOutsideCode(const ObjectModule& module) {
  const std::size_t size = module.code.size();
  std::size_t offset = 2 + size + 2;
  for (const auto address : module.relocations) {
    if (address + 2u > size) return offset;
    offset += 2;
  }
  offset += 2;
  std::optional<std::size_t> found;
  for (const auto& external : module.externals) {
    offset += 1 + external.name.size() + 1 + 2;
    for (const auto address : external.addresses) {
      if (!found && address + 2u > size) found = offset;
      offset += 2;
    }
  }
  if (found) return found;
  offset += 2;
  for (const auto& symbol : module.publics) offset += 1 + symbol.name.size() + 1 + 2;
  offset += 2;
  for (const auto& line : module.lines) {
    if (line.address >= size) return offset + 2;
    offset += 4;
  }
  return std::nullopt;
}

}  // namespace

std::optional<ObjectModule> LoadObjectFile(const std::string& path, Reporter& report) {
  const auto bytes = ReadBinaryFile(path);
  if (!bytes) {
    report.Error("cannot read \"" + path + "\"");
    return std::nullopt;
  }
  ObjectReadResult read = CObjectFile::Parse(*bytes);
  if (!read.ok) {
    std::size_t offset = read.errorOffset;
    if (read.error.ends_with("outside the code")) offset = OffsetOfAddressOutsideCode(read.module).value_or(offset);
    report.Error("\"" + path + "\" is not a valid object file: " + read.error + " (at byte offset " +
                 std::to_string(offset) + ")");
    return std::nullopt;
  }
  return std::move(read.module);
}

}  // namespace torvik::tools
