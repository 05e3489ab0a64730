#include "Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace torvik {

namespace {

constexpr int kTextEnd = -1;
constexpr int kTextError = -2;
constexpr char kCtrlZ = 0x1A;

// Writes everything, at the current position or, with `at`, from there on.
bool WriteAll(int fd, const char* data, std::size_t size, std::optional<off_t> at = std::nullopt) {
  while (size > 0) {
    const ssize_t written = at ? ::pwrite(fd, data, size, *at) : ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;  // nothing written would loop for ever
    data += written;
    size -= static_cast<std::size_t>(written);
    if (at) *at += written;
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t DefaultFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

bool WriteInPlace(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const bool closed = ::close(fd) == 0;
  return written && closed;
}

// Puts the finished file `temp` in place of `path` in one step. An existing
// file is swapped out and then deleted rather than renamed over: ext4 writes
// a renamed-over file's data back at once, which costs a run more than all
// its other file work.
bool ReplaceWith(const std::string& temp, const std::string& path) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
    ::unlink(temp.c_str());  // now the older file
    return true;
  }
  return ::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

std::optional<FileIdentity> IdentityOfDescriptor(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

TextReader::~TextReader() { Close(); }

TextReader::OpenResult TextReader::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return OpenResult::CannotOpen;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return OpenResult::CannotOpen;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return OpenResult::IsDirectory;
  }
  Adopt(fd);
  owns_ = true;
  regular_ = S_ISREG(st.st_mode);
  identity_ = FileIdentity{st.st_dev, st.st_ino};
  return OpenResult::Ok;
}

void TextReader::Adopt(int fd) {
  Close();
  fd_ = fd;
  owns_ = false;
  regular_ = false;
  identity_.reset();
  ended_ = failed_ = false;
  pos_ = size_ = 0;
  chunkStart_ = 0;
}

void TextReader::Close() {
  if (fd_ >= 0 && owns_) ::close(fd_);
  fd_ = -1;
  owns_ = false;
}

bool TextReader::Fill() {
  if (ended_ || failed_ || fd_ < 0) return false;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get(), kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failed_ = true;
      return false;
    }
    if (got == 0) {
      ended_ = true;
      return false;
    }
    chunkStart_ += size_;
    pos_ = 0;
    size_ = static_cast<std::size_t>(got);
    nextReturn_ = FindInChunk('\r', 0);
    nextCtrlZ_ = FindInChunk(kCtrlZ, 0);
    nextNul_ = FindInChunk('\0', 0);
    return true;
  }
}

std::size_t TextReader::FindInChunk(char c, std::size_t from) const {
  const void* found = std::memchr(buffer_.get() + from, c, size_ - from);
  return found ? static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.get()) : size_;
}

// The first newline, carriage return or 0x1A at or after the position, or
// the end of the chunk. The next carriage return and 0x1A are kept, so each
// character is searched once.
const char* TextReader::SpecialCharacter() {
  if (nextReturn_ < pos_) nextReturn_ = FindInChunk('\r', pos_);
  const std::size_t limit = std::min(nextReturn_, nextCtrlZ_);
  const void* newline = std::memchr(buffer_.get() + pos_, '\n', limit - pos_);
  return newline ? static_cast<const char*>(newline) : buffer_.get() + limit;
}

int TextReader::Peek() {
  for (;;) {
    if (pos_ == size_ && !Fill()) return failed_ ? kTextError : kTextEnd;
    const char c = buffer_[pos_];
    if (c == '\r') {
      ++pos_;
      continue;
    }
    if (c == kCtrlZ) {
      ended_ = true;
      pos_ = size_ = 0;
      return kTextEnd;
    }
    return static_cast<unsigned char>(c);
  }
}

int TextReader::Next() {
  const int c = Peek();
  if (c >= 0) ++pos_;
  return c;
}

