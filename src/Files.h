// File access shared by the assembler and its companion tools: text files
// read with the text-mode rules, buffered writes that notice every failure,
// file identity, and output files that are never left half-written.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvik {

// Identity of an open or named file (device and inode).
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOfPath(const std::string& path);
std::optional<FileIdentity> IdentityOfDescriptor(int fd);

// Reads a text file line by line. Every carriage return is dropped and a
// byte 0x1A ends the file, on every platform.
class TextReader {
 public:
  enum class OpenResult { Ok, CannotOpen, IsDirectory };
  enum class Status { Line, End, Error };

  TextReader() = default;
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  OpenResult Open(const std::string& path);
  // Takes over an open descriptor, reading from its current position.
  void Adopt(int fd);
  void Close();
  int Descriptor() const { return fd_; }
  // Hands the descriptor over: the reader goes on reading from it, and the
  // caller closes it.
  int ReleaseDescriptor() {
    owns_ = false;
    return fd_;
  }
  // Whether the file opened is a regular file, whose bytes can be read
  // again from any place.
  bool IsRegularFile() const { return regular_; }
  // The file's identity, as found when it was opened.
  std::optional<FileIdentity> Identity() const { return identity_ ? identity_ : IdentityOfDescriptor(fd_); }
  // How many bytes of the file lie before the current position, counted
  // from where reading started.
  std::uint64_t Offset() const { return chunkStart_ + pos_; }

  // Reads up to maxChars characters of the next line into `line`, stopping
  // after its newline (which is not stored). A newline that directly follows
  // maxChars characters still belongs to that line. `newline` tells whether
  // the line ended with one. End: nothing was left to read.
  Status ReadLine(std::string& line, std::size_t maxChars, bool& newline);
  // The same as a view, cut at its first NUL byte: into the reader's own
  // chunk when the line lies whole in it, else into `spill`. Valid until
  // the next read.
  Status ReadLineView(std::string_view& line, std::string& spill, std::size_t maxChars, bool& newline);
  // The complete lines from the current position that the chunk holds up
  // to its next carriage return, 0x1A or NUL, with their newlines; they
  // read exactly as they stand. Empty when there is none. Consume moves
  // past what the caller took of them.
  std::string_view PlainRun();
  void Consume(std::size_t count) { pos_ += count; }
  // Discards the rest of the current line, up to and including its newline.
  Status SkipLine();

 private:
  // Next character after the text-mode rules, or -1 at the end, -2 on error.
  int Next();
  int Peek();
  bool Fill();
  std::size_t FindInChunk(char c, std::size_t from) const;
  const char* SpecialCharacter();

  int fd_ = -1;
  bool owns_ = false;
  bool regular_ = false;
  std::optional<FileIdentity> identity_;
  std::uint64_t chunkStart_ = 0;  // bytes read before the chunk
  bool ended_ = false;
  bool failed_ = false;
  static constexpr std::size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kChunk);
  std::size_t pos_ = 0;
  std::size_t size_ = 0;
  std::size_t nextReturn_ = 0;  // the next carriage return in the chunk, or size_
  std::size_t nextCtrlZ_ = 0;   // the first 0x1A in the chunk, or size_
  std::size_t nextNul_ = 0;     // the next NUL byte in the chunk, or size_
};

// An open descriptor that is closed with its holder.
class UniqueDescriptor {
 public:
  UniqueDescriptor() = default;
  explicit UniqueDescriptor(int fd) : fd_(fd) {}
  ~UniqueDescriptor();
  UniqueDescriptor(UniqueDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueDescriptor& operator=(UniqueDescriptor&& other) noexcept;
  UniqueDescriptor(const UniqueDescriptor&) = delete;
  UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_ = -1;
};

// Buffered writes to a descriptor; remembers the first failure.
class TextWriter {
 public:
  TextWriter() = default;
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  void Attach(int fd) { fd_ = fd; failed_ = false; buffer_.clear(); }
  void Write(std::string_view text);
  // Writes the text and a newline.
  void WriteLine(std::string_view text);
  // Writes out what is buffered; false when any write so far failed.
  bool Flush();
  bool Failed() const { return failed_; }

