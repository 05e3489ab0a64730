#include "Dump.h"

#include <algorithm>
#include <span>

#include "ToolSupport.h"

namespace torvik::tools {

namespace {

void PrintCode(const std::vector<std::uint8_t>& code, std::ostream& out) {
  out << "code: " << code.size() << " bytes\n";
  for (std::size_t row = 0; row < code.size(); row += kDumpRowBytes) {
    const auto bytes = std::span(code).subspan(row, std::min(kDumpRowBytes, code.size() - row));
    out << "  " << Hex(static_cast<std::uint32_t>(row), 4) << " " << DumpRow(bytes) << "\n";
  }
}

std::string Plural(std::size_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

void PrintFields(const std::vector<std::uint16_t>& addresses, const std::vector<std::uint8_t>& code, const char* indent,
                 std::ostream& out) {
  for (const auto address : addresses) {
    out << indent << Hex(address, 4) << "  holds " << Hex(WordAt(code, address), 4) << "\n";
  }
}

void PrintExternals(const ObjectModule& module, std::ostream& out) {
  out << "\nexternal symbols: " << module.externals.size() << "\n";
  for (const auto& external : module.externals) {
    out << "  " << external.name << ", " << Plural(external.addresses.size(), "reference", "references") << "\n";
    PrintFields(external.addresses, module.code, "    ", out);
  }
}

void PrintPublics(const ObjectModule& module, std::ostream& out) {
  out << "\npublic symbols: " << module.publics.size() << "\n";
  for (const auto& symbol : module.publics) out << "  " << Hex(symbol.value, 4) << "  " << symbol.name << "\n";
}

void PrintLines(const ObjectModule& module, std::ostream& out) {
  out << "\nline table: " << Plural(module.lines.size(), "record", "records") << "\n";
  if (!module.lines.empty()) out << "  address  line\n";
  for (const auto& line : module.lines) {
    out << "  " << Hex(line.address, 4) << "     " << LineNumberColumn(line.line) << "\n";
  }
}

}  // namespace

std::uint16_t WordAt(const std::vector<std::uint8_t>& code, std::size_t address) {
  if (address + 2 > code.size()) return 0;
  return static_cast<std::uint16_t>(code[address] | (code[address + 1] << 8));
}

void PrintSections(const ObjectModule& module, std::ostream& out) {
  PrintCode(module.code, out);
  out << "\nlocal relocations: " << module.relocations.size() << "\n";
  PrintFields(module.relocations, module.code, "  ", out);
  PrintExternals(module, out);
  PrintPublics(module, out);
  PrintLines(module, out);
}

}  // namespace torvik::tools
