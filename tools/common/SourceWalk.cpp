#include "SourceWalk.h"

#include <algorithm>
#include <sstream>

namespace torvik::tools {

namespace {

constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

std::vector<PlacedStatement> CollectStatements(const std::vector<ScannedLine>& scanned) {
  std::vector<PlacedStatement> statements;
  for (std::size_t line = 0; line < scanned.size(); ++line) {
    for (const std::string& text : scanned[line].statements) {
      PlacedStatement statement;
      statement.line = line;
      statement.text = text;
      statement.instruction = text.front() != '.';
      statements.push_back(std::move(statement));
    }
  }
  return statements;
}

// Every instruction adds one line record, in source order, with its line
// number in its own file and its address. Gives the first line that breaks
// this (kNoLine when the source has fewer instructions than records), or
// nullopt when all agree.
std::optional<std::size_t> FirstDisagreement(const std::vector<PlacedStatement>& statements, const ObjectModule& module,
                                             const ExpandedSource& source) {
  std::size_t record = 0;
  std::uint32_t previous = 0;
  for (const PlacedStatement& statement : statements) {
    if (!statement.instruction) continue;
    if (record == module.lines.size()) return statement.line;
    const auto& line = module.lines[record++];
    const auto expected = static_cast<std::uint16_t>(source.lines[statement.line].lineInFile);
    if (line.line != expected || line.address < previous) return statement.line;
    previous = line.address;
  }
  if (record != module.lines.size()) return kNoLine;
  return std::nullopt;
}

std::string Describe(const ExpandedSource& source, std::size_t at) {
  if (at == kNoLine) return "after the last instruction of the source";
  const ExpandedLine& line = source.lines[at];
  return "at line " + std::to_string(line.lineInFile) + " of \"" +
         source.files[static_cast<std::size_t>(line.fileIndex)] + "\"";
}

// Marks the code addresses at which an external reference's field begins.
std::vector<bool> ExternalFields(const ObjectModule& module) {
  std::vector<bool> marked(module.code.size() + 1, false);
  for (const auto& external : module.externals) {
    for (const auto address : external.addresses) {
      if (address < marked.size()) marked[address] = true;
    }
  }
  return marked;
}

// Walks the source as pass 1 does: defines labels and assignments with
// pass 1's own step, places each instruction at its line record's address
// with its row's length (one more for an external operand), and sizes each
// directive where it stands.
class Placer {
 public:
  Placer(const ObjectModule& module, CAssembler& assembler)
      : module_(module), assembler_(assembler), externalFields_(ExternalFields(module)) {}

  void Run(const std::vector<ScannedLine>& scanned, SourceWalk& walk) {
    std::size_t next = 0;
    auto& statements = walk.statements;
    for (std::size_t line = 0; line < scanned.size(); ++line) {
      if (!DefineLabel(scanned[line], walk.labels)) continue;
      for (; next < statements.size() && statements[next].line == line; ++next) Place(statements[next]);
    }
  }

 private:
  // False for an assignment, which holds no statements.
  bool DefineLabel(const ScannedLine& line, std::vector<PlacedLabel>& labels) {
    assembler_.SetLocationCounter(Location());
    const std::optional<LineFields> fields = assembler_.DefineLabelField(line.text);
    if (!fields) return true;
    if (fields->assignment) return false;
    if (fields->label.empty()) return true;
    const std::string label(fields->label);
    const auto address = static_cast<std::uint32_t>(Location());
    if (label.front() != '@') {
      labels.push_back({label, address, fields->isPublic});
    } else if (const std::string& top = assembler_.CurrentLabel(); !top.empty()) {
      labels.push_back({top + "." + label.substr(1), address, false});
    }
    return true;
  }

  void Place(PlacedStatement& statement) {
    if (!statement.instruction) {
      assembler_.SetLocationCounter(Location());
      statement.sized =
          std::max<std::int64_t>(0, assembler_.Directive(std::string_view(statement.text).substr(1), true, false));
      location_ += statement.sized;
      return;
    }
    const std::size_t record = instructions_++;
    statement.start = module_.lines[record].address;
    const std::uint32_t limit = record + 1 < module_.lines.size() ? module_.lines[record + 1].address
                                                                  : static_cast<std::uint32_t>(module_.code.size());
    const auto match = assembler_.Instructions().Match(statement.text);
    std::uint32_t length = limit - statement.start;
    if (match) {
      length = static_cast<std::uint32_t>(assembler_.Instructions().Row(match->row).length);
      if (statement.start + 1 < externalFields_.size() && externalFields_[statement.start + 1]) ++length;
    }
    statement.end = std::min(limit, statement.start + length);
    location_ = statement.end;
  }

