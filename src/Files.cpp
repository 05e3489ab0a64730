#include "Files.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace torvik {

namespace {

constexpr char kCtrlZ = 0x1A;

}  // namespace

std::int64_t ReadAll(NativeFile file, void* into, std::size_t size, std::optional<std::uint64_t> at) {
  auto* const bytes = static_cast<char*>(into);
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t got = at ? platform::ReadAt(file, bytes + done, size - done, *at + done)
                                : platform::Read(file, bytes + done, size - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

bool WriteAll(NativeFile file, const void* from, std::size_t size) {
  const auto* bytes = static_cast<const char*>(from);
  while (size > 0) {
    const std::int64_t written = platform::Write(file, bytes, size);
    if (written <= 0) return false;  // nothing written would loop for ever
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
  const auto status = platform::StatusOfPath(path, true);
  return status ? std::optional(status->identity) : std::nullopt;
}

std::optional<FileIdentity> IdentityOfEntry(const std::string& path) {
  const auto status = platform::StatusOfPath(path, false);
  return status ? std::optional(status->identity) : std::nullopt;
}

std::optional<FileIdentity> IdentityOfFile(NativeFile file) {
  const auto status = platform::StatusOf(file);
  return status ? std::optional(status->identity) : std::nullopt;
}

bool IsRegularFile(const std::string& path) {
  const auto status = platform::StatusOfPath(path, true);
  return status && status->kind == FileKind::Regular;
}

TextReader::~TextReader() { Close(); }

TextReader::OpenResult TextReader::Open(const std::string& path) {
  Close();
  UniqueFile file = platform::Open(path, platform::OpenFor::Reading);
  if (!file.IsOpen()) return OpenResult::CannotOpen;
  const auto status = platform::StatusOf(file.Get());
  if (!status) return OpenResult::CannotOpen;
  if (status->kind == FileKind::Directory) return OpenResult::IsDirectory;
  Adopt(file.Get());
  owned_ = std::move(file);
  regular_ = status->kind == FileKind::Regular;
  identity_ = status->identity;
  return OpenResult::Ok;
}

void TextReader::Adopt(NativeFile file) {
  Close();
  file_ = file;
  regular_ = false;
  identity_.reset();
  ended_ = failed_ = false;
  pos_ = size_ = 0;
  chunkStart_ = 0;
}

void TextReader::Close() {
  owned_.Close();
  file_ = kNoFile;
}

bool TextReader::Fill() {
  if (ended_ || failed_ || file_ == kNoFile) return false;
  const std::int64_t got = platform::Read(file_, buffer_.get(), kChunk);
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
  // The last newline lies near the end of what is looked at, so the
  // search from the end is short.
  const std::string_view text(buffer_.get() + pos_, limit - pos_);
  const std::size_t last = text.rfind('\n');
  if (last == std::string_view::npos) return {};
  return text.substr(0, last + 1);
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

TextWriter::~TextWriter() { Flush(); }

void TextWriter::Write(std::string_view text) {
  if (text.size() >= kBuffered) {
    // Large pieces go straight out rather than through the buffer.
    Flush();
    if (!failed_ && (file_ == kNoFile || !WriteAll(file_, text.data(), text.size()))) failed_ = true;
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
    if (!failed_ && (file_ == kNoFile || !WriteAll(file_, buffer_.data(), buffer_.size()))) failed_ = true;
    buffer_.clear();
  }
  return !failed_;
}

namespace {

// A name for a new file beside `path`, different at every call.
std::string TemporaryNameBeside(const std::string& path, unsigned attempt) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto nanoseconds =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  std::uint64_t mix = (platform::ProcessNumber() << 32) ^ nanoseconds ^ (std::uint64_t{attempt} * 0x9E3779B97F4A7C15u);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 8; ++i) {
    mix = mix * 6364136223846793005u + 1442695040888963407u;
    suffix += kLetters[(mix >> 33) % (sizeof kLetters - 1)];
  }
  // Cut so that the name stays within what a directory entry may hold.
  constexpr std::size_t kKeptOfBaseName = 200;
  const std::size_t nameStart = platform::FileNameStart(path);
  return path.substr(0, nameStart) + "." + path.substr(nameStart, kKeptOfBaseName) + "." + suffix;
}

// Creates a file that did not exist, never through a link; not open when
// none can be made.
UniqueFile CreateFresh(const std::string& path, std::string& name) {
  constexpr unsigned kAttempts = 64;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryNameBeside(path, attempt);
    platform::OpenFailure failure = platform::OpenFailure::None;
    UniqueFile file = platform::Open(name, platform::OpenFor::CreatingNew, &failure);
    if (file.IsOpen() || failure != platform::OpenFailure::NameTaken) return file;
  }
  return {};
}

bool WriteAndClose(UniqueFile file, std::span<const std::uint8_t> bytes) {
  const bool written = WriteAll(file.Get(), bytes.data(), bytes.size());
  const bool closed = file.Close();
  return written && closed;
}

// One output on its way: its finished file waiting beside it, or (for a
// device) nothing to put in place.
struct PendingOutput {
  enum class Kind { Device, Fresh, Exchanged, Created, Replaced };
  Kind kind = Kind::Fresh;
  std::string temp;  // the new file; once exchanged, the older one
};

bool LeadsToAnInput(const std::string& path, const FileStatus& entry, std::span<const FileIdentity> inputs) {
  const auto isInput = [inputs](const FileIdentity& identity) {
    return std::find(inputs.begin(), inputs.end(), identity) != inputs.end();
  };
  if (isInput(entry.identity)) return true;
  if (entry.kind != FileKind::Link) return false;
  const auto target = IdentityOfPath(path);
  return target && isInput(*target);
}

// Puts the finished file in place. An existing file is swapped out and
// deleted afterwards rather than renamed over: ext4 writes a renamed-over
// file's data back at once, which costs a run more than all its other file
// work, and the swap can be undone.
bool PutInPlace(const std::string& path, PendingOutput& output) {
  using Kind = PendingOutput::Kind;
  switch (platform::Swap(output.temp, path)) {
    case platform::SwapResult::Swapped: output.kind = Kind::Exchanged; return true;
    case platform::SwapResult::TargetMissing:
      if (!platform::RenameNew(output.temp, path)) return false;
      output.kind = Kind::Created;
      return true;
    case platform::SwapResult::CannotSwap:
      // A file system that cannot swap: the older file is replaced for good.
      if (!platform::RenameReplacing(output.temp, path)) return false;
      output.kind = Kind::Replaced;
      return true;
    case platform::SwapResult::Failed: break;
  }
  return false;
}

// Undoes PutInPlace where it can. Where it cannot, the older file is kept
// under the temporary name rather than deleted.
void TakeBack(const std::string& path, PendingOutput& output) {
  using Kind = PendingOutput::Kind;
  if (output.kind == Kind::Exchanged) {
    const bool swapped = platform::Swap(output.temp, path) == platform::SwapResult::Swapped;
    output.kind = swapped ? Kind::Fresh : Kind::Replaced;
  } else if (output.kind == Kind::Created && platform::RenameNew(path, output.temp)) {
    output.kind = Kind::Fresh;
  }
}

// Removes what is left beside the outputs: new files not used, older
// files swapped out.
void Discard(const std::vector<PendingOutput>& pending) {
  using Kind = PendingOutput::Kind;
  for (const PendingOutput& output : pending) {
    if (output.kind == Kind::Fresh || output.kind == Kind::Exchanged) platform::Remove(output.temp);
  }
}

// A character device is written where it is.
bool WriteDevice(const std::string& path, std::span<const std::uint8_t> bytes) {
  UniqueFile device = platform::Open(path, platform::OpenFor::WritingDevice);
  return device.IsOpen() && WriteAndClose(std::move(device), bytes);
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
    const auto entry = platform::StatusOfPath(outputs[i].path, false);
    if (!entry) continue;
    if (LeadsToAnInput(outputs[i].path, *entry, inputs)) return fail(OutputStatus::NamesAnInput, i);
    if (entry->kind == FileKind::Directory) return fail(OutputStatus::CannotWrite, i);
    if (entry->kind == FileKind::CharacterDevice) pending[i].kind = Kind::Device;
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (pending[i].kind == Kind::Device) continue;
    UniqueFile file = CreateFresh(outputs[i].path, pending[i].temp);
    if (!file.IsOpen()) {
      pending[i].temp.clear();
      return fail(OutputStatus::CannotWrite, i);
    }
    if (!WriteAndClose(std::move(file), outputs[i].bytes)) return fail(OutputStatus::CannotWrite, i);
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
  const UniqueFile file = platform::Open(path, platform::OpenFor::ReadingWithoutWaiting);
  const auto status = file.IsOpen() ? platform::StatusOf(file.Get()) : std::nullopt;
  if (!status) return input;
  input.identity = status->identity;
  input.size = status->size;
  if (status->kind != FileKind::Regular) {
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
    const std::int64_t got = ReadAll(file.Get(), input.bytes.data() + filled, input.bytes.size() - filled);
    if (got < 0) {
      input.status = InputBytes::Status::CannotRead;
      return input;
    }
    filled += static_cast<std::size_t>(got);
    if (filled > maxBytes) {
      input.size = filled;
      input.status = InputBytes::Status::TooLarge;
      input.bytes.clear();
      return input;
    }
    if (filled < input.bytes.size()) break;
    input.bytes.resize(std::min<std::uint64_t>(2 * filled, maxBytes + 1));
  }
  input.bytes.resize(filled);
  input.size = filled;
  input.status = InputBytes::Status::Ok;
  return input;
}

std::string BesideProgram(const std::string& programPath, const std::string& name, const char* searchPath) {
  const auto separator = programPath.find_last_of("/\\");
  if (separator != std::string::npos) return programPath.substr(0, separator + 1) + name;
  if (const auto directory = platform::DirectoryOnSearchPath(programPath, searchPath)) return *directory + name;
  const std::string executable = platform::ExecutablePath();
  if (executable.empty()) return name;
  return executable.substr(0, platform::FileNameStart(executable)) + name;
}

}  // namespace torvik
