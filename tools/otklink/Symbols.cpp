#include "Symbols.h"

#include "Files.h"

namespace torvik::tools {

namespace {

// "dir/name.asm" for "dir/name.otk" (or "dir/name"); for the member
// "dir/lib.a(name.otk)" the directory is the archive's.
std::string SourceBeside(const std::string& module) {
  std::string directory;
  std::string file = module;
  const auto open = module.rfind('(');
  if (open != std::string::npos && module.back() == ')') {
    const std::string archive = module.substr(0, open);
    const auto slash = archive.rfind('/');
    if (slash != std::string::npos) directory = archive.substr(0, slash + 1);
    file = module.substr(open + 1, module.size() - open - 2);
  }
  const auto slash = file.rfind('/');
  const auto dot = file.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) file.resize(dot);
  return directory + file + ".asm";
}

std::vector<PlacedLabel> PublicLabels(const ObjectModule& object) {
  std::vector<PlacedLabel> labels;
  for (const auto& symbol : object.publics) labels.push_back({symbol.name, symbol.value, true});
  return labels;
}

// The first public symbol of the object that the walk places elsewhere.
const ObjectModule::Symbol* MisplacedPublic(const ObjectModule& object, const std::vector<PlacedLabel>& labels) {
  for (const auto& symbol : object.publics) {
    for (const PlacedLabel& label : labels) {
      if (label.name == symbol.name && label.address != symbol.value) return &symbol;
    }
  }
  return nullptr;
}

std::optional<std::vector<PlacedLabel>> LabelsOf(const PlacedModule& module, const std::string& source,
                                                 const std::string& table, Reporter& report) {
  const auto walked = WalkModuleSource(*module.object, source, table, report);
  if (!walked) return std::nullopt;
  const std::string fallback = "; the symbol file holds only its public labels";
  if (walked->walk.disagreement) {
    report.Warning("the source \"" + source + "\" does not agree with \"" + module.name + "\" " +
                   *walked->walk.disagreement + fallback);
    return PublicLabels(*module.object);
  }
  if (const auto* symbol = MisplacedPublic(*module.object, walked->walk.labels)) {
    report.Warning("the source \"" + source + "\" places \"" + symbol->name + "\" elsewhere than \"" + module.name +
                   "\" does" + fallback);
    return PublicLabels(*module.object);
  }
  return walked->walk.labels;
}

}  // namespace

std::string SourceOf(const std::string& module, const std::map<std::string, std::string>& sources) {
  const auto named = sources.find(module);
  if (named != sources.end()) return named->second;
  const std::string beside = SourceBeside(module);
  return IsRegularFile(beside) ? beside : "";
}

std::optional<std::vector<std::vector<PlacedLabel>>> ModuleLabels(const LinkResult& result,
                                                                  const std::map<std::string, std::string>& sources,
                                                                  const std::string& table, Reporter& report) {
  for (const auto& [name, source] : sources) {
    bool linked = false;
    for (const PlacedModule& module : result.modules) linked = linked || module.name == name;
    // A library member is taken or left as the link needs: only a module
    // name that is neither linked nor a member is a mistake to point out.
    if (!linked && name.find('(') == std::string::npos) {
      report.Warning("--source names \"" + name + "\", which is not linked");
    }
  }
  std::vector<std::vector<PlacedLabel>> labels;
  bool ok = true;
  for (const PlacedModule& module : result.modules) {
    const std::string source = SourceOf(module.name, sources);
    if (source.empty()) {
      report.Warning("no source for \"" + module.name + "\" (give --source " + module.name +
                     "=FILE): the symbol file holds only its public labels");
      labels.push_back(PublicLabels(*module.object));
      continue;
    }
    auto found = LabelsOf(module, source, table, report);
    ok = found.has_value() && ok;
    labels.push_back(found ? std::move(*found) : std::vector<PlacedLabel>{});
  }
  if (!ok) return std::nullopt;
  return labels;
}

}  // namespace torvik::tools
