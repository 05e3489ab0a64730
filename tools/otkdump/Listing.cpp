#include "Listing.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "ToolSupport.h"

namespace torvik::tools {

namespace {

constexpr std::size_t kRowBytes = 4;
constexpr std::size_t kNoItem = static_cast<std::size_t>(-1);

// One statement of the source and the code bytes [start, end) it produced.
struct Item {
  std::size_t line = 0;  // index into the expanded lines
  std::string text;
  bool instruction = false;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::int64_t sized = 0;  // a directive: the size it gives on its own
};

std::vector<Item> CollectItems(const std::vector<ScannedLine>& scanned) {
  std::vector<Item> items;
  for (std::size_t line = 0; line < scanned.size(); ++line) {
    for (const std::string& statement : scanned[line].statements) {
      Item item;
      item.line = line;
      item.text = statement;
      item.instruction = statement.front() != '.';
      items.push_back(std::move(item));
    }
  }
  return items;
}

// Where the source and the line table part: the line, or kNoItem when the
// source has no line there (it holds fewer instructions than records).
struct Disagreement {
  std::size_t line = kNoItem;
};

// Every instruction adds one line record, in source order, with its line
// number in its own file and its address. Gives the first place that
// breaks this, or nullopt when all agree.
std::optional<Disagreement> FirstDisagreement(const std::vector<Item>& items, const ObjectModule& module,
                                              const ExpandedSource& source) {
  std::size_t record = 0;
  std::uint32_t previous = 0;
  for (const Item& item : items) {
    if (!item.instruction) continue;
    if (record == module.lines.size()) return Disagreement{item.line};
    const auto& line = module.lines[record++];
    const auto expected = static_cast<std::uint16_t>(source.lines[item.line].lineInFile);
    if (line.line != expected || line.address < previous) return Disagreement{item.line};
    previous = line.address;
  }
  if (record != module.lines.size()) return Disagreement{};
  return std::nullopt;
}

std::string Describe(const ExpandedSource& source, const Disagreement& at) {
  if (at.line == kNoItem) return "after the last instruction of the source";
  const ExpandedLine& line = source.lines[at.line];
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

// Walks the source as pass 1 does: defines labels and assignments, places
// each instruction at its line record's address with its row's length (one
// more for an external operand), and sizes each directive where it stands.
class Placer {
 public:
  Placer(const ObjectModule& module, CAssembler& assembler)
      : module_(module), assembler_(assembler), externalFields_(ExternalFields(module)) {}

  void Run(const std::vector<ScannedLine>& scanned, std::vector<Item>& items) {
    std::size_t next = 0;
    for (std::size_t line = 0; line < scanned.size(); ++line) {
      if (!DefineLabel(scanned[line])) continue;
      for (; next < items.size() && items[next].line == line; ++next) Place(items, next);
    }
  }

 private:
  // False for an assignment, which holds no statements.
  bool DefineLabel(const ScannedLine& line) {
    assembler_.SetLocationCounter(Location());
    if (line.assignment) {
      const std::int32_t value = assembler_.Evaluate(line.expression);
      const bool relocatable = assembler_.CheckRelocatable(line.expression, std::nullopt);
      assembler_.Symbols().Define(line.label, value, false, relocatable, false, std::nullopt);
      return false;
    }
    if (!line.label.empty()) {
      assembler_.Symbols().Define(line.label, Location(), false, true, line.isPublic, std::nullopt);
      if (line.label.front() != '@') assembler_.SetCurrentLabel(line.label);
    }
    return true;
  }

  void Place(std::vector<Item>& items, std::size_t index) {
    Item& item = items[index];
    if (!item.instruction) {
      assembler_.SetLocationCounter(Location());
      item.sized = std::max<std::int64_t>(0, assembler_.Directive(std::string_view(item.text).substr(1), true, false));
      location_ += item.sized;
      return;
    }
    const std::size_t record = instructions_++;
    item.start = module_.lines[record].address;
    const std::uint32_t limit = record + 1 < module_.lines.size()
                                    ? module_.lines[record + 1].address
                                    : static_cast<std::uint32_t>(module_.code.size());
    const auto match = assembler_.Instructions().Match(item.text);
    std::uint32_t length = limit - item.start;
    if (match) {
      length = static_cast<std::uint32_t>(assembler_.Instructions().Row(match->row).length);
      if (item.start + 1 < externalFields_.size() && externalFields_[item.start + 1]) ++length;
    }
    item.end = std::min(limit, item.start + length);
    location_ = item.end;
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
void ShareGap(std::vector<Item>& items, std::size_t first, std::size_t last, std::uint32_t from, std::uint32_t to,
              std::size_t before) {
  std::int64_t total = 0;
  for (std::size_t i = first; i < last; ++i) total += items[i].sized;
  if (first == last) {
    if (before != kNoItem) items[before].end = to;
    return;
  }
  const bool fits = total == std::int64_t{to} - from;
  std::uint32_t at = from;
  for (std::size_t i = first; i < last; ++i) {
    items[i].start = at;
    at = fits ? at + static_cast<std::uint32_t>(items[i].sized) : (i == first ? to : at);
    items[i].end = at;
  }
}

// Shares every gap; gives the first address taken by an item (the bytes
// before it belong to no statement).
std::uint32_t ShareGaps(std::vector<Item>& items, std::uint32_t codeSize) {
  std::size_t runStart = 0;
  std::size_t before = kNoItem;
  std::uint32_t from = 0;
  for (std::size_t i = 0; i <= items.size(); ++i) {
    if (i < items.size() && !items[i].instruction) continue;
    const std::uint32_t to = i < items.size() ? items[i].start : codeSize;
    ShareGap(items, runStart, i, from, to, before);
    if (i == items.size()) break;
    before = i;
    runStart = i + 1;
    from = items[i].end;
  }
  std::uint32_t first = codeSize;
  for (const Item& item : items) {
    if (item.start < item.end) first = std::min(first, item.start);
  }
  return first;
}

class Printer {
 public:
  Printer(const std::vector<std::uint8_t>& code, const ExpandedSource& source, std::ostream& out)
      : code_(code), source_(source), out_(out) {
    out_ << "addr  code         line  source\n";
  }

  // Bytes [start, end) in rows of four; the first row carries the line.
  void Row(std::uint32_t start, std::uint32_t end, const ExpandedLine* line) {
    if (line != nullptr) FileHeading(*line);
    std::uint32_t at = start;
    do {
      const std::uint32_t stop = std::min<std::uint32_t>(end, at + kRowBytes);
      std::string bytes;
      for (std::uint32_t i = at; i < stop; ++i) bytes += Hex(code_[i], 2) + " ";
      bytes.resize(kRowBytes * 3, ' ');
      std::string row = (at < end ? Hex(at, 4) : std::string(4, ' ')) + "  " + bytes;
      if (line != nullptr && at == start) row += LineColumn(*line) + "  " + line->text;
      row.resize(row.find_last_not_of(' ') + 1);
      out_ << row << "\n";
      at = stop;
    } while (at < end);
  }

 private:
  void FileHeading(const ExpandedLine& line) {
    if (line.fileIndex == file_) return;
    file_ = line.fileIndex;
    out_ << "---- " << source_.files[static_cast<std::size_t>(file_)] << "\n";
  }
  static std::string LineColumn(const ExpandedLine& line) {
    std::string number = std::to_string(line.lineInFile);
    return std::string(number.size() < 5 ? 5 - number.size() : 0, ' ') + number;
  }

  const std::vector<std::uint8_t>& code_;
  const ExpandedSource& source_;
  std::ostream& out_;
  int file_ = -1;
};

void PrintByLine(const std::vector<Item>& items, std::uint32_t firstTaken, const ObjectModule& module,
                 const ExpandedSource& source, std::ostream& out) {
  Printer printer(module.code, source, out);
  if (firstTaken > 0) printer.Row(0, firstTaken, nullptr);
  std::size_t next = 0;
  for (std::size_t line = 0; line < source.lines.size(); ++line) {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    bool any = false;
    for (; next < items.size() && items[next].line == line; ++next) {
      if (items[next].start == items[next].end) continue;
      if (!any) start = items[next].start;
      any = true;
      end = std::max(end, items[next].end);
    }
    printer.Row(start, end, &source.lines[line]);
  }
}

// The first line of the top-level file with each line number.
std::unordered_map<std::uint16_t, const ExpandedLine*> TopLevelLines(const ExpandedSource& source) {
  std::unordered_map<std::uint16_t, const ExpandedLine*> lines;
  for (const ExpandedLine& line : source.lines) {
    if (line.fileIndex == 0) lines.emplace(static_cast<std::uint16_t>(line.lineInFile), &line);
  }
  return lines;
}

void PrintByRecord(const ObjectModule& module, const ExpandedSource& source, std::ostream& out) {
  auto records = module.lines;
  std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.address < b.address; });
  const auto size = static_cast<std::uint32_t>(module.code.size());
  const auto topLevel = TopLevelLines(source);
  Printer printer(module.code, source, out);
  if (!records.empty() && records.front().address > 0) printer.Row(0, records.front().address, nullptr);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::uint32_t end = i + 1 < records.size() ? records[i + 1].address : size;
    const auto text = topLevel.find(records[i].line);
    ExpandedLine numbered{text != topLevel.end() ? text->second->text : "", false, 0, records[i].line};
    printer.Row(records[i].address, end, &numbered);
  }
  if (records.empty() && size > 0) printer.Row(0, size, nullptr);
}

}  // namespace

bool PrintListing(const ObjectModule& module, const ExpandedSource& source, CAssembler& assembler, std::ostream& out,
                  Reporter& report) {
  const auto scanned = ScanStatements(source);
  auto items = CollectItems(scanned);
  if (const auto at = FirstDisagreement(items, module, source)) {
    report.Warning("the source does not agree with the object's line table " + Describe(source, *at) +
                   "; listing each line record with the line of its number in \"" + source.files.front() + "\"");
    PrintByRecord(module, source, out);
    return false;
  }
  Placer(module, assembler).Run(scanned, items);
  const std::uint32_t firstTaken = ShareGaps(items, static_cast<std::uint32_t>(module.code.size()));
  PrintByLine(items, firstTaken, module, source, out);
  return true;
}

}  // namespace torvik::tools
