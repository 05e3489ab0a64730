// The intermediate file "$asmtmp$.$$$" in the current directory. A run
// holds an exclusive lock on it for its whole life, so that runs started in
// one directory at once take turns instead of overwriting each other's lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Files.h"

namespace torvik {

class IntermediateFile {
 public:
  static constexpr const char* kName = "$asmtmp$.$$$";

  IntermediateFile() = default;
  // Releases the lock and leaves the file where it is.
  ~IntermediateFile();
  IntermediateFile(const IntermediateFile&) = delete;
  IntermediateFile& operator=(const IntermediateFile&) = delete;

  // Opens or creates the file and takes the lock, waiting for any other run
  // that holds it. Does not change the file's content.
  bool Create();
  std::optional<FileIdentity> Identity() const;
  // Empties the file for writing.
  bool Truncate();
  TextWriter& Writer() { return writer_; }
  // Writes out what is buffered; false when any write failed.
  bool FinishWriting() { return writer_.Flush(); }
  // Whether the file can be opened by its name for reading and is still
  // the locked one.
  bool CanBeOpened() const;
  // Deletes the file and releases the lock.
  void Remove();
  // Ends the file as Remove does, by making it the file at `path` with
  // `bytes` as its content, replaced whole, which spares creating another.
  // False when that cannot be done; the file is then still there.
  bool BecomeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

 private:
  void Release();

  int fd_ = -1;
  std::optional<FileIdentity> identity_;  // of the file held, which cannot change
  bool empty_ = false;  // when it was locked, or once Truncate emptied it
  TextWriter writer_;
};

}  // namespace torvik
