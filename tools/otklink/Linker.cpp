#include "Linker.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "ToolSupport.h"

namespace torvik::tools {

namespace {

// The area key of RAM modules; ROM outside the banks is kNoBank, a bank its number.
constexpr int kRamArea = -2;

struct Candidate {
  std::string name;
  const ObjectModule* module = nullptr;
  Placement placement;
};

// The public symbols defined so far and the external references still open.
class OpenReferences {
 public:
  void Add(const ObjectModule& module, const std::string& name) {
    for (const auto& symbol : module.publics) {
      defined_.insert(symbol.name);
      open_.erase(symbol.name);
    }
    for (const auto& external : module.externals) {
      if (!defined_.contains(external.name)) open_.emplace(external.name, name);
    }
  }

  // The first public symbol of `module` that an open reference wants.
  const std::string* Resolved(const ObjectModule& module) const {
    for (const auto& symbol : module.publics) {
      if (open_.contains(symbol.name)) return &symbol.name;
    }
    return nullptr;
  }

  const std::string& Referrer(const std::string& symbol) const { return open_.at(symbol); }

 private:
  std::unordered_set<std::string> defined_;
  std::unordered_map<std::string, std::string> open_;  // symbol, the first module that refers to it
};

using MemberKey = std::pair<std::size_t, std::size_t>;  // input, member
using Reasons = std::map<MemberKey, std::pair<std::string, std::string>>;

// Takes library members that resolve open references, again and again
// until a round takes none; gives each taken member's symbol and referrer.
Reasons TakeMembers(const std::vector<LinkInput>& inputs) {
  OpenReferences references;
  for (const LinkInput& input : inputs) {
    if (!input.isLibrary) references.Add(input.module, input.name);
  }
  Reasons taken;
  for (bool more = true; more;) {
    more = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      for (std::size_t j = 0; j < inputs[i].members.size(); ++j) {
        const LibraryMember& member = inputs[i].members[j];
        const std::string* symbol = taken.contains({i, j}) ? nullptr : references.Resolved(member.module);
        if (symbol == nullptr) continue;
        taken[{i, j}] = {*symbol, references.Referrer(*symbol)};
        references.Add(member.module, member.name);
        more = true;
      }
    }
  }
  return taken;
}

// The modules in placement order: the object files where they are named,
// the members taken in their archive's order where the archive is named,
// the first of them with the archive's address.
std::vector<Candidate> SelectModules(const std::vector<LinkInput>& inputs, const Reasons& taken,
                                     std::vector<TakenMember>& members) {
  std::vector<Candidate> selected;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const LinkInput& input = inputs[i];
    if (!input.isLibrary) {
      selected.push_back({input.name, &input.module, input.placement});
      continue;
    }
    Placement placement = input.placement;
    for (std::size_t j = 0; j < input.members.size(); ++j) {
      const auto reason = taken.find({i, j});
      if (reason == taken.end()) continue;
      members.push_back({selected.size(), reason->second.first, reason->second.second});
      selected.push_back({input.members[j].name, &input.members[j].module, placement});
      placement.at.reset();
    }
  }
  return selected;
}

// Four hexadecimal digits, five for an address past the end of memory.
std::string Address(std::uint32_t address) {
  std::string text = "$";
  return text.append(Hex(address, address > 0xFFFF ? 5 : 4));
}

std::string Range(std::uint32_t base, std::uint32_t size) { return Address(base) + "-" + Address(base + size - 1); }

std::string WindowRange(const Window& window) { return Range(window.start, window.size); }

// "a.otk" ($0100-$0132), with "RAM, " or "bank 2, " before the range.
std::string Describe(const PlacedModule& module) {
  const std::string area = module.ram               ? "RAM, "
                           : module.bank != kNoBank ? "bank " + std::to_string(module.bank) + ", "
                                                    : "";
  return "\"" + module.name + "\" (" + area + Range(module.base, module.size) + ")";
}

