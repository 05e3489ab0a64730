// Expands the source and its #include files into the intermediate file and
// keeps the map from every intermediate line back to its file and line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "Intermediate.h"
#include "Limits.h"
#include "Memory.h"

namespace torvik {

class CAssembler;

class CPreprocessor {
 public:
  explicit CPreprocessor(CAssembler& owner) : owner_(owner) {}

  // Files that must never be read as sources: the intermediate file itself.
  void Forbid(std::optional<FileIdentity> identity) { forbidden_ = identity; }
  // The files the last Process read, the source and its includes.
  const std::vector<FileIdentity>& Inputs() const { return inputs_; }

  bool Process(const std::string& path, TextWriter& out, bool topLevel);
  // From the next Process on, the lines are not written to `out` as they
  // come but kept back until WriteDeferred. A run whose lines the passes
  // take from memory only needs them written when it stops after the
  // expansion and leaves the intermediate file behind. Only lines of
  // regular files can be kept back, as places in them: from the first
  // file of another kind on (a pipe, a device), what was kept back is
  // written and the lines go to `out` as they come.
  void DeferWriting(bool defer) { deferring_ = defer; }
  bool WriteDeferred(TextWriter& out) { return deferred_.MoveTo(out) && !deferredLost_; }

  // For intermediate line n (from 1); line 0 and lines past the end name
  // the top-level file and line 0.
  const std::string& FileNameOf(std::int32_t n) const;
  std::int32_t LineOf(std::int32_t n) const;
  // The index of the file that line n came from, by the same rule.
  std::int32_t FileIndexOf(std::int32_t n) const;

  // The expanded lines prepared as both passes read them: without their
  // comments and with tabs turned into spaces; a line too long for a pass
  // to read keeps no text. The intermediate file receives the lines as
  // they stand. Valid until the next Process.
  struct PreparedLine {
    std::string_view text;
    bool tooLong = false;
  };
  class PreparedLines;
  PreparedLines Prepared() const;

  int FileCount() const { return static_cast<int>(fileNames_.size()); }
  const std::string& FileName(int index) const { return fileNames_[static_cast<std::size_t>(index)]; }
  int LineMapCount() const { return lineCount_; }

 private:
  // Expands one file, the top-level one or an included one.
  bool Expand(const std::string& path, TextWriter& out);
  bool ProcessLines(TextReader& in, int fileIndex, TextWriter& out);
  // Handles a line beginning with '#'; false to stop the expansion.
  bool Directive(std::string_view line, TextWriter& out);
  // An ordinary line read on its own, which stands at `offset` in its file
  // and takes `length` bytes there.
  bool WriteLine(std::string_view text, int fileIndex, std::int32_t lineInFile, std::uint64_t offset,
                 std::uint64_t length, TextWriter& out);
  // Writes what was kept back and stops keeping lines back.
  void WriteThrough(TextWriter& out);
  bool IsRecorded(std::string_view path) const;

  CAssembler& owner_;
  // Where the intermediate lines came from, as runs of lines that follow
  // each other in one file.
  struct LineRun {
    std::int32_t firstLine;  // its first intermediate line, from 1
    std::int32_t fileIndex;
    std::int32_t firstLineInFile;
    // The line in its file of intermediate line n, which the run holds or
    // would hold if it went on.
    std::int32_t LineInFile(std::int32_t n) const { return firstLineInFile + (n - firstLine); }
  };
  std::vector<LineRun> lineRuns_;
  std::int32_t lineCount_ = 0;
  mutable std::size_t lastRun_ = 0;  // lookups mostly go forward line by line
  const LineRun* RunOf(std::int32_t n) const;
  std::vector<std::string> fileNames_;
  std::size_t TakeRun(std::string_view run, std::uint64_t offset, int fileIndex, std::int32_t& lineInFile,
                      TextWriter& out);
  // `followsLast`: the line is known to come right after the last one
  // recorded, from the same file.
  bool Record(std::string_view text, std::size_t comment, int fileIndex, std::int32_t lineInFile, bool followsLast);
  void SpaceOutTabs();
  // What the passes read of each written line (the text before its
  // comment, with tabs turned into spaces), one line after another: line i
  // ends where preparedEnds_[i] says, and a line too long to be read is
  // marked by kTooLong there and keeps no text.
  static constexpr std::uint32_t kTooLong = std::uint32_t{1} << 31;
  ReservedText prepared_{static_cast<std::size_t>(kMaxIntermediateLines) * kLineReadLimit};
  std::vector<std::uint32_t> preparedEnds_;
  bool failed_ = false;  // a run stopped at a capacity
  bool deferring_ = false;
  bool holdingBack_ = false;   // lines are being kept back in this expansion
  bool deferredLost_ = false;  // some of what was kept back could not be written
  DeferredText deferred_;
  std::vector<FileIdentity> inputs_;
  void Emit(int fileIndex, std::uint64_t offset, std::string_view text, TextWriter& out);
  std::optional<FileIdentity> forbidden_;
  std::string noName_;
};

// The prepared lines in order, as a range the passes iterate.
class CPreprocessor::PreparedLines {
 public:
  PreparedLines(const CPreprocessor& owner) : owner_(owner) {}
  std::size_t size() const { return owner_.preparedEnds_.size(); }
  PreparedLine operator[](std::size_t i) const {
    const std::uint32_t end = owner_.preparedEnds_[i];
    if ((end & kTooLong) != 0) return {{}, true};
    const std::uint32_t start = i == 0 ? 0 : owner_.preparedEnds_[i - 1] & ~kTooLong;
    return {{owner_.prepared_.Data() + start, end - start}, false};
  }
  // Walks the line ends, carrying where the next line starts.
  class Iterator {
   public:
    Iterator(const char* text, const std::uint32_t* end) : text_(text), end_(end) {}
    PreparedLine operator*() const {
      if ((*end_ & kTooLong) != 0) return {{}, true};
      return {{text_ + start_, *end_ - start_}, false};
    }
    Iterator& operator++() {
      start_ = *end_ & ~kTooLong;
      ++end_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return end_ != other.end_; }

   private:
    const char* text_;
    const std::uint32_t* end_;
    std::uint32_t start_ = 0;
  };
  // Calls `visit` with each line that holds the character `c`, in order,
  // until it returns false. One search runs through the text of all lines,
  // so lines without it cost nothing.
  template <typename Visit>
  void ForEachHolding(char c, Visit visit) const {
    const char* const text = owner_.prepared_.Data();
    const std::size_t size = owner_.prepared_.Size();
    const auto& ends = owner_.preparedEnds_;
    auto line = ends.begin();
    for (std::size_t from = 0; from < size;) {
      const void* const found = std::memchr(text + from, c, size - from);
      if (found == nullptr) return;
      const auto at = static_cast<std::uint32_t>(static_cast<const char*>(found) - text);
      // The first line that ends past the character holds it.
      line = std::upper_bound(line, ends.end(), at,
                              [](std::uint32_t place, std::uint32_t end) { return place < (end & ~kTooLong); });
      if (!visit((*this)[static_cast<std::size_t>(line - ends.begin())])) return;
      from = *line & ~kTooLong;
      ++line;
    }
  }

  Iterator begin() const { return {owner_.prepared_.Data(), owner_.preparedEnds_.data()}; }
  Iterator end() const { return {owner_.prepared_.Data(), owner_.preparedEnds_.data() + size()}; }

 private:
  const CPreprocessor& owner_;
};

inline CPreprocessor::PreparedLines CPreprocessor::Prepared() const { return PreparedLines(*this); }

}  // namespace torvik
