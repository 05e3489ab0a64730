// Expands the source and its #include files into the intermediate file and
// keeps the map from every intermediate line back to its file and line.
#pragma once

#include <cstdint>
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
  // without their comments and with tabs turned into spaces, prepared once
  // here; a line too long for a pass to read keeps no text. The views stay
  // valid until the next Process.
  struct WrittenLine {
    std::string_view text;
    bool tooLong = false;
  };
  std::vector<WrittenLine> WrittenLines() const;

  int FileCount() const { return static_cast<int>(fileNames_.size()); }
  const std::string& FileName(int index) const { return fileNames_[static_cast<std::size_t>(index)]; }
  int LineMapCount() const { return static_cast<int>(lineMap_.size()); }

 private:
  bool ProcessLines(TextReader& in, int fileIndex, TextWriter& out);
  // Handles a line beginning with '#'; false to stop the expansion.
  bool Directive(std::string_view line, TextWriter& out);
  bool WriteLine(std::string_view text, int fileIndex, std::int32_t lineInFile, TextWriter& out);
  bool IsRecorded(std::string_view path) const;

  CAssembler& owner_;
  std::vector<LineMapEntry> lineMap_;
  std::vector<std::string> fileNames_;
  std::string keptText_;  // the prepared lines, one after another
  struct KeptLine {
    std::uint32_t end;  // where the line's prepared text ends in keptText_
    bool tooLong;
  };
  std::vector<KeptLine> keptLines_;
  std::string prepareBuffer_;
  std::optional<FileIdentity> forbidden_;
  std::string noName_;
};

}  // namespace torvik
