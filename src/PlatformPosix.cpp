// The platform unit on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "Platform.h"

namespace torvik {

namespace {

int Descriptor(NativeFile file) { return static_cast<int>(file); }

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::Regular;
  if (S_ISDIR(mode)) return FileKind::Directory;
  if (S_ISLNK(mode)) return FileKind::Link;
  if (S_ISCHR(mode)) return FileKind::CharacterDevice;
  return FileKind::Other;
}

FileStatus StatusFrom(const struct stat& st) {
  FileStatus status;
  status.kind = KindOf(st.st_mode);
  status.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  status.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  status.links = static_cast<std::uint64_t>(st.st_nlink);
  return status;
}

// A character device opened without waiting, then made to wait again as
// usual; anything else is refused.
UniqueFile OpenDevice(const std::string& path) {
  UniqueFile file(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  const int fd = Descriptor(file.Get());
  if (!file.IsOpen() || ::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) return {};
  return file;
}

}  // namespace

bool UniqueFile::Close() {
  if (file_ == kNoFile) return true;
  const bool closed = ::close(Descriptor(file_)) == 0;
  file_ = kNoFile;
  return closed;
}

namespace platform {

UniqueFile Open(const std::string& path, OpenFor purpose, OpenFailure* failure) {
  UniqueFile file;
  switch (purpose) {
    case OpenFor::Reading: file = UniqueFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); break;
    case OpenFor::ReadingWithoutWaiting:
      file = UniqueFile(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
      break;
    case OpenFor::WritingDevice: file = OpenDevice(path); break;
    case OpenFor::CreatingNew:
      file = UniqueFile(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
      break;
    case OpenFor::Updating:
      file = UniqueFile(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
      break;
  }
  if (failure != nullptr) {
    *failure = file.IsOpen() ? OpenFailure::None : errno == EEXIST ? OpenFailure::NameTaken : OpenFailure::Other;
  }
  return file;
}

UniqueFile OpenAnonymous() {
#if defined(__linux__)
  int fd = ::memfd_create("torvik-expansion", MFD_CLOEXEC);
  if (fd < 0) fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return UniqueFile(fd);
#endif
  const char* const base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/torvik-XXXXXX";
  const int made = ::mkstemp(pattern.data());
  if (made >= 0) ::unlink(pattern.c_str());
  return UniqueFile(made);
}

std::optional<FileStatus> StatusOf(NativeFile file) {
  struct stat st {};
  if (::fstat(Descriptor(file), &st) != 0) return std::nullopt;
  return StatusFrom(st);
}

std::optional<FileStatus> StatusOfPath(const std::string& path, bool followLinks) {
  struct stat st {};
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return std::nullopt;
  return StatusFrom(st);
}

bool OwnedByUser(NativeFile file) {
  struct stat st {};
  return ::fstat(Descriptor(file), &st) == 0 && st.st_uid == ::geteuid();
}

std::int64_t Read(NativeFile file, void* into, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(Descriptor(file), into, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

std::int64_t ReadAt(NativeFile file, void* into, std::size_t size, std::uint64_t offset) {
  for (;;) {
    const ssize_t got = ::pread(Descriptor(file), into, size, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
}

std::int64_t Write(NativeFile file, const void* from, std::size_t size) {
  for (;;) {
    const ssize_t written = ::write(Descriptor(file), from, size);
    if (written >= 0 || errno != EINTR) return written;
  }
}

bool Rewind(NativeFile file) { return ::lseek(Descriptor(file), 0, SEEK_SET) == 0; }

std::optional<std::uint64_t> SizeBySeeking(NativeFile file) {
  const off_t size = ::lseek(Descriptor(file), 0, SEEK_END);
  if (size < 0 || !Rewind(file)) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

bool Truncate(NativeFile file) { return ::ftruncate(Descriptor(file), 0) == 0 && Rewind(file); }

LockResult TryLock(NativeFile file) {
  for (;;) {
    if (::flock(Descriptor(file), LOCK_EX | LOCK_NB) == 0) return LockResult::Locked;
    if (errno == EWOULDBLOCK) return LockResult::Busy;
    if (errno != EINTR) return LockResult::Failed;
  }
}

void Unlock(NativeFile file) { ::flock(Descriptor(file), LOCK_UN); }

void Pause(std::uint32_t milliseconds) {
  timespec rest{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

bool Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RemoveOpen(NativeFile, const std::string& path) { return Remove(path); }

SwapResult Swap(const std::string& from, const std::string& to) {
#if defined(__linux__)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) return SwapResult::Swapped;
  if (errno == ENOENT) return SwapResult::TargetMissing;
  return errno == EINVAL || errno == ENOSYS ? SwapResult::CannotSwap : SwapResult::Failed;
#elif defined(__APPLE__)
  if (::renamex_np(from.c_str(), to.c_str(), RENAME_SWAP) == 0) return SwapResult::Swapped;
  if (errno == ENOENT) return SwapResult::TargetMissing;
  return errno == ENOTSUP || errno == EINVAL ? SwapResult::CannotSwap : SwapResult::Failed;
#else
  struct stat st {};
  return ::lstat(to.c_str(), &st) == 0 ? SwapResult::CannotSwap : SwapResult::TargetMissing;
#endif
}

bool RenameNew(const std::string& from, const std::string& to) {
#if defined(__linux__)
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
#elif defined(__APPLE__)
  return ::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0;
#else
  // A second name made exclusively, then the first one dropped.
  return ::link(from.c_str(), to.c_str()) == 0 && ::unlink(from.c_str()) == 0;
#endif
}

bool RenameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

std::size_t FileNameStart(std::string_view path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

std::uint64_t ProcessNumber() { return static_cast<std::uint64_t>(::getpid()); }

std::string ExecutablePath() {
#if defined(__APPLE__)
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string path(size, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) return {};
  path.resize(path.find('\0'));
  return path;
#else
  std::string path(PATH_MAX, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  return path;
#endif
}

// The directory is taken as written, links and all; an empty entry is the
// current directory.
std::optional<std::string> DirectoryOnSearchPath(const std::string& program, const char* searchPath) {
  const std::string_view entries = program.empty() || searchPath == nullptr ? "" : searchPath;
  for (std::size_t start = 0; !entries.empty() && start <= entries.size();) {
    const std::size_t end = std::min(entries.find(':', start), entries.size());
    std::string directory = end == start ? std::string("./") : std::string(entries.substr(start, end - start));
    if (directory.back() != '/') directory.push_back('/');
    const std::string candidate = directory + program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
      return directory;
    }
    start = end + 1;
  }
  return std::nullopt;
}

ProgramArguments::ProgramArguments(int argc, char** argv) : texts_(argv, argv + argc) {
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}

void UseBinaryStandardStreams() {}

}  // namespace platform
}  // namespace torvik