 private:
  static constexpr std::size_t kBuffered = 64 * 1024;
  int fd_ = -1;
  bool failed_ = false;
  std::string buffer_;
};

// Writes `bytes` to `path` so that the file is either the complete new
// content or left as it was: the bytes go to a temporary file beside the
// target, which takes its place in one step only when everything was
// written and closed. A target that exists and is not a regular file (a
// device) is written in place. False on any failure, with nothing left
// behind.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The same outcome as WriteFileAtomically, reached with a file that exists
// already: the empty regular file open as `fd` and named `name` receives
// `bytes` and takes the target's place, and `name` is gone. This spares
// creating a file. False when it cannot be done so (another file system,
// a target that is not a regular file, a name that does not lead to `fd`);
// the target is then unchanged and `name` still names the file, which may
// hold some of the bytes (or, should even giving the name back fail, the
// file is deleted).
bool MoveFileInto(int fd, const std::string& name, const std::string& path, const std::vector<std::uint8_t>& bytes);

// Reads a whole file byte for byte; nullopt when it cannot be opened or read
// or is a directory.
std::optional<std::vector<std::uint8_t>> ReadBinaryFile(const std::string& path);

// A file in the directory of the program started as `programPath`: the
// program path up to its last '/' or '\'; for a bare name, the first
// directory of `searchPath` (the value of PATH, or null when it is unset)
// that holds an executable file of that name, without resolving links;
// failing that, the directory of the running executable.
std::string BesideProgram(const std::string& programPath, const std::string& name, const char* searchPath);

// ASCII-only helpers: bytes 128 to 255 are neither letters nor digits.
// Characters of names are told by one table lookup, since the passes ask
// for every character of every name.
enum CharClass : std::uint8_t { kLetterClass = 1, kDigitClass = 2, kUnderscoreClass = 4, kAtClass = 8 };
inline constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 'A'; c <= 'Z'; ++c) classes[static_cast<std::size_t>(c)] = kLetterClass;
  for (int c = 'a'; c <= 'z'; ++c) classes[static_cast<std::size_t>(c)] = kLetterClass;
  for (int c = '0'; c <= '9'; ++c) classes[static_cast<std::size_t>(c)] = kDigitClass;
  classes['_'] = kUnderscoreClass;
  classes['@'] = kAtClass;
  return classes;
}();
inline bool HasCharClass(char c, unsigned classes) {
  return (kCharClasses[static_cast<unsigned char>(c)] & classes) != 0;
}
inline bool IsAsciiLetter(char c) { return HasCharClass(c, kLetterClass); }
inline bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}
// A hash of the text that mixes it eight characters at a time; the texts
// hashed are short names and statements. Each word enters through a full
// 64 by 64 bit product whose halves are folded together, so that every
// character reaches every bit of the result, the low bits a table index
// takes among them: names that differ only in their last characters, as
// numbered ones do, spread as well as any others. A last part shorter than
// eight characters is read as one overlapping word, or, in a text shorter
// than eight, as two overlapping halves or three single characters.
inline std::uint32_t HashText(std::string_view text) {
  __extension__ using Product = unsigned __int128;
  constexpr std::uint64_t kMix = 0xFF51AFD7ED558CCDu;
  const std::size_t n = text.size();
  const char* const p = text.data();
  std::uint64_t hash = n * 0x9E3779B97F4A7C15u;
  const auto mix = [&hash](std::uint64_t word) {
    const Product product = static_cast<Product>(hash ^ word) * kMix;
    hash = static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
  };
  const auto word8 = [p](std::size_t at) {
    std::uint64_t word = 0;
    std::memcpy(&word, p + at, 8);
    return word;
  };
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) mix(word8(i));
    if (i < n) mix(word8(n - 8));
  } else if (n >= 4) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + n - 4, 4);
    mix(std::uint64_t{high} << 32 | low);
  } else if (n > 0) {
    const auto byte = [p](std::size_t at) { return std::uint64_t{static_cast<unsigned char>(p[at])}; };
    mix(byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16);
  }
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

}  // namespace torvik
