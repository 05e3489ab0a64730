#include "Memory.h"

#include <sys/mman.h>

#include <new>

namespace torvik {

ReservedPages::ReservedPages(std::size_t bytes) : size_(bytes) {
  data_ = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (data_ == MAP_FAILED) throw std::bad_alloc();
}

ReservedPages::~ReservedPages() { ::munmap(data_, size_); }

// Kept out of line: where the compiler sees that a line is short, it copies
// it with a string instruction, which is slow to start for a few bytes.
[[gnu::noinline]] void ReservedText::AppendLong(std::string_view text) {
  std::memcpy(data_ + size_, text.data(), text.size());
  size_ += text.size();
}

}  // namespace torvik
