// The platform unit on Windows: the wide-character calls of the Win32 API,
// every path name turned from UTF-8 into UTF-16 on its way in and every
// name the system gives turned back into UTF-8.
// windows.h first: the other system headers build on its definitions.
#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "Platform.h"

namespace torvik {

namespace {

HANDLE Handle(NativeFile file) { return reinterpret_cast<HANDLE>(file); }
NativeFile Native(HANDLE handle) { return reinterpret_cast<NativeFile>(handle); }

// Others may read, write, rename and delete a file while it is open, as on
// POSIX systems.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What one call reads or writes at most.
constexpr std::size_t kLargestTransfer = 1u << 30;

// The UTF-16 form of a UTF-8 text; none for bytes that are not UTF-8, which
// then name no file.
std::optional<std::wstring> Wide(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

HANDLE CreateByName(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
  const auto wide = Wide(path);
  if (!wide) {
    ::SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileW(wide->c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
}

// Whether the last call failed because its file is deleted but still
// open elsewhere: its name is then taken until the last holder closes it.
bool LastFailureWasDeletePending() {
  using LastStatus = LONG(WINAPI*)();
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto lastStatus =
      ntdll ? reinterpret_cast<LastStatus>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetLastNtStatus")))
            : nullptr;
  constexpr LONG kDeletePending = static_cast<LONG>(0xC0000056);
  return lastStatus != nullptr && lastStatus() == kDeletePending;
}

platform::OpenFailure FailureOf(DWORD error) {
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return platform::OpenFailure::NameTaken;
  if (error == ERROR_ACCESS_DENIED && LastFailureWasDeletePending()) return platform::OpenFailure::Busy;
  return platform::OpenFailure::Other;
}

// A link is a reparse point that stands for another name (a symbolic link,
// a junction); other reparse points are files handled by the system.
bool IsLink(HANDLE handle, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  return !::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

// A SID from the process's token: its user, or the owner its new files get.
std::unique_ptr<char[]> TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS which) {
  DWORD size = 0;
  ::GetTokenInformation(token, which, nullptr, 0, &size);
  if (size == 0) return nullptr;
  auto buffer = std::make_unique<char[]>(size);
  if (!::GetTokenInformation(token, which, buffer.get(), size, &size)) return nullptr;
  return buffer;
}

bool Move(const std::string& from, const std::string& to, DWORD flags) {
  const auto wideFrom = Wide(from);
  const auto wideTo = Wide(to);
  return wideFrom && wideTo && ::MoveFileExW(wideFrom->c_str(), wideTo->c_str(), flags);
}

}  // namespace

bool UniqueFile::Close() {
  if (file_ == kNoFile) return true;
  const bool closed = ::CloseHandle(Handle(file_));
  file_ = kNoFile;
  return closed;
}

namespace platform {

namespace {

// A character device, such as NUL; anything else is refused.
UniqueFile OpenDevice(const std::string& path) {
  UniqueFile device(Native(CreateByName(path, GENERIC_WRITE, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT)));
  if (!device.IsOpen() || ::GetFileType(Handle(device.Get())) == FILE_TYPE_CHAR) return device;
  return {};
}

}  // namespace

UniqueFile Open(const std::string& path, OpenFor purpose, OpenFailure* failure) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  switch (purpose) {
    case OpenFor::Reading:
    case OpenFor::ReadingWithoutWaiting:
      // A directory opens too, so that it can be told apart.
      handle = CreateByName(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS);
      break;
    case OpenFor::WritingDevice: {
      UniqueFile device = OpenDevice(path);
      if (failure != nullptr) *failure = device.IsOpen() ? OpenFailure::None : OpenFailure::Other;
      return device;
    }
    case OpenFor::CreatingNew:
      handle = CreateByName(path, GENERIC_WRITE | DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
      break;
    case OpenFor::Updating:
      // A link at the name is opened itself, and then refused by its kind.
      handle = CreateByName(path, GENERIC_READ | GENERIC_WRITE | DELETE, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
      break;
  }
  if (failure != nullptr) {
    *failure = handle != INVALID_HANDLE_VALUE ? OpenFailure::None : FailureOf(::GetLastError());
  }
  return UniqueFile(Native(handle));
}

UniqueFile OpenAnonymous() {
  wchar_t directory[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, directory);
  if (length == 0 || length > MAX_PATH) return {};
  constexpr unsigned kAttempts = 64;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    const std::wstring name = std::wstring(directory) + L"torvik-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(attempt) + L".tmp";
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return UniqueFile(Native(handle));
    if (::GetLastError() != ERROR_FILE_EXISTS) return {};
  }
  return {};
}

std::optional<FileStatus> StatusOf(NativeFile file) {
  const HANDLE handle = Handle(file);
  FileStatus status;
  ::SetLastError(NO_ERROR);
  switch (::GetFileType(handle)) {
    case FILE_TYPE_DISK: break;
    case FILE_TYPE_CHAR: status.kind = FileKind::CharacterDevice; return status;
    case FILE_TYPE_UNKNOWN:
      if (::GetLastError() != NO_ERROR) return std::nullopt;
      return status;
    default: return status;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return std::nullopt;
  if (IsLink(handle, info.dwFileAttributes)) {
    status.kind = FileKind::Link;
  } else {
    status.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
  }
  status.identity = {info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
  status.size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  status.links = info.nNumberOfLinks;
  FILE_STANDARD_INFO standard{};
  if (::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) && standard.DeletePending) {
    status.links = 0;
  }
  return status;
}

std::optional<FileStatus> StatusOfPath(const std::string& path, bool followLinks) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const UniqueFile file(Native(CreateByName(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, flags)));
  if (!file.IsOpen()) return std::nullopt;
  return StatusOf(file.Get());
}

// A file system that keeps no owners (FAT) has nothing to tell: its files
// are anyone's, and so this user's.
bool OwnedByUser(NativeFile file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD result = ::GetSecurityInfo(Handle(file), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                         nullptr, nullptr, &descriptor);
  const std::unique_ptr<void, decltype(&::LocalFree)> held(descriptor, &::LocalFree);
  if (result == ERROR_NOT_SUPPORTED || (result == ERROR_SUCCESS && owner == nullptr)) return true;
  if (result != ERROR_SUCCESS) return false;
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
  const UniqueFile token(Native(opened));  // closed as any handle is
  const auto user = TokenSid(opened, TokenUser);
  const auto defaultOwner = TokenSid(opened, TokenOwner);
  return (user && ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid)) ||
         (defaultOwner && ::EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(defaultOwner.get())->Owner));
}

std::int64_t Read(NativeFile file, void* into, std::size_t size) {
  DWORD got = 0;
  if (::ReadFile(Handle(file), into, static_cast<DWORD>(std::min(size, kLargestTransfer)), &got, nullptr)) return got;
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe whose writer is gone has ended
}

std::int64_t ReadAt(NativeFile file, void* into, std::size_t size, std::uint64_t offset) {
  const HANDLE handle = Handle(file);
  LARGE_INTEGER here{};
  if (!::SetFilePointerEx(handle, LARGE_INTEGER{}, &here, FILE_CURRENT)) return -1;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const bool read = ::ReadFile(handle, into, static_cast<DWORD>(std::min(size, kLargestTransfer)), &got, &at);
  const DWORD error = ::GetLastError();
  // A read at a place moves a handle's position too; it is put back.
  if (!::SetFilePointerEx(handle, here, nullptr, FILE_BEGIN)) return -1;
  if (read) return got;
  return error == ERROR_HANDLE_EOF ? 0 : -1;
}

std::int64_t Write(NativeFile file, const void* from, std::size_t size) {
  DWORD written = 0;
  if (!::WriteFile(Handle(file), from, static_cast<DWORD>(std::min(size, kLargestTransfer)), &written, nullptr)) {
    return -1;
  }
  return written;
}

bool Rewind(NativeFile file) { return ::SetFilePointerEx(Handle(file), LARGE_INTEGER{}, nullptr, FILE_BEGIN); }

std::optional<std::uint64_t> SizeBySeeking(NativeFile file) {
  LARGE_INTEGER end{};
  if (!::SetFilePointerEx(Handle(file), LARGE_INTEGER{}, &end, FILE_END) || !Rewind(file)) return std::nullopt;
  return static_cast<std::uint64_t>(end.QuadPart);
}

bool Truncate(NativeFile file) { return Rewind(file) && ::SetEndOfFile(Handle(file)); }

LockResult TryLock(NativeFile file) {
  OVERLAPPED whole{};
  if (::LockFileEx(Handle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    return LockResult::Locked;
  }
  return ::GetLastError() == ERROR_LOCK_VIOLATION ? LockResult::Busy : LockResult::Failed;
}

void Unlock(NativeFile file) {
  OVERLAPPED whole{};
  ::UnlockFileEx(Handle(file), 0, MAXDWORD, MAXDWORD, &whole);
}

void Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool Remove(const std::string& path) {
  const auto wide = Wide(path);
  return wide && ::DeleteFileW(wide->c_str());
}

// The name goes at once where the file system can (others may still hold
// the file open); elsewhere when the last holder closes it.
bool RemoveOpen(NativeFile file, const std::string&) {
  // Windows 10's extended disposition, spelled out for headers that only
  // declare it for that version.
  constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
  constexpr DWORD kDelete = 0x1;
  constexpr DWORD kPosixSemantics = 0x2;
  DWORD atOnce = kDelete | kPosixSemantics;
  if (::SetFileInformationByHandle(Handle(file), kDispositionInfoEx, &atOnce, sizeof atOnce)) return true;
  FILE_DISPOSITION_INFO onClose{TRUE};
  return ::SetFileInformationByHandle(Handle(file), FileDispositionInfo, &onClose, sizeof onClose);
}

// Windows has no exchange of two names in one step.
SwapResult Swap(const std::string&, const std::string& to) {
  const auto wide = Wide(to);
  if (!wide) return SwapResult::Failed;
  if (::GetFileAttributesW(wide->c_str()) == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    return SwapResult::TargetMissing;
  }
  return SwapResult::CannotSwap;
}

bool RenameNew(const std::string& from, const std::string& to) { return Move(from, to, 0); }

bool RenameReplacing(const std::string& from, const std::string& to) {
  return Move(from, to, MOVEFILE_REPLACE_EXISTING);
}

std::size_t FileNameStart(std::string_view path) {
  const auto separator = path.find_last_of("/\\");
  if (separator != std::string_view::npos) return separator + 1;
  const bool drive =
      path.size() >= 2 && path[1] == ':' && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return drive ? 2 : 0;
}

std::uint64_t ProcessNumber() { return ::GetCurrentProcessId(); }

std::string ExecutablePath() {
  constexpr DWORD kLongestPath = 32768;
  for (DWORD size = MAX_PATH; size <= kLongestPath; size *= 2) {
    std::wstring path(size, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) return {};
    if (length < size) return Narrow(std::wstring_view(path.data(), length));
  }
  return {};
}

// Windows finds a program by its own rules (its directory, the current
// one, the system's, PATH with PATHEXT); the executable's path says where.
std::optional<std::string> DirectoryOnSearchPath(const std::string&, const char*) { return std::nullopt; }

ProgramArguments::ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* const wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) texts_.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
  } else {
    texts_.assign(argv, argv + argc);
  }
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}

void UseBinaryStandardStreams() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

}  // namespace platform
}  // namespace torvik
