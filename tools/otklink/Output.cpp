#include "Output.h"

#include <algorithm>

#include "ToolSupport.h"

namespace torvik::tools {

namespace {

constexpr std::size_t kRecordBytes = 16;

// One record: ":" count, address, type, data, and the checksum that makes
// all its bytes add up to 0 modulo 256.
std::string HexRecord(std::uint16_t address, std::uint8_t type, const std::uint8_t* data, std::size_t count) {
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address & 0xFF), type};
  bytes.insert(bytes.end(), data, data + count);
  unsigned sum = 0;
  std::string record = ":";
  for (const std::uint8_t byte : bytes) {
    sum += byte;
    record += Hex(byte, 2);
  }
  return record + Hex((0x100 - (sum & 0xFF)) & 0xFF, 2) + "\n";
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

std::string IntelHex(const std::vector<std::uint8_t>& image, std::uint16_t origin) {
  std::string text;
  for (std::size_t offset = 0; offset < image.size(); offset += kRecordBytes) {
    const std::size_t count = std::min(kRecordBytes, image.size() - offset);
    text += HexRecord(static_cast<std::uint16_t>(origin + offset), 0x00, image.data() + offset, count);
  }
  return text + HexRecord(0, 0x01, nullptr, 0);
}

std::string LinkMap(const LinkResult& result) {
  std::string map = "origin $" + Hex(result.origin, 4) + ", " + std::to_string(result.image.size()) + " bytes\n\n";
  map += "modules\n  start  size   file\n";
  for (const auto& module : result.modules) {
    map += "  $" + Hex(module.base, 4) + "  $" + Hex(module.size, 4) + "  " + module.name + "\n";
  }
  std::vector<const LinkedSymbol*> symbols;
  std::size_t symbolWidth = 6;
  for (const auto& symbol : result.symbols) {
    symbols.push_back(&symbol);
    symbolWidth = std::max(symbolWidth, symbol.name.size());
  }
  std::stable_sort(symbols.begin(), symbols.end(), [](const LinkedSymbol* a, const LinkedSymbol* b) {
    return a->address != b->address ? a->address < b->address : a->name < b->name;
  });
  map += "\nsymbols\n  address  " + Padded("symbol", symbolWidth) + "  file\n";
  for (const LinkedSymbol* symbol : symbols) {
    map += "  $" + Hex(symbol->address, 4) + "    " + Padded(symbol->name, symbolWidth) + "  " +
           result.modules[symbol->module].name + "\n";
  }
  return map;
}

}  // namespace torvik::tools
