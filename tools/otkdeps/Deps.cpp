#include "Deps.h"

#include <algorithm>

#include "SourceScan.h"
#include "Statement.h"

namespace torvik::tools {

namespace {

void AddOnce(std::vector<std::string>& names, std::string name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
}

}  // namespace

std::optional<std::vector<std::string>> CollectDependencies(const std::string& source, CAssembler& assembler,
                                                            Reporter& report) {
  const auto expanded = ExpandSource(source, assembler, report);
  if (!expanded) return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t i = 1; i < expanded->files.size(); ++i) AddOnce(names, expanded->files[i]);
  ForEachScannedLine(*expanded, [&names](const ScannedLine& line) {
    for (const std::string& statement : line.statements) {
      if (!EqualsIgnoringCase(DirectiveName(statement), "incbin")) continue;
      const DirectiveHead head = ParseDirectiveHead(std::string_view(statement).substr(1));
      if (!head.hasArgument) continue;  // draws an error in the assembler, names no file
      bool unterminated = false;
      AddOnce(names, BinaryFileName(head.argument, unterminated));
    }
  });
  return names;
}

std::string EscapeForMake(std::string_view name) {
  std::string escaped;
  for (const char c : name) {
    if (c == ' ' || c == '\t' || c == '#') escaped.push_back('\\');
    if (c == '$') escaped.push_back('$');
    escaped.push_back(c);
  }
  return escaped;
}

std::string MakeRule(const std::string& target, const std::string& source, const std::vector<std::string>& dependencies,
                     bool phonyTargets) {
  std::string rule = EscapeForMake(target) + ": " + EscapeForMake(source);
  for (const std::string& name : dependencies) {
    rule += ' ';
    rule += EscapeForMake(name);
  }
  rule += "\n";
  if (phonyTargets) {
    for (const std::string& name : dependencies) {
      rule += '\n';
      rule += EscapeForMake(name);
      rule += ":\n";
    }
  }
  return rule;
}

}  // namespace torvik::tools