  std::int32_t Location() const { return static_cast<std::int32_t>(std::clamp<std::int64_t>(location_, 0, 0xFFFF)); }

  const ObjectModule& module_;
  CAssembler& assembler_;
  const std::vector<bool> externalFields_;
  std::int64_t location_ = 0;
  std::size_t instructions_ = 0;
};

// The directives between two instructions share the bytes between them.
// Where their own sizes add up to those bytes each takes its share; where
// not, the first takes them all; with no directive there, the bytes go to
// the instruction before (or stay unattributed before the first).
void ShareGap(std::vector<PlacedStatement>& statements, std::size_t first, std::size_t last, std::uint32_t from,
              std::uint32_t to, std::size_t before) {
  std::int64_t total = 0;
  for (std::size_t i = first; i < last; ++i) total += statements[i].sized;
  if (first == last) {
    if (before != kNoLine) statements[before].end = to;
    return;
  }
  const bool fits = total == std::int64_t{to} - from;
  std::uint32_t at = from;
  for (std::size_t i = first; i < last; ++i) {
    statements[i].start = at;
    at = fits ? at + static_cast<std::uint32_t>(statements[i].sized) : (i == first ? to : at);
    statements[i].end = at;
  }
}

// Shares every gap; gives the first address taken by a statement.
std::uint32_t ShareGaps(std::vector<PlacedStatement>& statements, std::uint32_t codeSize) {
  std::size_t runStart = 0;
  std::size_t before = kNoLine;
  std::uint32_t from = 0;
  for (std::size_t i = 0; i <= statements.size(); ++i) {
    if (i < statements.size() && !statements[i].instruction) continue;
    const std::uint32_t to = i < statements.size() ? statements[i].start : codeSize;
    ShareGap(statements, runStart, i, from, to, before);
    if (i == statements.size()) break;
    before = i;
    runStart = i + 1;
    from = statements[i].end;
  }
  std::uint32_t first = codeSize;
  for (const PlacedStatement& statement : statements) {
    if (statement.start < statement.end) first = std::min(first, statement.start);
  }
  return first;
}

// The table as the assembler loads it, its messages kept out of sight
// unless it could not be read at all.
bool LoadTable(CAssembler& assembler, const std::string& path, Reporter& report) {
  assembler.Instructions().Load(path);
  if (assembler.Instructions().RowCount() > 0) return true;
  report.Error("no instructions could be loaded from the table \"" + path + "\"");
  return false;
}

}  // namespace

SourceWalk WalkSource(const ObjectModule& module, const ExpandedSource& source, CAssembler& assembler) {
  SourceWalk walk;
  const auto scanned = ScanStatements(source);
  walk.statements = CollectStatements(scanned);
  if (const auto at = FirstDisagreement(walk.statements, module, source)) {
    walk.disagreement = Describe(source, *at);
    walk.statements.clear();
    return walk;
  }
  Placer(module, assembler).Run(scanned, walk);
  walk.firstTaken = ShareGaps(walk.statements, static_cast<std::uint32_t>(module.code.size()));
  return walk;
}

std::optional<ModuleSource> WalkModuleSource(const ObjectModule& module, const std::string& sourcePath,
                                             const std::string& tablePath, Reporter& report) {
  // Problems in the source are the assembler's; the sizing of directives
  // later on speaks through the same assembler into a discarded stream.
  std::ostream diagnostics(report.Stream().rdbuf());
  CObjectFile image;
  CAssembler assembler(image, diagnostics);
  auto source = ExpandSource(sourcePath, assembler, report);
  if (!source) return std::nullopt;
  std::ostringstream discarded;
  diagnostics.rdbuf(discarded.rdbuf());
  if (!LoadTable(assembler, tablePath, report)) return std::nullopt;
  SourceWalk walk = WalkSource(module, *source, assembler);
  return ModuleSource{std::move(*source), std::move(walk)};
}

}  // namespace torvik::tools
