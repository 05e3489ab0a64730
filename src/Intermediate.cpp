#include "Intermediate.h"

#include <algorithm>
#include <chrono>

namespace torvik {

namespace {

// Another run may delete or replace the file between our open and our lock;
// then the lock is on a file nobody else will use, and we start over.
constexpr int kLockAttempts = 1000;

// A file fit for use is a regular file of this user with no other name:
// neither a link (refused when opening), nor a device, pipe or directory,
// nor another user's file, nor a second name of some file elsewhere. A
// file without a name was removed by the run that held it; its name may
// lead to a new one.
enum class Fitness { Fit, Removed, Unfit };

Fitness FitnessOf(NativeFile file, const std::optional<FileStatus>& status) {
  if (!status || status->kind != FileKind::Regular || status->links > 1 || !platform::OwnedByUser(file)) {
    return Fitness::Unfit;
  }
  return status->links == 0 ? Fitness::Removed : Fitness::Fit;
}

using Clock = std::chrono::steady_clock;

// Waits a moment before the next try, in pauses that grow to a limit;
// false once the deadline has passed.
bool PauseUntil(Clock::time_point deadline, std::uint32_t& pause) {
  constexpr std::uint32_t kLongestPause = 50;
  if (Clock::now() >= deadline) return false;
  platform::Pause(pause);
  pause = std::min(2 * pause, kLongestPause);
  return true;
}

// Tries the lock until `deadline`.
bool LockExclusively(NativeFile file, Clock::time_point deadline) {
  std::uint32_t pause = 1;
  for (;;) {
    const platform::LockResult result = platform::TryLock(file);
    if (result == platform::LockResult::Locked) return true;
    if (result == platform::LockResult::Failed || !PauseUntil(deadline, pause)) return false;
  }
}

}  // namespace

IntermediateFile::~IntermediateFile() { Release(); }

bool IntermediateFile::Create() {
  Release();
  const auto deadline = Clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
  std::uint32_t pause = 1;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    platform::OpenFailure failure = platform::OpenFailure::None;
    UniqueFile file = platform::Open(kIntermediateName, platform::OpenFor::Updating, &failure);
    if (!file.IsOpen()) {
      // A file on its way out still holds the name for a moment.
      if (failure == platform::OpenFailure::Busy && PauseUntil(deadline, pause)) continue;
      return false;
    }
    std::optional<FileStatus> held = platform::StatusOf(file.Get());
    Fitness fitness = FitnessOf(file.Get(), held);
    if (fitness == Fitness::Fit && !LockExclusively(file.Get(), deadline)) fitness = Fitness::Unfit;
    // Once locked, the name must still lead to this very file: the run
    // that held it may have removed it meanwhile.
    if (fitness == Fitness::Fit) {
      held = platform::StatusOf(file.Get());
      fitness = FitnessOf(file.Get(), held);
    }
    if (fitness == Fitness::Fit && IdentityOfEntry(kIntermediateName) != held->identity) fitness = Fitness::Removed;
    if (fitness == Fitness::Fit) {
      file_ = std::move(file);
      identity_ = held->identity;
      empty_ = held->size == 0;
      writer_.Attach(file_.Get());
      return true;
    }
    if (fitness == Fitness::Unfit) return false;
  }
  return false;
}

std::optional<FileIdentity> IntermediateFile::Identity() const {
  if (!file_.IsOpen()) return std::nullopt;
  return identity_;
}

// A file that is already empty is left alone: on ext4, cutting a file to
// zero length marks it for an immediate write-back when it is closed,
// which would cost the run more than writing it.
bool IntermediateFile::Truncate() {
  if (!file_.IsOpen()) return false;
  if (empty_) return true;
  empty_ = platform::Truncate(file_.Get());
  return empty_;
}

bool IntermediateFile::StillNamed() const { return file_.IsOpen() && IdentityOfEntry(kIntermediateName) == identity_; }

void IntermediateFile::Remove() {
  if (StillNamed()) {
    writer_.Attach(kNoFile);
    platform::RemoveOpen(file_.Get(), kIntermediateName);
  }
  Release();
}

void IntermediateFile::Release() {
  if (!file_.IsOpen()) return;
  writer_.Flush();
  writer_.Attach(kNoFile);
  platform::Unlock(file_.Get());
  file_.Close();
}

void DeferredText::Clear() {
  pieces_.clear();
  files_.clear();
}

void DeferredText::KeepFile(int fileIndex, UniqueFile file) {
  const auto index = static_cast<std::size_t>(fileIndex);
  if (files_.size() <= index) files_.resize(index + 1);
  files_[index] = std::move(file);
}

void DeferredText::AddFromFile(int fileIndex, std::uint64_t offset, std::uint64_t length) {
  if (!pieces_.empty() && pieces_.back().fileIndex == fileIndex &&
      pieces_.back().offset + pieces_.back().length == offset) {
    pieces_.back().length += length;
  } else {
    pieces_.push_back({fileIndex, offset, length});
  }
}

bool DeferredText::MoveTo(TextWriter& out) {
  bool complete = true;
  for (const Piece& piece : pieces_) {
    if (!WriteFromFile(piece, out)) {
      complete = false;  // what was read so far still goes out
      break;
    }
  }
  pieces_.clear();
  return out.Flush() && complete;
}

namespace {

// Writes bytes of a source as a text read takes them: carriage returns are
// dropped, and from a NUL on the rest of its line. `dropping` carries a
// line that goes on into the next call.
class TextFilter {
 public:
  explicit TextFilter(TextWriter& out) : out_(out) {}
  void Write(std::string_view bytes) {
    // The next carriage return and NUL, each found again once passed.
    const auto find = [bytes](char c, std::size_t from) { return std::min(bytes.find(c, from), bytes.size()); };
    std::size_t nextReturn = find('\r', 0);
    std::size_t nextNul = find('\0', 0);
    for (std::size_t pos = 0; pos < bytes.size();) {
      if (dropping_) {
        pos = bytes.find('\n', pos);
        if (pos == std::string_view::npos) return;
        dropping_ = false;
      }
      if (nextReturn < pos) nextReturn = find('\r', pos);
      if (nextNul < pos) nextNul = find('\0', pos);
      const std::size_t stop = std::min(nextReturn, nextNul);
      out_.Write(bytes.substr(pos, stop - pos));
      if (stop == bytes.size()) return;
      dropping_ = bytes[stop] == '\0';
      pos = stop + 1;
    }
  }

 private:
  TextWriter& out_;
  bool dropping_ = false;
};

}  // namespace

bool DeferredText::WriteFromFile(const Piece& piece, TextWriter& out) const {
  const NativeFile file = files_[static_cast<std::size_t>(piece.fileIndex)].Get();
  std::vector<char> buffer(std::min<std::uint64_t>(piece.length, 64 * 1024));
  TextFilter filter(out);
  char last = '\n';
  for (std::uint64_t done = 0; done < piece.length;) {
    const std::size_t want = std::min<std::uint64_t>(buffer.size(), piece.length - done);
    const std::int64_t got = ReadAll(file, buffer.data(), want, piece.offset + done);
    if (got <= 0) return false;
    filter.Write(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    last = buffer[static_cast<std::size_t>(got) - 1];
    done += static_cast<std::uint64_t>(got);
    if (static_cast<std::size_t>(got) < want) return false;  // the file was cut short since it was read
  }
  // The last line of a file that does not end with a newline gets one.
  if (last != '\n') out.Write("\n");
  return true;
}

}  // namespace torvik
