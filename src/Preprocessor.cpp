#include "Preprocessor.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <unistd.h>

#include <cerrno>

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
  if (in.Open(path) != TextReader::OpenResult::Ok ||
      (forbidden_ && in.Identity() == forbidden_)) {
    owner_.Error(kErrCannotOpenFile, path);
    return false;
  }
  if (const auto identity = in.Identity()) inputs_.push_back(*identity);
  if (holdingBack_ && in.IsRegularFile()) {
    deferred_.KeepFile(fileIndex, UniqueDescriptor(in.ReleaseDescriptor()));
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

namespace {

// Where the newlines and the semicolons stand among 64 characters of a run,
// one bit per character.
struct BlockMarks {
  std::uint64_t newlines = 0;
  std::uint64_t semicolons = 0;
};

BlockMarks MarkBlock(const char* block) {
  BlockMarks marks;
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i semicolon = _mm_set1_epi8(';');
  for (unsigned part = 0; part < 4; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
    const auto newlines = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
    const auto semicolons = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, semicolon)));
    marks.newlines |= std::uint64_t{newlines} << (16 * part);
    marks.semicolons |= std::uint64_t{semicolons} << (16 * part);
  }
#else
  for (unsigned i = 0; i < 64; ++i) {
    marks.newlines |= std::uint64_t{block[i] == '\n'} << i;
    marks.semicolons |= std::uint64_t{block[i] == ';'} << i;
  }
#endif
  return marks;
}

// The marks of the 64 characters from `base`; past the run's end the block
// is padded with characters that mark nothing.
BlockMarks MarkBlockAt(std::string_view run, std::size_t base) {
  if (run.size() - base >= 64) return MarkBlock(run.data() + base);
  char padded[64];
  std::memset(padded, ' ', sizeof padded);
  std::memcpy(padded, run.data() + base, run.size() - base);
  return MarkBlock(padded);
}

}  // namespace

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
// writes them in one piece; returns how many characters it took. The run is
// read 64 characters at a time, and the lines are found by walking the bits
// of the block's newlines, so a line costs no branch of its own to find.
std::size_t CPreprocessor::TakeRun(std::string_view run, std::uint64_t offset, int fileIndex, std::int32_t& lineInFile,
                                   TextWriter& out) {
  std::size_t pos = 0;  // where the current line starts
  std::size_t semicolon = std::string_view::npos;  // the current line's first ';'
  const auto takeUpToHere = [&] {
    Emit(fileIndex, offset, run.substr(0, pos), out);
    return pos;
  };
  for (std::size_t base = 0; base < run.size(); base += 64) {
    BlockMarks marks = MarkBlockAt(run, base);
    while (marks.newlines != 0) {
      // The characters of this block up to and including the next newline.
      const std::uint64_t upToNewline = marks.newlines ^ (marks.newlines - 1);
      const std::uint64_t lineSemicolons = marks.semicolons & upToNewline;
      if (semicolon == std::string_view::npos && lineSemicolons != 0) {
        semicolon = base + static_cast<std::size_t>(__builtin_ctzll(lineSemicolons));
      }
      const std::size_t newline = base + static_cast<std::size_t>(__builtin_ctzll(marks.newlines));
      const std::size_t length = newline - pos;
      if (run[pos] == '#' || length > kMaxSourceLineLength) return takeUpToHere();
      const std::size_t comment = semicolon == std::string_view::npos ? length : semicolon - pos;
      // After the run's first line, each line follows the last one recorded.
      if (!Record(run.substr(pos, length), comment, fileIndex, lineInFile + 1, pos != 0)) {
        failed_ = true;
        return takeUpToHere();
      }
      ++lineInFile;
      pos = newline + 1;
      semicolon = std::string_view::npos;
      marks.semicolons &= ~upToNewline;
      marks.newlines &= marks.newlines - 1;
    }
    // The current line goes on into the next block.
    if (semicolon == std::string_view::npos && marks.semicolons != 0) {
      semicolon = base + static_cast<std::size_t>(__builtin_ctzll(marks.semicolons));
    }
  }
  return takeUpToHere();
}