TextReader::Status TextReader::ReadLine(std::string& line, std::size_t maxChars, bool& newline) {
  line.clear();
  newline = false;
  for (;;) {
    if (pos_ == size_ && !Fill()) {
      if (failed_) return Status::Error;
      return line.empty() ? Status::End : Status::Line;
    }
    // Copy the run of ordinary characters, then deal with the one that ends it.
    const char* start = buffer_.get() + pos_;
    const char* end = buffer_.get() + size_;
    const char* stop = SpecialCharacter();
    const std::size_t take = std::min(static_cast<std::size_t>(stop - start), maxChars - line.size());
    line.append(start, take);
    pos_ += take;
    if (line.size() == maxChars) {
      const int c = Peek();
      if (c == kTextError) return Status::Error;
      if (c == '\n') {
        ++pos_;
        newline = true;
      }
      return Status::Line;
    }
    if (stop == end) continue;
    ++pos_;
    if (*stop == '\n') {
      newline = true;
      return Status::Line;
    }
    if (*stop == kCtrlZ) {
      ended_ = true;
      pos_ = size_ = 0;
      return line.empty() ? Status::End : Status::Line;
    }
  }
}

TextReader::Status TextReader::ReadLineView(std::string_view& line, std::string& spill, std::size_t maxChars,
                                            bool& newline) {
  if (pos_ < size_) {
    const char* start = buffer_.get() + pos_;
    const char* stop = SpecialCharacter();
    const auto length = static_cast<std::size_t>(stop - start);
    if (stop < buffer_.get() + size_ && *stop == '\n' && length <= maxChars) {
      if (nextNul_ < pos_) nextNul_ = FindInChunk('\0', pos_);
      const std::size_t kept = std::min(length, nextNul_ - pos_);
      line = std::string_view(start, kept);
      pos_ += length + 1;
      newline = true;
      return Status::Line;
    }
  }
  const Status status = ReadLine(spill, maxChars, newline);
  line = std::string_view(spill).substr(0, spill.find('\0'));
  return status;
}

std::string_view TextReader::PlainRun() {
  if (pos_ == size_ && !Fill()) return {};
  if (nextReturn_ < pos_) nextReturn_ = FindInChunk('\r', pos_);
  if (nextNul_ < pos_) nextNul_ = FindInChunk('\0', pos_);
  const std::size_t limit = std::min({nextReturn_, nextCtrlZ_, nextNul_});
  if (limit <= pos_) return {};
  const char* const start = buffer_.get() + pos_;
  const void* const last = ::memrchr(start, '\n', limit - pos_);
  if (last == nullptr) return {};
  return std::string_view(start, static_cast<std::size_t>(static_cast<const char*>(last) + 1 - start));
}

TextReader::Status TextReader::SkipLine() {
  for (;;) {
    const int c = Next();
    if (c == kTextError) return Status::Error;
    if (c == kTextEnd || c == '\n') return Status::Line;
  }
}

UniqueDescriptor::~UniqueDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

UniqueDescriptor& UniqueDescriptor::operator=(UniqueDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

TextWriter::~TextWriter() { Flush(); }

void TextWriter::Write(std::string_view text) {
  if (text.size() >= kBuffered) {
    // Large pieces go straight out rather than through the buffer.
    Flush();
    if (!failed_ && (fd_ < 0 || !WriteAll(fd_, text.data(), text.size()))) failed_ = true;
    return;
  }
  buffer_.append(text);
  if (buffer_.size() >= kBuffered) Flush();
}

void TextWriter::WriteLine(std::string_view text) {
  buffer_.append(text);
  buffer_.push_back('\n');
  if (buffer_.size() >= kBuffered) Flush();
}

bool TextWriter::Flush() {
  if (!buffer_.empty()) {
    if (!failed_ && (fd_ < 0 || !WriteAll(fd_, buffer_.data(), buffer_.size()))) failed_ = true;
    buffer_.clear();
  }
  return !failed_;
}

namespace {

// The file that writing to `requested` replaces: the target of a link, not
// the link itself. Sets `inPlace` for a target that exists and is not a
// regular file (a device), which is written in place, and `existing` to
// the identity of a target that exists; nullopt for a directory.
std::optional<std::string> ReplacementTarget(const std::string& requested, bool& inPlace,
                                             std::optional<FileIdentity>& existing) {
  inPlace = false;
  existing.reset();
  std::string path = requested;
  struct stat st {};
  // What is not a link is known from the first look; a link is followed.
  bool found = ::lstat(path.c_str(), &st) == 0;
  if (found && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) path = resolved;
    found = ::stat(path.c_str(), &st) == 0;
  }
  if (found) {
    if (S_ISDIR(st.st_mode)) return std::nullopt;
    inPlace = !S_ISREG(st.st_mode);
    existing = FileIdentity{st.st_dev, st.st_ino};
  }
  return path;
}

}  // namespace

