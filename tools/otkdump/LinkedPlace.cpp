#include "LinkedPlace.h"

#include <sstream>
#include <vector>

#include "ToolSupport.h"

namespace torvik::tools {

namespace {

std::string LastComponent(const std::string& path) {
  const auto open = path.rfind('(');
  const std::string member =
      open != std::string::npos && path.back() == ')' ? path.substr(open + 1, path.size() - open - 2) : path;
  const auto slash = member.rfind('/');
  return slash == std::string::npos ? member : member.substr(slash + 1);
}

// "  $ADDR  rest": the address and the words after it, the last of which
// runs to the end of the line (a file name may hold blanks).
bool SplitRow(const std::string& line, std::size_t words, std::vector<std::string>& fields) {
  fields.clear();
  std::size_t at = 0;
  for (std::size_t i = 0; i < words; ++i) {
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos) return false;
    const std::size_t end = i + 1 == words ? line.size() : line.find(' ', at);
    if (end == std::string::npos) return false;
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields.front().starts_with("$");
}

std::optional<std::uint32_t> MapNumber(const std::string& field) { return ParseNumber(field, 0xFFFF); }

}  // namespace

std::optional<LinkedPlace> FindInMap(const std::string& map, const std::string& object) {
  std::istringstream lines(map);
  std::string line;
  std::string section;
  std::vector<std::string> fields;
  std::optional<std::uint32_t> exact;
  std::vector<std::uint32_t> alike;
  LinkedPlace place;
  while (std::getline(lines, line)) {
    if (!line.starts_with(" ")) section = line;
    if (section == "modules" && SplitRow(line, 4, fields)) {
      const auto base = MapNumber(fields[0]);
      if (base && fields[3] == object) exact = *base;
      if (base && LastComponent(fields[3]) == LastComponent(object)) alike.push_back(*base);
    } else if (section == "symbols" && SplitRow(line, 4, fields)) {
      if (const auto address = MapNumber(fields[0])) place.symbols[fields[2]] = static_cast<std::uint16_t>(*address);
    }
  }
  if (!exact && alike.size() != 1) return std::nullopt;
  place.base = exact ? *exact : alike.front();
  return place;
}

ObjectModule AtLinkedPlace(ObjectModule module, const LinkedPlace& place) {
  auto add = [&module](std::uint16_t address, std::uint32_t amount) {
    if (std::size_t{address} + 2 > module.code.size()) return;
    const std::uint32_t sum = (module.code[address] + (std::uint32_t{module.code[address + 1]} << 8) + amount) & 0xFFFF;
    module.code[address] = static_cast<std::uint8_t>(sum & 0xFF);
    module.code[address + 1] = static_cast<std::uint8_t>(sum >> 8);
  };
  for (const auto address : module.relocations) add(address, place.base);
  for (const auto& external : module.externals) {
    const auto symbol = place.symbols.find(external.name);
    if (symbol == place.symbols.end()) continue;
    for (const auto address : external.addresses) add(address, symbol->second);
  }
  return module;
}

}  // namespace torvik::tools
