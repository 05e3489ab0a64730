#include "Preprocessor.h"

#include <algorithm>
#include <cstring>

#include "Assembler.h"
#include "Statement.h"

namespace torvik {

bool CPreprocessor::Process(const std::string& path, TextWriter& out, bool topLevel) {
  if (!topLevel) return Expand(path, out);
  fileNames_.clear();
  lineRuns_.clear();
  lineCount_ = 0;
  lastRun_ = 0;
  prepared_.Clear();
  preparedEnds_.clear();
  failed_ = false;
  deferred_.Clear();
  holdingBack_ = deferring_;
  deferredLost_ = false;
  inputs_.clear();
  // Room for every line there may be, so the list never moves as it
  // grows; pages are only touched as lines arrive.
  preparedEnds_.reserve(kMaxIntermediateLines);
  const bool expanded = Expand(path, out);
  SpaceOutTabs();
  return expanded;
}

bool CPreprocessor::Expand(const std::string& path, TextWriter& out) {
  if (FileCount() == kMaxFiles) {
    owner_.ErrorNum(kErrTooManyFiles, kMaxFiles + 1);
    return false;
  }
  if (IsRecorded(path)) {
    owner_.Error(kErrFileAlreadyIncluded, path);
    return false;
  }
  if (path.size() > kMaxFileNameLength) {
    owner_.Error(kErrCannotOpenFile, path);
    return false;
  }
  const int fileIndex = FileCount();
  fileNames_.push_back(path);

  TextReader in;
  if (in.Open(path) != TextReader::OpenResult::Ok || (forbidden_ && in.Identity() == forbidden_)) {
    owner_.Error(kErrCannotOpenFile, path);
    return false;
  }
  if (const auto identity = in.Identity()) inputs_.push_back(*identity);
  if (holdingBack_ && in.IsRegularFile()) {
    deferred_.KeepFile(fileIndex, in.TakeFile());
  } else if (holdingBack_) {
    WriteThrough(out);
  }
  if (!ProcessLines(in, fileIndex, out)) return false;
  return !owner_.HasErrors();
}

bool CPreprocessor::ProcessLines(TextReader& in, int fileIndex, TextWriter& out) {
  std::int32_t lineInFile = 0;
  std::string spill;
  std::string_view line;
  TextReader::LineEnd end;
  for (;;) {
    // Runs of plain lines are taken straight from the reader's chunk; a
    // directive, a very long line or one with a special character comes
    // through the line-by-line read.
    const std::string_view run = in.PlainRun();
    if (!run.empty()) {
      const std::size_t taken = TakeRun(run, in.Offset(), fileIndex, lineInFile, out);
      in.Consume(taken);
      if (failed_) return false;
      if (taken == run.size()) continue;
    }
    const std::uint64_t start = in.Offset();
    const auto status = in.ReadLineView(line, spill, kMaxSourceLineLength, end);
    if (status == TextReader::Status::End) return true;
    if (status == TextReader::Status::Error) {
      owner_.Error(kErrCannotOpenFile, FileName(fileIndex));
      return false;
    }
    ++lineInFile;
    if (end.tooLong) {
      // The passes would refuse the line; it is refused here, once, as
      // they would refuse it, and nothing of it is taken.
      owner_.ErrorNumAt(FileName(fileIndex), lineInFile, kErrLineTooLong, static_cast<std::int32_t>(kLineReadLimit));
      return false;
    }
    if (!line.empty() && line.front() == '#') {
      if (!Directive(line, out)) return false;
    } else if (!WriteLine(line, fileIndex, lineInFile, start, in.Offset() - start, out)) {
      return false;
    }
  }
}

// Enters a written line in the line map and keeps what the passes read of
// it: the text before its comment, which starts at `comment`.
[[gnu::always_inline]] inline bool CPreprocessor::Record(std::string_view text, std::size_t comment, int fileIndex,
                                                         std::int32_t lineInFile, bool followsLast) {
  if (lineCount_ == kMaxIntermediateLines) {
    owner_.ErrorNum(kErrTooManyIntermediateLines, kMaxIntermediateLines + 1);
    return false;
  }
  ++lineCount_;
  if (!followsLast && (lineRuns_.empty() || lineRuns_.back().fileIndex != fileIndex ||
                       lineRuns_.back().LineInFile(lineCount_) != lineInFile)) {
    lineRuns_.push_back({lineCount_, fileIndex, lineInFile});
  }
  if (text.size() >= kLineReadLimit) {
    preparedEnds_.push_back(static_cast<std::uint32_t>(prepared_.Size()) | kTooLong);
  } else {
    prepared_.Append(text.substr(0, comment));
    preparedEnds_.push_back(static_cast<std::uint32_t>(prepared_.Size()));
  }
  return true;
}

// Takes the run's lines up to the first directive or very long line, and
// writes them in one piece; returns how many characters it took.
std::size_t CPreprocessor::TakeRun(std::string_view run, std::uint64_t offset, int fileIndex, std::int32_t& lineInFile,
                                   TextWriter& out) {
  std::size_t pos = 0;  // where the current line starts
  while (pos < run.size()) {
    const char* const start = run.data() + pos;
    const void* const newline = std::memchr(start, '\n', run.size() - pos);
    if (newline == nullptr) break;
    const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
    if (*start == '#' || length > kMaxSourceLineLength) break;
    const void* const semicolon = std::memchr(start, ';', length);
    const std::size_t comment =
        semicolon == nullptr ? length : static_cast<std::size_t>(static_cast<const char*>(semicolon) - start);
    // After the run's first line, each line follows the last one recorded.
    if (!Record(std::string_view(start, length), comment, fileIndex, lineInFile + 1, pos != 0)) {
      failed_ = true;
      break;
    }
    ++lineInFile;
    pos += length + 1;
  }
  Emit(fileIndex, offset, run.substr(0, pos), out);
  return pos;
}

bool CPreprocessor::Directive(std::string_view line, TextWriter& out) {
  const auto wordEnd = line.find(' ', 1);
  const std::string_view word =
      line.substr(1, wordEnd == std::string_view::npos ? std::string_view::npos : wordEnd - 1);
  if (EqualsIgnoringCase(word, "include")) {
    if (wordEnd == std::string_view::npos) {
      owner_.Error(kErrFileNameExpected, "");
      return false;
    }
    std::size_t start = wordEnd + 1;
    if (start < line.size() && (line[start] == '"' || line[start] == '<')) ++start;
    std::string_view name = line.substr(start);
    name = name.substr(0, name.find('"'));
    name = name.substr(0, name.find('>'));
    return Expand(std::string(name), out);
  }
  if (!EqualsIgnoringCase(word, "define")) owner_.Error(kErrUnknownPreprocessorDirective, word);
  return true;
}

bool CPreprocessor::WriteLine(std::string_view text, int fileIndex, std::int32_t lineInFile, std::uint64_t offset,
                              std::uint64_t length, TextWriter& out) {
  if (!Record(text, std::min(text.find(';'), text.size()), fileIndex, lineInFile, false)) return false;
  if (holdingBack_) {
    deferred_.AddFromFile(fileIndex, offset, length);
  } else {
    out.WriteLine(text);
  }
  return true;
}

// Text read verbatim from file `fileIndex` at `offset`.
void CPreprocessor::Emit(int fileIndex, std::uint64_t offset, std::string_view text, TextWriter& out) {
  if (holdingBack_) {
    deferred_.AddFromFile(fileIndex, offset, text.size());
  } else {
    out.Write(text);
  }
}

void CPreprocessor::WriteThrough(TextWriter& out) {
  if (!deferred_.MoveTo(out)) deferredLost_ = true;
  holdingBack_ = false;
}

// Turns the tabs of the kept text into spaces, all at once.
void CPreprocessor::SpaceOutTabs() {
  char* const end = prepared_.Data() + prepared_.Size();
  for (char* tab = prepared_.Data();
       (tab = static_cast<char*>(std::memchr(tab, '\t', static_cast<std::size_t>(end - tab)))); ++tab) {
    *tab = ' ';
  }
}

bool CPreprocessor::IsRecorded(std::string_view path) const {
  for (const auto& name : fileNames_) {
    if (EqualsIgnoringCase(name, path)) return true;
  }
  return false;
}

// The run that holds intermediate line n, which must be a recorded line.
const CPreprocessor::LineRun* CPreprocessor::RunOf(std::int32_t n) const {
  const auto startsAfter = [n](std::size_t run, const std::vector<LineRun>& runs) {
    return run + 1 < runs.size() && runs[run + 1].firstLine <= n;
  };
  std::size_t run = lastRun_ < lineRuns_.size() && lineRuns_[lastRun_].firstLine <= n ? lastRun_ : 0;
  if (startsAfter(run, lineRuns_)) {
    ++run;
    if (startsAfter(run, lineRuns_)) {
      const auto next = std::upper_bound(lineRuns_.begin() + static_cast<std::ptrdiff_t>(run), lineRuns_.end(), n,
                                         [](std::int32_t line, const LineRun& r) { return line < r.firstLine; });
      run = static_cast<std::size_t>(next - lineRuns_.begin()) - 1;
    }
  }
  lastRun_ = run;
  return &lineRuns_[run];
}

std::int32_t CPreprocessor::FileIndexOf(std::int32_t n) const {
  return n >= 1 && n <= lineCount_ ? RunOf(n)->fileIndex : 0;
}

const std::string& CPreprocessor::FileNameOf(std::int32_t n) const {
  if (fileNames_.empty()) return noName_;
  return fileNames_[static_cast<std::size_t>(FileIndexOf(n))];
}

std::int32_t CPreprocessor::LineOf(std::int32_t n) const {
  if (n < 1 || n > lineCount_) return 0;
  return RunOf(n)->LineInFile(n);
}

}  // namespace torvik
