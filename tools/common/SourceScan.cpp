#include "SourceScan.h"

#include "Limits.h"
#include "Platform.h"
#include "Statement.h"

namespace torvik::tools {

namespace {

// Reads the expanded lines back as the passes read the intermediate file.
bool ReadExpansion(NativeFile file, const CPreprocessor& preprocessor, ExpandedSource& source) {
  if (!platform::Rewind(file)) return false;
  TextReader in;
  in.Adopt(file);
  std::string text;
  TextReader::LineEnd end;
  for (;;) {
    const auto status = in.ReadLine(text, kMaxLineLength, end);
    if (status == TextReader::Status::End) break;
    if (status == TextReader::Status::Error) return false;
    ExpandedLine line{text, end.tooLong, 0, 0};
    if (line.tooLong) {
      line.text.clear();
      if (in.SkipLine() == TextReader::Status::Error) return false;
    }
    const auto n = static_cast<std::int32_t>(source.lines.size() + 1);
    if (n <= preprocessor.LineMapCount()) {
      line.lineInFile = preprocessor.LineOf(n);
      line.fileIndex = preprocessor.FileIndexOf(n);
    }
    source.lines.push_back(std::move(line));
  }
  return static_cast<int>(source.lines.size()) == preprocessor.LineMapCount();
}

}  // namespace

std::optional<ExpandedSource> ExpandSource(const std::string& path, CAssembler& assembler, Reporter& report) {
  const UniqueFile file = platform::OpenAnonymous();
  if (!file.IsOpen()) {
    report.Error("cannot create a temporary file for the expansion of \"" + path + "\"");
    return std::nullopt;
  }
  CPreprocessor& preprocessor = assembler.Preprocessor();
  preprocessor.Forbid(IdentityOfFile(file.Get()));
  TextWriter writer;
  writer.Attach(file.Get());
  const bool expanded = preprocessor.Process(path, writer, true);
  const bool written = writer.Flush();
  if (!expanded || assembler.HasErrors()) return std::nullopt;
  ExpandedSource source;
  for (int i = 0; i < preprocessor.FileCount(); ++i) source.files.push_back(preprocessor.FileName(i));
  if (!written || !ReadExpansion(file.Get(), preprocessor, source)) {
    report.Error("cannot read back the expansion of \"" + path + "\"");
    return std::nullopt;
  }
  return source;
}

std::string_view DirectiveName(std::string_view statement) {
  if (statement.empty() || statement.front() != '.') return {};
  return ParseDirectiveHead(statement.substr(1)).name;
}

bool EndsPasses(std::string_view statement) {
  if (statement.empty() || statement.front() != '.') return false;
  const DirectiveHead head = ParseDirectiveHead(statement.substr(1));
  return head.hasArgument && EqualsIgnoringCase(head.name, "end");
}

namespace {

// Splits one line; false when it holds the end of the passes.
bool ScanLine(const ExpandedLine& raw, ScannedLine& scanned) {
  if (raw.tooLong) return true;
  scanned.text = PrepareLine(raw.text);
  const LineFields fields = SplitLine(scanned.text);
  if (fields.assignment) return true;
  return ForEachStatement(fields.statements, [&scanned](std::string_view statement) {
    if (statement.empty()) return true;
    scanned.statements.emplace_back(statement);
    return !EndsPasses(statement);
  });
}

}  // namespace

void ForEachScannedLine(const ExpandedSource& source, const std::function<void(const ScannedLine&)>& visit) {
  for (const ExpandedLine& line : source.lines) {
    ScannedLine scanned;
    const bool goesOn = ScanLine(line, scanned);
    visit(scanned);
    if (!goesOn) break;
  }
}

std::vector<ScannedLine> ScanStatements(const ExpandedSource& source) {
  std::vector<ScannedLine> scanned;
  ForEachScannedLine(source, [&scanned](const ScannedLine& line) { scanned.push_back(line); });
  return scanned;
}

}  // namespace torvik::tools