bool PlaceModules(const std::vector<Candidate>& candidates, const LinkOptions& options, LinkResult& result,
                  Reporter& report) {
  std::map<int, std::uint32_t> next = {{kNoBank, options.origin.value_or(0)}};
  bool ok = true;
  for (const Candidate& candidate : candidates) {
    const Placement& placement = candidate.placement;
    const int area = placement.ram ? kRamArea : placement.bank;
    if (area >= 0) next.emplace(area, options.window.start);
    const auto cursor = next.find(area);
    if (!placement.at && cursor == next.end()) {
      report.Error("the RAM module \"" + candidate.name + "\" has no address: give the first RAM module one");
      ok = false;
      continue;
    }
    const std::uint32_t base = placement.at.value_or(cursor == next.end() ? 0 : cursor->second);
    const auto size = static_cast<std::uint32_t>(candidate.module->code.size());
    result.modules.push_back({candidate.name, candidate.module, base, size, placement.ram, placement.bank});
    next[area] = base + size;
  }
  return ok;
}

bool InWindow(const Window& window, std::uint32_t base, std::uint32_t size) {
  return base >= window.start && base + size <= window.End();
}

bool CheckBounds(const PlacedModule& module, const LinkOptions& options, bool banked, Reporter& report) {
  if (module.size == 0) return true;
  const std::uint32_t end = module.base + module.size;
  if (end > kAddressSpace) {
    report.Error("\"" + module.name + "\" does not fit in 64 KiB: " + std::to_string(module.size) + " bytes from " +
                 Address(module.base) + " would end at " + Address(end));
    return false;
  }
  const Window& window = options.window;
  if (module.bank != kNoBank && !InWindow(window, module.base, module.size)) {
    report.Error(Describe(module) + " lies outside the bank window " + WindowRange(window));
    return false;
  }
  if (module.bank == kNoBank && banked && module.base < window.End() && end > window.start) {
    report.Error(Describe(module) + " reaches into the bank window " + WindowRange(window));
    return false;
  }
  if (!module.ram && module.bank == kNoBank && options.limit && end - 1 > *options.limit) {
    report.Error(Describe(module) + " ends past the limit $" + Hex(*options.limit, 4));
    return false;
  }
  return true;
}

// Modules share addresses unless they lie in two different banks.
bool Overlap(const PlacedModule& a, const PlacedModule& b) {
  if (a.size == 0 || b.size == 0) return false;
  if (a.bank != kNoBank && b.bank != kNoBank && a.bank != b.bank) return false;
  return a.base < b.base + b.size && b.base < a.base + a.size;
}

// A RAM module's bytes are never written: it may hold nothing but the
// $FF bytes of reserved space, with no instruction and no address in it.
bool CheckRam(const PlacedModule& module, Reporter& report) {
  const ObjectModule& object = *module.object;
  const bool reservedOnly =
      object.lines.empty() && object.relocations.empty() && object.externals.empty() &&
      std::all_of(object.code.begin(), object.code.end(), [](std::uint8_t b) { return b == 0xFF; });
  if (!reservedOnly) {
    report.Error("\"" + module.name + "\" holds code or data, but a RAM module may only reserve space (.dbs, .dws)");
  }
  return reservedOnly;
}

bool CheckPlacement(const LinkOptions& options, LinkResult& result, Reporter& report) {
  const auto& modules = result.modules;
  const bool banked = std::any_of(modules.begin(), modules.end(), [](const auto& m) { return m.bank != kNoBank; });
  bool ok = true;
  for (const PlacedModule& module : modules) {
    ok = CheckBounds(module, options, banked, report) && ok;
    if (module.ram) ok = CheckRam(module, report) && ok;
  }
  for (std::size_t i = 0; i < modules.size(); ++i) {
    for (std::size_t j = i + 1; j < modules.size(); ++j) {
      if (!Overlap(modules[i], modules[j])) continue;
      report.Error(Describe(modules[i]) + " and " + Describe(modules[j]) + " overlap");
      ok = false;
    }
  }
  return ok;
}

