// The intermediate file "$asmtmp$.$$$" in the current directory. A run
// holds an exclusive lock on it for its whole life, so that runs started in
// one directory at once take turns instead of overwriting each other's lines.
//
// Whoever can create files in that directory can plant something under the
// name, so the file is only used when it is a regular file of the user
// running the assembler, with no other name, reached without following a
// link; and it is only ever written, emptied or removed through that
// check.
#pragma once

#include <chrono>
#include <optional>

#include "Files.h"

namespace torvik {

class IntermediateFile {
 public:
  static constexpr const char* kName = "$asmtmp$.$$$";
  // How long a run waits for another that holds the lock: far longer than
  // any real run takes, short enough that a lock held on purpose ends it.
  static constexpr std::chrono::seconds kLockWait{30};

  IntermediateFile() = default;
  // Releases the lock and leaves the file where it is.
  ~IntermediateFile();
  IntermediateFile(const IntermediateFile&) = delete;
  IntermediateFile& operator=(const IntermediateFile&) = delete;

  // Opens or creates the file and takes the lock, waiting at most kLockWait
  // for another run that holds it. False when the file is not one to use
  // or the lock cannot be had; nothing was changed then. Does not change
  // the file's content.
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

  int fd_ = -1;
  std::optional<FileIdentity> identity_;  // of the file held, which cannot change
  bool empty_ = false;  // when it was locked, or once Truncate emptied it
  TextWriter writer_;
};

}  // namespace torvik