bool WriteFileAtomically(const std::string& requested, const std::vector<std::uint8_t>& bytes) {
  bool inPlace = false;
  std::optional<FileIdentity> existing;
  const auto path = ReplacementTarget(requested, inPlace, existing);
  if (!path) return false;
  if (inPlace) return WriteInPlace(*path, bytes);
  std::string temp = DirectoryOf(*path) + "/." + BaseNameOf(*path) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = WriteAll(fd, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  ok = ::fchmod(fd, DefaultFileMode()) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ReplaceWith(temp, *path);
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool MoveFileInto(int fd, const std::string& name, const std::string& requested, const std::vector<std::uint8_t>& bytes) {
  bool inPlace = false;
  std::optional<FileIdentity> existing;
  const auto path = ReplacementTarget(requested, inPlace, existing);
  if (!path || inPlace) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return false;
  const FileIdentity held{st.st_dev, st.st_ino};
  if (IdentityOfPath(name) != held || existing == held) return false;
  if (!WriteAll(fd, reinterpret_cast<const char*>(bytes.data()), bytes.size(), 0)) return false;
  // A file this run created has the mode already.
  const mode_t mode = DefaultFileMode();
  if ((st.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0) return false;
  // The file first takes a name of its own beside the target, so that
  // `name` never names another file on the way. The inode number makes
  // that name unique among runs doing the same at once.
  const std::string temp = DirectoryOf(*path) + "/." + BaseNameOf(*path) + "." + std::to_string(st.st_ino);
  if (::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, temp.c_str(), RENAME_NOREPLACE) != 0) return false;
  if (ReplaceWith(temp, *path)) return true;
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) != 0) ::unlink(temp.c_str());
  return false;
}

std::optional<std::vector<std::uint8_t>> ReadBinaryFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  ::close(fd);
  return bytes;
}

std::string BesideProgram(const std::string& programPath, const std::string& name, const char* searchPath) {
  const auto separator = programPath.find_last_of("/\\");
  if (separator != std::string::npos) return programPath.substr(0, separator + 1) + name;
  // A bare name ran from the first directory of PATH holding an executable
  // file of that name, as the shell found it; an empty entry is the
  // current directory. The directory is taken as written, links and all.
  const std::string_view entries = programPath.empty() || searchPath == nullptr ? "" : searchPath;
  for (std::size_t start = 0; !entries.empty() && start <= entries.size();) {
    const std::size_t end = std::min(entries.find(':', start), entries.size());
    std::string directory = end == start ? std::string("./") : std::string(entries.substr(start, end - start));
    if (directory.back() != '/') directory.push_back('/');
    const std::string candidate = directory + programPath;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
      return directory + name;
    }
    start = end + 1;
  }
  std::vector<char> buffer(PATH_MAX);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return name;
  const std::string executable(buffer.data(), static_cast<std::size_t>(length));
  return executable.substr(0, executable.find_last_of('/') + 1) + name;
}

}  // namespace torvik
