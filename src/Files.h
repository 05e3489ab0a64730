// File access shared by the assembler and its companion tools: text files
// read with the text-mode rules, buffered writes that notice every failure,
// file identity, and output files that are never left half-written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.h"

namespace torvik {

// The name of the instruction table, which lies beside the program.
inline constexpr const char* kInstructionTableName = "tkinstr.tab";

// The identity of the file a path leads to, following links.
std::optional<FileIdentity> IdentityOfPath(const std::string& path);
// The identity of the directory entry itself: a link is not followed.
std::optional<FileIdentity> IdentityOfEntry(const std::string& path);
std::optional<FileIdentity> IdentityOfFile(NativeFile file);
// Whether the path leads to a regular file.
bool IsRegularFile(const std::string& path);

// Reads until `size` bytes are in or the file ends: from the current
// position, or with `at` from there on, leaving the position where it
// was. The count read, or -1 when a read failed.
std::int64_t ReadAll(NativeFile file, void* into, std::size_t size, std::optional<std::uint64_t> at = std::nullopt);
// Writes all `size` bytes; false when the system would not take them.
bool WriteAll(NativeFile file, const void* from, std::size_t size);

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
  // Reads from a file open elsewhere, from its current position; the file
  // stays open when the reader is done.
  void Adopt(NativeFile file);
  void Close();
  // Hands over the file it opened: the reader goes on reading from it, and
  // the new holder closes it.
  UniqueFile TakeFile() { return std::move(owned_); }
  // Whether the file opened is a regular file, whose bytes can be read
  // again from any place.
  bool IsRegularFile() const { return regular_; }
  // The file's identity, as found when it was opened.
  std::optional<FileIdentity> Identity() const { return identity_ ? identity_ : IdentityOfFile(file_); }
  // How many bytes of the file lie before the current position, counted
  // from where reading started.
  std::uint64_t Offset() const { return chunkStart_ + pos_; }

  // How a line read ended.
  struct LineEnd {
    bool newline = false;  // with its newline, not at the end of the file
    // Its text ran past the limit: `line` holds the first maxChars
    // characters, and the rest of the line is left unread.
    bool tooLong = false;
  };
  // Reads the next line, up to and including its newline (which is not
  // stored), however long it is. A NUL byte ends the line's text: `line`
  // holds what comes before it, and the rest up to the newline is dropped.
  // A text of more than maxChars characters makes the line too long. A file
  // that is not a regular file may never end a line, so there the dropped
  // characters count toward maxChars as well. End: nothing was left to read.
  Status ReadLine(std::string& line, std::size_t maxChars, LineEnd& end);
  // The same as a view: into the reader's own chunk when the line lies
  // whole in it, else into `spill`. Valid until the next read.
  Status ReadLineView(std::string_view& line, std::string& spill, std::size_t maxChars, LineEnd& end);
  // The complete lines from the current position that the chunk holds up
  // to its next carriage return, 0x1A or NUL, with their newlines; they
  // read exactly as they stand. Empty when there is none. Consume moves
  // past what the caller took of them.
  std::string_view PlainRun();
  void Consume(std::size_t count) { pos_ += count; }
  // Discards the rest of the current line, up to and including its newline.
  Status SkipLine();

 private:
  bool Fill();
  // Ends the file at the 0x1A at the current position.
  void EndAtControlZ();
  std::size_t FindInChunk(char c, std::size_t from) const;
  const char* SpecialCharacter();

  NativeFile file_ = kNoFile;
  UniqueFile owned_;  // the file it opened, when it did
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

// Buffered writes to an open file; remembers the first failure.
class TextWriter {
 public:
  TextWriter() = default;
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  void Attach(NativeFile file) {
    file_ = file;
    failed_ = false;
    buffer_.clear();
  }
  void Write(std::string_view text);
  // Writes the text and a newline.
  void WriteLine(std::string_view text);
  // Writes out what is buffered; false when any write so far failed.
  bool Flush();
  bool Failed() const { return failed_; }

 private:
  static constexpr std::size_t kBuffered = 64 * 1024;
  NativeFile file_ = kNoFile;
  bool failed_ = false;
  std::string buffer_;
};

// One file to be written whole.
struct OutputFile {
  std::string path;
  std::span<const std::uint8_t> bytes;
};

enum class OutputStatus { Written, NamesAnInput, CannotWrite };
struct OutputOutcome {
  OutputStatus status = OutputStatus::Written;
  std::size_t failed = 0;  // the output at fault, when not Written
};

// Writes every output or none of them. Each is written whole into a file
// created afresh beside it (exclusively, never through a link, with the
// mode the umask leaves of 0666), and only when all are complete do they
// take their places, one rename each; should one of those fail, those
// already in place are put back. So a link at an output path is replaced
// by the new file and its target is left alone, and an older file stays as
// it was whenever writing fails. A character device at the path (such as
// /dev/null) is written in place, before any file takes its place. An
// output path that leads to one of `inputs`, itself or through a link, is
// refused before anything is written.
OutputOutcome WriteOutputs(std::span<const OutputFile> outputs, std::span<const FileIdentity> inputs = {});
// One output, the same way; false on any failure.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// A file read whole, byte for byte.
struct InputBytes {
  enum class Status { Ok, CannotOpen, NotRegular, TooLarge, CannotRead };
  Status status = Status::CannotOpen;
  std::vector<std::uint8_t> bytes;
  std::optional<FileIdentity> identity;
  std::uint64_t size = 0;  // as found, also for a file too large to read
};
// Reads a regular file of at most maxBytes bytes, checked before it is
// read; anything else (a device, a pipe, a directory) is refused unread.
InputBytes ReadBinaryFile(const std::string& path, std::uint64_t maxBytes);

// A file in the directory of the program started as `programPath`: the
// program path up to its last '/' or '\'; for a bare name, the first
// directory of `searchPath` (the value of PATH, or null when it is unset)
// that holds an executable file of that name, without resolving links,
// where the system finds programs that way; failing that, the directory of
// the running executable.
std::string BesideProgram(const std::string& programPath, const std::string& name, const char* searchPath);

}  // namespace torvik
