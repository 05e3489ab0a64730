#include "Linker.h"

#include <unordered_map>

#include "ToolSupport.h"

namespace torvik::tools {

namespace {

// Adds `amount` to the 16-bit word, least significant byte first, whose low
// byte is at `at`; the sum wraps at 16 bits as the machine's arithmetic does.
void AddToWord(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t amount) {
  const std::uint32_t word = image[at] | (std::uint32_t{image[at + 1]} << 8);
  const std::uint32_t sum = (word + amount) & 0xFFFF;
  image[at] = static_cast<std::uint8_t>(sum & 0xFF);
  image[at + 1] = static_cast<std::uint8_t>(sum >> 8);
}

bool Place(const std::vector<LinkInput>& inputs, std::uint32_t origin, LinkResult& result, Reporter& report) {
  std::uint32_t next = origin;
  for (const LinkInput& input : inputs) {
    const auto size = static_cast<std::uint32_t>(input.module.code.size());
    result.modules.push_back({input.name, next, size});
    next += size;
  }
  if (next > kAddressSpace) {
    report.Error("the image does not fit in 64 KiB: " + std::to_string(next - origin) + " bytes from $" +
                 Hex(origin, 4) + " would end at $" + Hex(next, 5));
    return false;
  }
  result.image.reserve(next - origin);
  for (const LinkInput& input : inputs) {
    result.image.insert(result.image.end(), input.module.code.begin(), input.module.code.end());
  }
  return true;
}

bool CollectSymbols(const std::vector<LinkInput>& inputs, LinkResult& result,
                    std::unordered_map<std::string, std::size_t>& byName, Reporter& report) {
  bool ok = true;
  for (std::size_t m = 0; m < inputs.size(); ++m) {
    for (const auto& symbol : inputs[m].module.publics) {
      const auto [found, added] = byName.emplace(symbol.name, result.symbols.size());
      if (!added) {
        report.Error("symbol \"" + symbol.name + "\" is public in both \"" +
                     result.modules[result.symbols[found->second].module].name + "\" and \"" + inputs[m].name + "\"");
        ok = false;
        continue;
      }
      const auto address = static_cast<std::uint16_t>((result.modules[m].base + symbol.value) & 0xFFFF);
      result.symbols.push_back({symbol.name, address, m});
    }
  }
  return ok;
}

// Adds `amount` to the field at `address` of module `m`. The reader refuses
// fields outside the code already; a module made otherwise is checked here.
bool AddToField(const LinkInput& input, const PlacedModule& placed, std::uint16_t address, std::uint32_t amount,
                LinkResult& result, Reporter& report) {
  if (std::size_t{address} + 2 > input.module.code.size()) {
    report.Error("a field at $" + Hex(address, 4) + " lies outside the code of \"" + input.name + "\"");
    return false;
  }
  AddToWord(result.image, placed.base - result.origin + address, amount);
  return true;
}

bool Resolve(const std::vector<LinkInput>& inputs, LinkResult& result,
             const std::unordered_map<std::string, std::size_t>& byName, Reporter& report) {
  bool ok = true;
  for (std::size_t m = 0; m < inputs.size(); ++m) {
    const PlacedModule& placed = result.modules[m];
    for (const auto address : inputs[m].module.relocations) {
      ok = AddToField(inputs[m], placed, address, placed.base, result, report) && ok;
    }
    for (const auto& external : inputs[m].module.externals) {
      const auto found = byName.find(external.name);
      if (found == byName.end()) {
        report.Error("undefined symbol \"" + external.name + "\", referred to in \"" + inputs[m].name + "\"");
        ok = false;
        continue;
      }
      const std::uint16_t value = result.symbols[found->second].address;
      for (const auto address : external.addresses) {
        ok = AddToField(inputs[m], placed, address, value, result, report) && ok;
      }
    }
  }
  return ok;
}

}  // namespace

LinkResult Link(const std::vector<LinkInput>& inputs, std::uint32_t origin, Reporter& report) {
  LinkResult result;
  if (origin >= kAddressSpace) {
    report.Error("the origin $" + Hex(origin, 5) + " lies past the 64 KiB address space");
    return result;
  }
  result.origin = static_cast<std::uint16_t>(origin);
  if (!Place(inputs, origin, result, report)) return result;
  std::unordered_map<std::string, std::size_t> byName;
  const bool symbolsOk = CollectSymbols(inputs, result, byName, report);
  const bool resolvedOk = Resolve(inputs, result, byName, report);
  result.ok = symbolsOk && resolvedOk;
  return result;
}

}  // namespace torvik::tools
