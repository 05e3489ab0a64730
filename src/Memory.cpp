#include "Memory.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <new>

namespace torvik {

#if defined(_WIN32)
// Committed pages take memory only once they are touched.
ReservedPages::ReservedPages(std::size_t bytes) : size_(bytes) {
  data_ = ::VirtualAlloc(nullptr, size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (data_ == nullptr) throw std::bad_alloc();
}

ReservedPages::~ReservedPages() { ::VirtualFree(data_, 0, MEM_RELEASE); }
#else
ReservedPages::ReservedPages(std::size_t bytes) : size_(bytes) {
  data_ = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (data_ == MAP_FAILED) throw std::bad_alloc();
}

ReservedPages::~ReservedPages() { ::munmap(data_, size_); }
#endif

// Kept out of line: where the compiler sees that a line is short, it copies
// it with a string instruction, which is slow to start for a few bytes.
[[gnu::noinline]] void ReservedText::AppendLong(std::string_view text) {
  std::memcpy(data_ + size_, text.data(), text.size());
  size_ += text.size();
}

}  // namespace torvik
