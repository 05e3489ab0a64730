// The intermediate file "$asmtmp$.$$$" in the current directory, and the
// text it receives. A run holds an exclusive lock on the file for its whole
// life, so that runs started in one directory at once take turns instead of
// overwriting each other's lines.
//
// Whoever can create files in that directory can plant something under the
// name, so the file is only used when it is a regular file of the user
// running the assembler, with no other name, reached without following a
// link; and it is only ever written, emptied or removed through that
// check.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Files.h"

namespace torvik {

// The intermediate file's name, relative to the current directory.
inline constexpr const char* kIntermediateName = "$asmtmp$.$$$";

class IntermediateFile {
 public:
  // How long a run waits for another that holds the lock, in milliseconds:
  // far longer than any real run takes, short enough that a lock held on
  // purpose ends it.
  static constexpr std::uint32_t kLockWaitMilliseconds = 30'000;

  IntermediateFile() = default;
  // Releases the lock and leaves the file where it is.
  ~IntermediateFile();
  IntermediateFile(const IntermediateFile&) = delete;
  IntermediateFile& operator=(const IntermediateFile&) = delete;

  // Opens or creates the file and takes the lock, waiting at most
  // kLockWaitMilliseconds for another run that holds it. False when the
  // file is not one to use or the lock cannot be had; nothing was changed
  // then. Does not change the file's content.
  bool Create();
  std::optional<FileIdentity> Identity() const;
  // Empties the file for writing.
  bool Truncate();
  TextWriter& Writer() { return writer_; }
  // Writes out what is buffered; false when any write failed.
  bool FinishWriting() { return writer_.Flush(); }
  // Whether the name still leads to the file held.
  bool StillNamed() const;
  // Deletes the file, when its name still leads to it, and releases the lock.
  void Remove();

 private:
  void Release();

  UniqueFile file_;
  std::optional<FileIdentity> identity_;  // of the file held, which cannot change
  bool empty_ = false;                    // when it was locked, or once Truncate emptied it
  TextWriter writer_;
};

// The text of the intermediate file, held back until it is wanted, as the
// places in the sources that hold it: stretches of whole lines of regular
// files, which stay open. They are written out with the rules of a text
// read (carriage returns dropped, a line's text ending at a NUL), so the
// file receives what writing each line as it came would have given.
class DeferredText {
 public:
  void Clear();
  // Keeps file `fileIndex` open, to read its pieces back from.
  void KeepFile(int fileIndex, UniqueFile file);
  // The `length` bytes of file `fileIndex` from `offset`: whole lines, the
  // last of them perhaps without its newline.
  void AddFromFile(int fileIndex, std::uint64_t offset, std::uint64_t length);
  // Writes every piece in order and forgets them; false when a file no
  // longer holds its piece or a write failed.
  bool MoveTo(TextWriter& out);

 private:
  struct Piece {
    int fileIndex;
    std::uint64_t offset;
    std::uint64_t length;
  };
  bool WriteFromFile(const Piece& piece, TextWriter& out) const;

  std::vector<Piece> pieces_;
  std::vector<UniqueFile> files_;  // by file index
};

}  // namespace torvik
