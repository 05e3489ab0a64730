#include "Output.h"

#include <algorithm>
#include <tuple>

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

std::string Bank(const PlacedModule& module) {
  return module.ram ? "ram" : module.bank == kNoBank ? "-" : std::to_string(module.bank);
}

std::string ImageLines(const LinkResult& result) {
  std::string text =
      "origin $" + Hex(result.image.origin, 4) + ", " + std::to_string(result.image.bytes.size()) + " bytes\n";
  if (result.banks.empty()) return text;
  text += "window $" + Hex(result.window.start, 4) + "-$" + Hex(result.window.End() - 1, 4) + "\n";
  for (const BankImage& bank : result.banks) {
    text += "bank " + std::to_string(bank.bank) + ", " + std::to_string(bank.image.bytes.size()) + " bytes\n";
  }
  return text;
}

std::string TakenLines(const LinkResult& result) {
  if (result.taken.empty()) return "";
  std::string text = "\nlibrary members\n";
  for (const TakenMember& member : result.taken) {
    text += "  " + result.modules[member.module].name + " for \"" + member.symbol + "\", referred to in \"" +
            member.referrer + "\"\n";
  }
  return text;
}

int SymbolBank(const PlacedModule& module) { return module.bank == kNoBank ? 0 : module.bank; }

}  // namespace

std::string IntelHex(const Image& image) {
  std::string text;
  for (const auto& [first, last] : image.spans) {
    for (std::uint32_t at = first; at < last; at += kRecordBytes) {
      const std::size_t count = std::min<std::size_t>(kRecordBytes, last - at);
      text += HexRecord(static_cast<std::uint16_t>(at), 0x00, image.bytes.data() + (at - image.origin), count);
    }
  }
  return text + HexRecord(0, 0x01, nullptr, 0);
}

std::vector<std::uint8_t> CombinedRom(const LinkResult& result, std::uint8_t fill) {
  std::vector<std::uint8_t> rom = result.image.bytes;
  for (const BankImage& bank : result.banks) {
    const std::size_t offset = std::size_t{result.window.size} * static_cast<std::size_t>(bank.bank);
    rom.resize(offset + result.window.size, fill);
    std::copy(bank.image.bytes.begin(), bank.image.bytes.end(), rom.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return rom;
}

std::string LinkMap(const LinkResult& result) {
  std::string map = ImageLines(result) + "\nmodules\n  start  size   bank  file\n";
  for (const auto& module : result.modules) {
    map += "  $" + Hex(module.base, 4) + "  $" + Hex(module.size, 4) + "  " + Padded(Bank(module), 4) + "  " +
           module.name + "\n";
  }
  map += TakenLines(result);
  std::vector<const LinkedSymbol*> symbols;
  std::size_t symbolWidth = 6;
  for (const auto& symbol : result.symbols) {
    symbols.push_back(&symbol);
    symbolWidth = std::max(symbolWidth, symbol.name.size());
  }
  const auto key = [&result](const LinkedSymbol* s) {
    return std::make_tuple(result.modules[s->module].bank, s->address, std::cref(s->name));
  };
  std::stable_sort(symbols.begin(), symbols.end(),
                   [&key](const LinkedSymbol* a, const LinkedSymbol* b) { return key(a) < key(b); });
  map += "\nsymbols\n  address  bank  " + Padded("symbol", symbolWidth) + "  file\n";
  for (const LinkedSymbol* symbol : symbols) {
    const PlacedModule& module = result.modules[symbol->module];
    map += "  $" + Hex(symbol->address, 4) + "    " + Padded(Bank(module), 4) + "  " +
           Padded(symbol->name, symbolWidth) + "  " + module.name + "\n";
  }
  return map;
}

std::string SymbolFile(const LinkResult& result, const std::vector<std::vector<PlacedLabel>>& labels) {
  std::vector<std::tuple<int, std::uint32_t, std::string>> rows;
  for (std::size_t m = 0; m < labels.size() && m < result.modules.size(); ++m) {
    const PlacedModule& module = result.modules[m];
    for (const PlacedLabel& label : labels[m]) {
      rows.emplace_back(SymbolBank(module), (module.base + label.address) & 0xFFFF, label.name);
    }
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::string text;
  for (const auto& [bank, address, name] : rows) {
    text += Hex(static_cast<std::uint32_t>(bank), 2) + ":" + Hex(address, 4) + " " + name + "\n";
  }
  return text;
}

}  // namespace torvik::tools