// Lays the modules of one image into it: `origin` is where it starts, at
// least `minimumEnd` where it ends.
Image BuildImage(const std::vector<const PlacedModule*>& modules, std::uint32_t origin, std::uint32_t minimumEnd,
                 std::uint8_t fill) {
  Image image;
  std::uint32_t end = minimumEnd;
  for (const PlacedModule* module : modules) {
    origin = std::min(origin, module->base);
    end = std::max(end, module->base + module->size);
  }
  image.origin = static_cast<std::uint16_t>(origin);
  image.bytes.assign(std::max(end, origin) - origin, fill);
  for (const PlacedModule* module : modules) {
    std::copy(module->object->code.begin(), module->object->code.end(), image.bytes.begin() + (module->base - origin));
    image.spans.emplace_back(module->base, module->base + module->size);
  }
  std::sort(image.spans.begin(), image.spans.end());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> merged;
  for (const auto& span : image.spans) {
    if (!merged.empty() && merged.back().second == span.first)
      merged.back().second = span.second;
    else
      merged.push_back(span);
  }
  image.spans = std::move(merged);
  return image;
}

void BuildImages(const LinkOptions& options, LinkResult& result) {
  std::map<int, std::vector<const PlacedModule*>> areas;
  for (const PlacedModule& module : result.modules) {
    if (!module.ram && module.size > 0) areas[module.bank].push_back(&module);
  }
  std::vector<const PlacedModule*>& rom = areas[kNoBank];
  const std::uint32_t origin =
      options.origin ? *options.origin
      : rom.empty()
          ? 0
          : (*std::min_element(rom.begin(), rom.end(), [](auto a, auto b) { return a->base < b->base; }))->base;
  result.image = BuildImage(rom, origin, origin, options.fill);
  for (const auto& [bank, modules] : areas) {
    if (bank == kNoBank) continue;
    const std::uint32_t end = options.combinedRom ? options.window.End() : options.window.start;
    result.banks.push_back({bank, BuildImage(modules, options.window.start, end, options.fill)});
  }
}

// In a combined ROM bank N starts at N window sizes: the ROM image before
// the banks must end by the first bank's offset.
bool CheckCombinedRom(const LinkOptions& options, const LinkResult& result, Reporter& report) {
  if (!options.combinedRom || result.banks.empty()) return true;
  const std::uint64_t offset =
      std::uint64_t{options.window.size} * static_cast<std::uint64_t>(result.banks.front().bank);
  if (result.image.bytes.size() <= offset) return true;
  report.Error("the ROM image (" + std::to_string(result.image.bytes.size()) + " bytes) runs into bank " +
               std::to_string(result.banks.front().bank) + " at file offset $" +
               Hex(static_cast<std::uint32_t>(offset), 6));
  return false;
}

bool CollectSymbols(LinkResult& result, std::unordered_map<std::string, std::size_t>& byName, Reporter& report) {
  bool ok = true;
  for (std::size_t m = 0; m < result.modules.size(); ++m) {
    for (const auto& symbol : result.modules[m].object->publics) {
      const auto [found, added] = byName.emplace(symbol.name, result.symbols.size());
      if (!added) {
        report.Error("symbol \"" + symbol.name + "\" is public in both \"" +
                     result.modules[result.symbols[found->second].module].name + "\" and \"" + result.modules[m].name +
                     "\"");
        ok = false;
        continue;
      }
      const auto address = static_cast<std::uint16_t>((result.modules[m].base + symbol.value) & 0xFFFF);
      result.symbols.push_back({symbol.name, address, m});
    }
  }
  return ok;
}

// Adds to the 16-bit fields of one module, in the image it was laid into.
class FieldWriter {
 public:
  FieldWriter(const PlacedModule& module, LinkResult& result, Reporter& report)
      : module_(module), result_(result), report_(report), image_(ImageOf(module, result)) {}

