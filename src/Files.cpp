#include "Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
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

}  // namespace

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

std::optional<FileIdentity> IdentityOfEntry(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
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

void TextReader::EndAtControlZ() {
  chunkStart_ += pos_;  // the file's text ends here
  pos_ = size_ = 0;
  ended_ = true;
}

TextReader::Status TextReader::ReadLine(std::string& line, std::size_t maxChars, LineEnd& end) {
  line.clear();
  end = {};
  bool any = false;       // a character other than a carriage return was read
  bool dropping = false;  // past a NUL
  std::size_t counted = 0;
  for (;;) {
    if (pos_ == size_ && !Fill()) {
      if (failed_) return Status::Error;
      return any ? Status::Line : Status::End;
    }
    // The run of ordinary characters, then the one that ends it.
    const char* const start = buffer_.get() + pos_;
    const char* const stop = SpecialCharacter();
    const auto length = static_cast<std::size_t>(stop - start);
    any = any || length > 0;
    std::size_t kept = 0;
    if (!dropping) {
      const void* const nul = std::memchr(start, '\0', length);
      kept = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : length;
      dropping = nul != nullptr;
    }
    const std::size_t counts = regular_ ? kept : length;
    if (counts > maxChars - counted) {
      const std::size_t room = maxChars - counted;
      line.append(start, std::min(kept, room));
      pos_ += room;
      end.tooLong = true;
      return Status::Line;
    }
    line.append(start, kept);
    counted += counts;
    pos_ += length;
    if (pos_ == size_) continue;
    if (*stop == kCtrlZ) {
      EndAtControlZ();
      return any ? Status::Line : Status::End;
    }
    ++pos_;
    if (*stop == '\n') {
      end.newline = true;
      return Status::Line;
    }
    // A carriage return is dropped.
  }
}

TextReader::Status TextReader::ReadLineView(std::string_view& line, std::string& spill, std::size_t maxChars,
                                            LineEnd& end) {
  if (pos_ < size_) {
    const char* start = buffer_.get() + pos_;
    const char* stop = SpecialCharacter();
    const auto length = static_cast<std::size_t>(stop - start);
    if (stop < buffer_.get() + size_ && *stop == '\n') {
      if (nextNul_ < pos_) nextNul_ = FindInChunk('\0', pos_);
      const std::size_t kept = std::min(length, nextNul_ - pos_);
      if ((regular_ ? kept : length) <= maxChars) {
        line = std::string_view(start, kept);
        pos_ += length + 1;
        end = {true, false};
        return Status::Line;
      }
    }
  }
  const Status status = ReadLine(spill, maxChars, end);
  line = spill;
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
    if (pos_ == size_ && !Fill()) return failed_ ? Status::Error : Status::Line;
    pos_ = static_cast<std::size_t>(SpecialCharacter() - buffer_.get());
    if (pos_ == size_) continue;
    const char c = buffer_[pos_];
    if (c == kCtrlZ) {
      EndAtControlZ();
      return Status::Line;
    }
    ++pos_;
    if (c == '\n') return Status::Line;
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

// A name for a new file beside `path`, different at every call.
std::string TemporaryNameBeside(const std::string& path, unsigned attempt) {
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t mix = (static_cast<std::uint64_t>(::getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
                      (static_cast<std::uint64_t>(now.tv_sec) << 20) ^ (std::uint64_t{attempt} * 0x9E3779B97F4A7C15u);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 8; ++i) {
    mix = mix * 6364136223846793005u + 1442695040888963407u;
    suffix += kLetters[(mix >> 33) % (sizeof kLetters - 1)];
  }
  // Cut so that the name stays within what a directory entry may hold.
  constexpr std::size_t kKeptOfBaseName = 200;
  return DirectoryOf(path) + "/." + BaseNameOf(path).substr(0, kKeptOfBaseName) + "." + suffix;
}

// Creates a file that did not exist, never through a link; -1 when none
// can be made.
int CreateFresh(const std::string& path, std::string& name) {
  constexpr unsigned kAttempts = 64;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryNameBeside(path, attempt);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAndClose(int fd, std::span<const std::uint8_t> bytes) {
  const bool written = WriteAll(fd, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const bool closed = ::close(fd) == 0;
  return written && closed;
}

// A character device is written where it is; anything else at the path is
// only ever replaced.
bool WriteDevice(const std::string& path, std::span<const std::uint8_t> bytes) {
  // Opened without waiting, then written as usual.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
    ::close(fd);
    return false;
  }
  return WriteAndClose(fd, bytes);
}

// One output on its way: its finished file waiting beside it, or (for a
// device) nothing to put in place.
struct PendingOutput {
  enum class Kind { Device, Fresh, Exchanged, Created, Replaced };
  Kind kind = Kind::Fresh;
  std::string temp;  // the new file; once exchanged, the older one
};

bool LeadsToAnInput(const std::string& path, const struct stat& entry, std::span<const FileIdentity> inputs) {
  const auto isInput = [inputs](const FileIdentity& identity) {
    return std::find(inputs.begin(), inputs.end(), identity) != inputs.end();
  };
  if (isInput(FileIdentity{entry.st_dev, entry.st_ino})) return true;
  if (!S_ISLNK(entry.st_mode)) return false;
  const auto target = IdentityOfPath(path);
  return target && isInput(*target);
}

// Puts the finished file in place. An existing file is swapped out and
// deleted afterwards rather than renamed over: ext4 writes a renamed-over
// file's data back at once, which costs a run more than all its other file
// work, and the swap can be undone.
bool PutInPlace(const std::string& path, PendingOutput& output) {
  if (::renameat2(AT_FDCWD, output.temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
    output.kind = PendingOutput::Kind::Exchanged;
    return true;
  }
  if (errno == ENOENT) {
    if (::renameat2(AT_FDCWD, output.temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) return false;
    output.kind = PendingOutput::Kind::Created;
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system that cannot swap: the older file is replaced for good.
  if (::rename(output.temp.c_str(), path.c_str()) != 0) return false;
  output.kind = PendingOutput::Kind::Replaced;
  return true;
}

// Undoes PutInPlace where it can. Where it cannot, the older file is kept
// under the temporary name rather than deleted.
void TakeBack(const std::string& path, PendingOutput& output) {
  using Kind = PendingOutput::Kind;
  if (output.kind == Kind::Exchanged) {
    const bool swapped = ::renameat2(AT_FDCWD, output.temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0;
    output.kind = swapped ? Kind::Fresh : Kind::Replaced;
  } else if (output.kind == Kind::Created && ::rename(path.c_str(), output.temp.c_str()) == 0) {
    output.kind = Kind::Fresh;
  }
}

// Removes what is left beside the outputs: new files not used, older
// files swapped out.
void Discard(const std::vector<PendingOutput>& pending) {
  using Kind = PendingOutput::Kind;
  for (const PendingOutput& output : pending) {
    if (output.kind == Kind::Fresh || output.kind == Kind::Exchanged) ::unlink(output.temp.c_str());
  }
}

}  // namespace

OutputOutcome WriteOutputs(std::span<const OutputFile> outputs, std::span<const FileIdentity> inputs) {
  using Kind = PendingOutput::Kind;
  std::vector<PendingOutput> pending(outputs.size());
  const auto fail = [&pending](OutputStatus status, std::size_t at) {
    Discard(pending);
    return OutputOutcome{status, at};
  };
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    struct stat entry {};
    if (::lstat(outputs[i].path.c_str(), &entry) != 0) continue;
    if (LeadsToAnInput(outputs[i].path, entry, inputs)) return fail(OutputStatus::NamesAnInput, i);
    if (S_ISDIR(entry.st_mode)) return fail(OutputStatus::CannotWrite, i);
    if (S_ISCHR(entry.st_mode)) pending[i].kind = Kind::Device;
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (pending[i].kind == Kind::Device) continue;
    const int fd = CreateFresh(outputs[i].path, pending[i].temp);
    if (fd < 0) {
      pending[i].temp.clear();
      return fail(OutputStatus::CannotWrite, i);
    }
    if (!WriteAndClose(fd, outputs[i].bytes)) return fail(OutputStatus::CannotWrite, i);
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (pending[i].kind == Kind::Device && !WriteDevice(outputs[i].path, outputs[i].bytes)) {
      return fail(OutputStatus::CannotWrite, i);
    }
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (pending[i].kind == Kind::Device || PutInPlace(outputs[i].path, pending[i])) continue;
    for (std::size_t back = i; back-- > 0;) TakeBack(outputs[back].path, pending[back]);
    return fail(OutputStatus::CannotWrite, i);
  }
  Discard(pending);
  return {};
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  const OutputFile output{path, bytes};
  return WriteOutputs(std::span(&output, 1)).status == OutputStatus::Written;
}

InputBytes ReadBinaryFile(const std::string& path, std::uint64_t maxBytes) {
  InputBytes input;
  // Opened without waiting, so that a pipe with no writer cannot hang.
  const UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0) return input;
  input.identity = FileIdentity{st.st_dev, st.st_ino};
  input.size = static_cast<std::uint64_t>(st.st_size);
  if (!S_ISREG(st.st_mode)) {
    input.status = InputBytes::Status::NotRegular;
    return input;
  }
  if (input.size > maxBytes) {
    input.status = InputBytes::Status::TooLarge;
    return input;
  }
  // The file may grow while it is read: never more than the limit.
  input.bytes.resize(static_cast<std::size_t>(input.size) + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == input.bytes.size()) input.bytes.resize(std::min<std::uint64_t>(2 * filled, maxBytes + 1));
    const ssize_t got = ::read(file.Get(), input.bytes.data() + filled, input.bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      input.status = InputBytes::Status::CannotRead;
      return input;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
    if (filled > maxBytes) {
      input.size = filled;
      input.status = InputBytes::Status::TooLarge;
      input.bytes.clear();
      return input;
    }
  }
  input.bytes.resize(filled);
  input.size = filled;
  input.status = InputBytes::Status::Ok;
  return input;
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
