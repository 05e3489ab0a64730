#include "Preprocessor.h"

#include <algorithm>

#include "Assembler.h"
#include "Statement.h"

namespace torvik {

bool CPreprocessor::Process(const std::string& path, TextWriter& out, bool topLevel) {
  if (topLevel) {
    fileNames_.clear();
    lineMap_.clear();
    keptText_.clear();
    keptLines_.clear();
    // Room for every line there may be, so the lists never move as they
    // grow; pages are only touched as lines arrive.
    lineMap_.reserve(kMaxIntermediateLines);
    keptLines_.reserve(kMaxIntermediateLines);
  }
  if (FileCount() == kMaxFiles) {
    owner_.ErrorNum(102, kMaxFiles + 1);
    return false;
  }
  if (IsRecorded(path)) {
    owner_.Error(105, path);
    return false;
  }
  if (path.size() > kMaxFileNameLength) {
    owner_.Error(100, path);
    return false;
  }
  const int fileIndex = FileCount();
  fileNames_.push_back(path);

  TextReader in;
  if (in.Open(path) != TextReader::OpenResult::Ok ||
      (forbidden_ && IdentityOfDescriptor(in.Descriptor()) == forbidden_)) {
    owner_.Error(100, path);
    return false;
  }
  if (!ProcessLines(in, fileIndex, out)) return false;
  return !owner_.HasErrors();
}

bool CPreprocessor::ProcessLines(TextReader& in, int fileIndex, TextWriter& out) {
  std::int32_t lineInFile = 0;
  std::string spill;
  std::string_view line;
  bool newline = false;
  for (;;) {
    const auto status = in.ReadLineView(line, spill, kPreprocessorReadLimit, newline);
    if (status == TextReader::Status::End) return true;
    if (status == TextReader::Status::Error) {
      owner_.Error(100, FileName(fileIndex));
      return false;
    }
    ++lineInFile;
    if (!line.empty() && line.front() == '#') {
      if (!Directive(line, out)) return false;
    } else if (!WriteLine(line, fileIndex, lineInFile, out)) {
      return false;
    }
  }
}

bool CPreprocessor::Directive(std::string_view line, TextWriter& out) {
  const auto wordEnd = line.find(' ', 1);
  const std::string_view word = line.substr(1, wordEnd == std::string_view::npos ? std::string_view::npos : wordEnd - 1);
  if (EqualsIgnoringCase(word, "include")) {
    if (wordEnd == std::string_view::npos) {
      owner_.Error(104, "");
      return false;
    }
    std::size_t start = wordEnd + 1;
    if (start < line.size() && (line[start] == '"' || line[start] == '<')) ++start;
    std::string_view name = line.substr(start);
    name = name.substr(0, name.find('"'));
    name = name.substr(0, name.find('>'));
    return Process(std::string(name), out, false);
  }
  if (!EqualsIgnoringCase(word, "define")) owner_.Error(103, word);
  return true;
}

bool CPreprocessor::WriteLine(std::string_view text, int fileIndex, std::int32_t lineInFile, TextWriter& out) {
  if (LineMapCount() == kMaxIntermediateLines) {
    owner_.ErrorNum(101, kMaxIntermediateLines + 1);
    return false;
  }
  out.WriteLine(text);
  lineMap_.push_back({fileIndex, lineInFile});
  const bool tooLong = text.size() >= kLineReadLimit;
  if (!tooLong) keptText_.append(PrepareLine(text, prepareBuffer_));
  keptLines_.push_back({static_cast<std::uint32_t>(keptText_.size()), tooLong});
  return true;
}

std::vector<CPreprocessor::WrittenLine> CPreprocessor::WrittenLines() const {
  std::vector<WrittenLine> lines;
  lines.reserve(keptLines_.size());
  const std::string_view all = keptText_;
  std::size_t start = 0;
  for (const KeptLine& kept : keptLines_) {
    lines.push_back({all.substr(start, kept.end - start), kept.tooLong});
    start = kept.end;
  }
  return lines;
}

bool CPreprocessor::IsRecorded(std::string_view path) const {
  for (const auto& name : fileNames_) {
    if (EqualsIgnoringCase(name, path)) return true;
  }
  return false;
}

std::int32_t CPreprocessor::FileIndexOf(std::int32_t n) const {
  return n >= 1 && n <= LineMapCount() ? lineMap_[static_cast<std::size_t>(n - 1)].fileIndex : 0;
}

const std::string& CPreprocessor::FileNameOf(std::int32_t n) const {
  if (fileNames_.empty()) return noName_;
  return fileNames_[static_cast<std::size_t>(FileIndexOf(n))];
}

std::int32_t CPreprocessor::LineOf(std::int32_t n) const {
  if (n >= 1 && n <= LineMapCount()) return lineMap_[static_cast<std::size_t>(n - 1)].lineInFile;
  return 0;
}

}  // namespace torvik