bool CPreprocessor::Directive(std::string_view line, TextWriter& out) {
  const auto wordEnd = line.find(' ', 1);
  const std::string_view word = line.substr(1, wordEnd == std::string_view::npos ? std::string_view::npos : wordEnd - 1);
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
  for (char* tab = prepared_.Data(); (tab = static_cast<char*>(std::memchr(tab, '\t', static_cast<std::size_t>(end - tab)))); ++tab) {
    *tab = ' ';
  }
}

bool CPreprocessor::IsRecorded(std::string_view path) const {
  for (const auto& name : fileNames_) {
    if (EqualsIgnoringCase(name, path)) return true;
  }
  return false;
}

void DeferredText::Clear() {
  pieces_.clear();
  files_.clear();
}

void DeferredText::KeepFile(int fileIndex, UniqueDescriptor file) {
  const auto index = static_cast<std::size_t>(fileIndex);
  if (files_.size() <= index) files_.resize(index + 1);
  files_[index] = std::move(file);
}

void DeferredText::AddFromFile(int fileIndex, std::uint64_t offset, std::uint64_t length) {
  if (!pieces_.empty() && pieces_.back().fileIndex == fileIndex &&
      pieces_.back().offset + pieces_.back().length == offset) {
    pieces_.back().length += length;
  } else {
    pieces_.push_back({fileIndex, offset, length});
  }
}

bool DeferredText::MoveTo(TextWriter& out) {
  bool complete = true;
  for (const Piece& piece : pieces_) {
    if (!WriteFromFile(piece, out)) {
      complete = false;  // what was read so far still goes out
      break;
    }
  }
  pieces_.clear();
  return out.Flush() && complete;
}

namespace {

// Writes bytes of a source as a text read takes them: carriage returns are
// dropped, and from a NUL on the rest of its line. `dropping` carries a
// line that goes on into the next call.
class TextFilter {
 public:
  explicit TextFilter(TextWriter& out) : out_(out) {}
  void Write(std::string_view bytes) {
    // The next carriage return and NUL, each found again once passed.
    const auto find = [bytes](char c, std::size_t from) { return std::min(bytes.find(c, from), bytes.size()); };
    std::size_t nextReturn = find('\r', 0);
    std::size_t nextNul = find('\0', 0);
    for (std::size_t pos = 0; pos < bytes.size();) {
      if (dropping_) {
        pos = bytes.find('\n', pos);
        if (pos == std::string_view::npos) return;
        dropping_ = false;
      }
      if (nextReturn < pos) nextReturn = find('\r', pos);
      if (nextNul < pos) nextNul = find('\0', pos);
      const std::size_t stop = std::min(nextReturn, nextNul);
      out_.Write(bytes.substr(pos, stop - pos));
      if (stop == bytes.size()) return;
      dropping_ = bytes[stop] == '\0';
      pos = stop + 1;
    }
  }

 private:
  TextWriter& out_;
  bool dropping_ = false;
};

}  // namespace

bool DeferredText::WriteFromFile(const Piece& piece, TextWriter& out) const {
  const int fd = files_[static_cast<std::size_t>(piece.fileIndex)].Get();
  std::vector<char> buffer(std::min<std::uint64_t>(piece.length, 64 * 1024));
  TextFilter filter(out);
  char last = '\n';
  for (std::uint64_t done = 0; done < piece.length;) {
    const std::size_t want = std::min<std::uint64_t>(buffer.size(), piece.length - done);
    const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(piece.offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // the file was cut short since it was read
    filter.Write(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    last = buffer[static_cast<std::size_t>(got) - 1];
    done += static_cast<std::uint64_t>(got);
  }
  // The last line of a file that does not end with a newline gets one.
  if (last != '\n') out.Write("\n");
  return true;
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
