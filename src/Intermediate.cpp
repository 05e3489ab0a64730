#include "Intermediate.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

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

Fitness FitnessOf(const struct stat& st) {
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink > 1) return Fitness::Unfit;
  return st.st_nlink == 0 ? Fitness::Removed : Fitness::Fit;
}

// Tries the lock until `deadline`, in short sleeps that grow to a limit.
bool LockExclusively(int fd, std::chrono::steady_clock::time_point deadline) {
  auto pause = std::chrono::milliseconds(1);
  constexpr auto kLongestPause = std::chrono::milliseconds(50);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(2 * pause, kLongestPause);
  }
}

bool SameEntry(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

IntermediateFile::~IntermediateFile() { Release(); }

bool IntermediateFile::Create() {
  Release();
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    // O_NONBLOCK: a pipe planted under the name must not hang the open.
    const int fd = ::open(kName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat held {};
    Fitness fitness = ::fstat(fd, &held) == 0 ? FitnessOf(held) : Fitness::Unfit;
    if (fitness == Fitness::Fit && !LockExclusively(fd, deadline)) fitness = Fitness::Unfit;
    // Once locked, the name must still lead to this very file: the run
    // that held it may have removed it meanwhile.
    struct stat named {};
    if (fitness == Fitness::Fit) fitness = ::fstat(fd, &held) == 0 ? FitnessOf(held) : Fitness::Unfit;
    if (fitness == Fitness::Fit && (::lstat(kName, &named) != 0 || !SameEntry(named, held))) {
      fitness = Fitness::Removed;
    }
    if (fitness == Fitness::Fit) {
      fd_ = fd;
      identity_ = FileIdentity{held.st_dev, held.st_ino};
      empty_ = held.st_size == 0;
      writer_.Attach(fd_);
      return true;
    }
    ::close(fd);
    if (fitness == Fitness::Unfit) return false;
  }
  return false;
}

std::optional<FileIdentity> IntermediateFile::Identity() const {
  if (fd_ < 0) return std::nullopt;
  return identity_;
}

// A file that is already empty is left alone: on ext4, cutting a file to
// zero length marks it for an immediate write-back when it is closed,
// which would cost the run more than writing it.
bool IntermediateFile::Truncate() {
  if (fd_ < 0) return false;
  if (empty_) return true;
  empty_ = ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0;
  return empty_;
}

bool IntermediateFile::StillNamed() const { return fd_ >= 0 && IdentityOfEntry(kName) == identity_; }

void IntermediateFile::Remove() {
  if (StillNamed()) {
    writer_.Attach(-1);
    ::unlink(kName);
  }
  Release();
}

void IntermediateFile::Release() {
  if (fd_ < 0) return;
  writer_.Flush();
  writer_.Attach(-1);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace torvik
