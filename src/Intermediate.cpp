#include "Intermediate.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace torvik {

namespace {

// Another run may delete or replace the file between our open and our lock;
// then the lock is on a file nobody else will use, and we start over.
constexpr int kLockAttempts = 1000;

bool LockExclusively(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

IntermediateFile::~IntermediateFile() { Release(); }

bool IntermediateFile::Create() {
  Release();
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    const int fd = ::open(kName, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (!LockExclusively(fd)) {
      ::close(fd);
      return false;
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    const FileIdentity locked{st.st_dev, st.st_ino};
    if (known && IdentityOfPath(kName) == locked) {
      fd_ = fd;
      identity_ = locked;
      empty_ = st.st_size == 0;
      writer_.Attach(fd_);
      return true;
    }
    ::close(fd);
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

bool IntermediateFile::CanBeOpened() const {
  TextReader reader;
  return reader.Open(kName) == TextReader::OpenResult::Ok && reader.Identity() == Identity();
}

void IntermediateFile::Remove() {
  if (fd_ >= 0 && IdentityOfPath(kName) == Identity()) {
    writer_.Attach(-1);
    ::unlink(kName);
  }
  Release();
}

bool IntermediateFile::BecomeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (fd_ < 0 || !writer_.Flush() || !MoveFileInto(fd_, kName, path, bytes)) return false;
  Release();
  return true;
}

void IntermediateFile::Release() {
  if (fd_ < 0) return;
  writer_.Flush();
  writer_.Attach(-1);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace torvik
