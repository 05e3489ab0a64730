// What the assembler and its tools ask of the operating system, in one
// place: files opened by name, read and written, their identity and kind,
// an exclusive lock, removal and renames, the running program's own path,
// its arguments and its standard streams. One implementation serves POSIX
// systems, another Windows; everything above this unit is the same code
// everywhere.
//
// Path names are UTF-8 throughout. On Windows they are turned into the
// system's wide names at every call, and the arguments are taken from the
// wide command line, so that any name the file system holds can be used,
// whatever the console's code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvik {

// An open file of the system: a descriptor, or on Windows a handle, whose
// invalid value is -1 as well.
using NativeFile = std::intptr_t;
inline constexpr NativeFile kNoFile = -1;

// Identity of an open or named file: device and inode, or on Windows the
// volume and the file's index on it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

enum class FileKind { Regular, Directory, Link, CharacterDevice, Other };

struct FileStatus {
  FileKind kind = FileKind::Other;
  FileIdentity identity;
  std::uint64_t size = 0;
  std::uint64_t links = 1;  // the names it has; 0 once it was removed
};

// The one holder of an open file: the file is closed with its holder.
class UniqueFile {
 public:
  UniqueFile() = default;
  explicit UniqueFile(NativeFile file) : file_(file) {}
  ~UniqueFile() { Close(); }
  UniqueFile(UniqueFile&& other) noexcept : file_(other.file_) { other.file_ = kNoFile; }
  UniqueFile& operator=(UniqueFile&& other) noexcept {
    if (this != &other) {
      Close();
      file_ = other.file_;
      other.file_ = kNoFile;
    }
    return *this;
  }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;

  NativeFile Get() const { return file_; }
  bool IsOpen() const { return file_ != kNoFile; }
  // Closes the file now; false when the system reports a failure, such as
  // data it could not write.
  bool Close();

 private:
  NativeFile file_ = kNoFile;
};

namespace platform {

enum class OpenFor {
  // Following links; may wait, as for a pipe without a writer.
  Reading,
  // Without waiting for anything, so that a pipe cannot hang the open.
  ReadingWithoutWaiting,
  // An existing character device, written where it is; never through a
  // link, and without waiting.
  WritingDevice,
  // A file that did not exist (mode 0666 less the umask), never through a
  // link.
  CreatingNew,
  // Reading and writing a file created when missing; a link at the name is
  // not followed, and nothing is waited for. The file can be removed and
  // locked through the holder.
  Updating,
};
enum class OpenFailure {
  None,
  NameTaken,  // something stands at the name already
  Busy,       // the name is held by a file on its way out: try again
  Other,
};
UniqueFile Open(const std::string& path, OpenFor purpose, OpenFailure* failure = nullptr);
// A file without a name, for reading and writing, that vanishes when it is
// closed.
UniqueFile OpenAnonymous();

std::optional<FileStatus> StatusOf(NativeFile file);
// Of the file a path leads to, or with followLinks false of the directory
// entry itself (a link is then of kind Link).
std::optional<FileStatus> StatusOfPath(const std::string& path, bool followLinks);
// Whether the file belongs to the user running the program (or, on
// Windows, to the owner that user's new files are given).
bool OwnedByUser(NativeFile file);

// The bytes read, at most `size`; 0 at the end, -1 on failure.
std::int64_t Read(NativeFile file, void* into, std::size_t size);
// The same at `offset`, leaving the file's position where it was.
std::int64_t ReadAt(NativeFile file, void* into, std::size_t size, std::uint64_t offset);
// The bytes written, at most `size`; -1 on failure.
std::int64_t Write(NativeFile file, const void* from, std::size_t size);
bool Rewind(NativeFile file);
// The size found by a seek to the file's end, which a file whose size is
// not known refuses; the position is then back at the start.
std::optional<std::uint64_t> SizeBySeeking(NativeFile file);
// Cuts the file to nothing and goes back to its start.
bool Truncate(NativeFile file);

enum class LockResult { Locked, Busy, Failed };
// An exclusive lock on the whole file, if it can be had at once; it lasts
// until Unlock or until the file is closed.
LockResult TryLock(NativeFile file);
void Unlock(NativeFile file);
// Waits a moment, for a lock held elsewhere.
void Pause(std::uint32_t milliseconds);

bool Remove(const std::string& path);
// Removes `file`, open for updating under `path`, through its holder
// where the system can.
bool RemoveOpen(NativeFile file, const std::string& path);

enum class SwapResult { Swapped, TargetMissing, CannotSwap, Failed };
// Exchanges the files at two names in one step, where the file system can.
SwapResult Swap(const std::string& from, const std::string& to);
// Renames `from` to `to` in one step; fails when `to` exists.
bool RenameNew(const std::string& from, const std::string& to);
// Renames `from` to `to` in one step, replacing what was at `to`.
bool RenameReplacing(const std::string& from, const std::string& to);

// Where the last part of a path starts: after its last directory
// separator ('/', and on Windows '\' and a drive's ':').
std::size_t FileNameStart(std::string_view path);
// A number of this process, different from that of every other running.
std::uint64_t ProcessNumber();

// The path of the running executable; empty when the system does not say.
std::string ExecutablePath();
// The directory, as written there and ending in a separator, of the first
// entry of `searchPath` (a PATH value, or null) that holds an executable
// file named `program`, as a shell would have found it. None on a system
// that does not start programs that way.
std::optional<std::string> DirectoryOnSearchPath(const std::string& program, const char* searchPath);

// The program's arguments as UTF-8 texts, in the form main receives them.
class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv);
  int Count() const { return static_cast<int>(texts_.size()); }
  char** Vector() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};
// Standard output and error carry every byte as it is written: no newline
// becomes a carriage return and a newline.
void UseBinaryStandardStreams();

}  // namespace platform
}  // namespace torvik