  // Adds `amount` to the field at `address`, least significant byte first,
  // wrapping at 16 bits as the machine's arithmetic does. A sum that must
  // lie in the window of `bank` and does not is refused.
  bool Add(std::uint16_t address, std::uint32_t amount, int bank, const std::string& target) {
    const auto& code = module_.object->code;
    if (std::size_t{address} + 2 > code.size()) {
      report_.Error("a field at $" + Hex(address, 4) + " lies outside the code of \"" + module_.name + "\"");
      return false;
    }
    const std::uint32_t sum = (code[address] + (std::uint32_t{code[address + 1]} << 8) + amount) & 0xFFFF;
    const Window& window = result_.window;
    if (bank != kNoBank && (sum < window.start || sum > window.End())) {
      report_.Error("a reference in \"" + module_.name + "\" at $" + Hex((module_.base + address) & 0xFFFF, 4) +
                    target + " lands at $" + Hex(sum, 4) + ", outside the window " + WindowRange(window) + " of bank " +
                    std::to_string(bank));
      return false;
    }
    if (image_ != nullptr) {
      const std::size_t at = module_.base - image_->origin + address;
      image_->bytes[at] = static_cast<std::uint8_t>(sum & 0xFF);
      image_->bytes[at + 1] = static_cast<std::uint8_t>(sum >> 8);
    }
    return true;
  }

 private:
  static Image* ImageOf(const PlacedModule& module, LinkResult& result) {
    if (module.ram || module.size == 0) return nullptr;
    if (module.bank == kNoBank) return &result.image;
    for (BankImage& bank : result.banks) {
      if (bank.bank == module.bank) return &bank.image;
    }
    return nullptr;
  }

  const PlacedModule& module_;
  LinkResult& result_;
  Reporter& report_;
  Image* image_;
};

bool Resolve(LinkResult& result, const std::unordered_map<std::string, std::size_t>& byName, Reporter& report) {
  bool ok = true;
  for (const PlacedModule& module : result.modules) {
    FieldWriter fields(module, result, report);
    for (const auto address : module.object->relocations) {
      ok = fields.Add(address, module.base, module.bank, "") && ok;
    }
    for (const auto& external : module.object->externals) {
      const auto found = byName.find(external.name);
      if (found == byName.end()) {
        report.Error("undefined symbol \"" + external.name + "\", referred to in \"" + module.name + "\"");
        ok = false;
        continue;
      }
      const LinkedSymbol& symbol = result.symbols[found->second];
      const int bank = result.modules[symbol.module].bank;
      for (const auto address : external.addresses) {
        ok = fields.Add(address, symbol.address, bank, " to \"" + symbol.name + "\"") && ok;
      }
    }
  }
  return ok;
}

bool CheckOptions(const LinkOptions& options, Reporter& report) {
  if (options.origin && *options.origin >= kAddressSpace) {
    report.Error("the origin $" + Hex(*options.origin, 5) + " lies past the 64 KiB address space");
    return false;
  }
  if (options.window.size == 0 || options.window.End() > kAddressSpace) {
    report.Error("the bank window must hold at least one byte and end by $10000");
    return false;
  }
  return true;
}

}  // namespace

LinkResult Link(const std::vector<LinkInput>& inputs, const LinkOptions& options, Reporter& report) {
  LinkResult result;
  result.window = options.window;
  if (!CheckOptions(options, report)) return result;
  const auto candidates = SelectModules(inputs, TakeMembers(inputs), result.taken);
  if (!PlaceModules(candidates, options, result, report) || !CheckPlacement(options, result, report)) return result;
  BuildImages(options, result);
  if (!CheckCombinedRom(options, result, report)) return result;
  std::unordered_map<std::string, std::size_t> byName;
  const bool symbolsOk = CollectSymbols(result, byName, report);
  const bool resolvedOk = Resolve(result, byName, report);
  result.ok = symbolsOk && resolvedOk;
  return result;
}

}  // namespace torvik::tools
