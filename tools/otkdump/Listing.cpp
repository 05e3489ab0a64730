#include "Listing.h"

#include <algorithm>
#include <unordered_map>

#include "ToolSupport.h"

namespace torvik::tools {

namespace {

constexpr std::size_t kRowBytes = 4;

class Printer {
 public:
  Printer(const std::vector<std::uint8_t>& code, std::uint32_t base, const ExpandedSource& source, std::ostream& out)
      : code_(code), base_(base), source_(source), out_(out) {
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
      std::string row = (at < end ? Hex((base_ + at) & 0xFFFF, 4) : std::string(4, ' ')) + "  " + bytes;
      if (line != nullptr && at == start) {
        row += LineNumberColumn(static_cast<std::uint32_t>(line->lineInFile)) + "  " + line->text;
      }
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

  const std::vector<std::uint8_t>& code_;
  const std::uint32_t base_;
  const ExpandedSource& source_;
  std::ostream& out_;
  int file_ = -1;
};

void PrintByLine(const std::vector<PlacedStatement>& items, std::uint32_t firstTaken, const ObjectModule& module,
                 std::uint32_t base, const ExpandedSource& source, std::ostream& out) {
  Printer printer(module.code, base, source, out);
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

void PrintByRecord(const ObjectModule& module, std::uint32_t base, const ExpandedSource& source, std::ostream& out) {
  auto records = module.lines;
  std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.address < b.address; });
  const auto size = static_cast<std::uint32_t>(module.code.size());
  const auto topLevel = TopLevelLines(source);
  Printer printer(module.code, base, source, out);
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

bool PrintListing(const ObjectModule& module, const ModuleSource& listed, std::uint32_t base, std::ostream& out,
                  Reporter& report) {
  const ExpandedSource& source = listed.source;
  if (listed.walk.disagreement) {
    report.Warning("the source does not agree with the object's line table " + *listed.walk.disagreement +
                   "; listing each line record with the line of its number in \"" + source.files.front() + "\"");
    PrintByRecord(module, base, source, out);
    return false;
  }
  PrintByLine(listed.walk.statements, listed.walk.firstTaken, module, base, source, out);
  return true;
}

}  // namespace torvik::tools
