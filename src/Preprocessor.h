// Expands the source and its #include files into the intermediate file and
// keeps the map from every intermediate line back to its file and line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "Limits.h"

namespace torvik {

class CAssembler;

struct LineMapEntry {
  std::int32_t fileIndex = 0;
  std::int32_t lineInFile = 0;
};

class CPreprocessor {
 public:
  explicit CPreprocessor(CAssembler& owner) : owner_(owner) {}

  // Files that must never be read as sources: the intermediate file itself.
  void Forbid(std::optional<FileIdentity> identity) { forbidden_ = identity; }

  bool Process(const std::string& path, TextWriter& out, bool topLevel);

  // For intermediate line n (from 1); line 0 and lines past the end name
  // the top-level file and line 0.
  const std::string& FileNameOf(std::int32_t n) const;
  std::int32_t LineOf(std::int32_t n) const;
  // The index of the file that line n came from, by the same rule.
  std::int32_t FileIndexOf(std::int32_t n) const;

  // The lines written to the intermediate file as both passes scan them:
  // without their comments and with tabs turned into spaces; a line too
  // long for a pass to read keeps no text. Valid until the next Process.
  struct WrittenLine {
    std::string_view text;
    bool tooLong = false;
  };
  class WrittenLines;
  WrittenLines Written() const;

  int FileCount() const { return static_cast<int>(fileNames_.size()); }
  const std::string& FileName(int index) const { return fileNames_[static_cast<std::size_t>(index)]; }
  int LineMapCount() const { return static_cast<int>(lineMap_.size()); }

 private:
  // Expands one file, the top-level one or an included one.
  bool Expand(const std::string& path, TextWriter& out);
  bool ProcessLines(TextReader& in, int fileIndex, TextWriter& out);
  // Handles a line beginning with '#'; false to stop the expansion.
  bool Directive(std::string_view line, TextWriter& out);
  bool WriteLine(std::string_view text, int fileIndex, std::int32_t lineInFile, TextWriter& out);
  bool IsRecorded(std::string_view path) const;

  CAssembler& owner_;
  std::vector<LineMapEntry> lineMap_;
  std::vector<std::string> fileNames_;
  std::size_t TakeRun(std::string_view run, int fileIndex, std::int32_t& lineInFile, TextWriter& out);
  bool Record(std::string_view text, std::size_t comment, int fileIndex, std::int32_t lineInFile);
  // What the passes read of each written line (the text before its
  // comment, with tabs turned into spaces) is kept in blocks that never
  // move, one line after another.
  void Keep(std::string_view prepared);
  void FinishBlock();
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;
  static constexpr std::uint16_t kTooLong = 0xFFFF;
  struct KeptLine {
    std::uint32_t offset;    // where the line starts in its block
    std::uint16_t block;
    std::uint16_t prepared;  // its length, or kTooLong
  };
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockUsed_ = 0;
  bool failed_ = false;  // a run stopped at a capacity
  std::vector<KeptLine> keptLines_;
  std::optional<FileIdentity> forbidden_;
  std::string noName_;
};

// The written lines in order, as a range the passes iterate.
class CPreprocessor::WrittenLines {
 public:
  WrittenLines(const CPreprocessor& owner) : owner_(owner) {}
  std::size_t size() const { return owner_.keptLines_.size(); }
  WrittenLine operator[](std::size_t i) const {
    const KeptLine& kept = owner_.keptLines_[i];
    if (kept.prepared == kTooLong) return {{}, true};
    return {{owner_.blocks_[kept.block].get() + kept.offset, kept.prepared}, false};
  }
  class Iterator {
   public:
    Iterator(const WrittenLines& lines, std::size_t i) : lines_(lines), i_(i) {}
    WrittenLine operator*() const { return lines_[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return i_ != other.i_; }

   private:
    const WrittenLines& lines_;
    std::size_t i_;
  };
  Iterator begin() const { return {*this, 0}; }
  Iterator end() const { return {*this, size()}; }

 private:
  const CPreprocessor& owner_;
};

inline CPreprocessor::WrittenLines CPreprocessor::Written() const { return WrittenLines(*this); }

}  // namespace torvik
