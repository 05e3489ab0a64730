// Memory taken from the system in whole pages: the address space is
// reserved at once, and a page is only backed once it is written, so a
// store sized for the largest input costs a small one nothing.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace torvik {

// Zero-filled pages of address space that never move.
class ReservedPages {
 public:
  explicit ReservedPages(std::size_t bytes);
  ~ReservedPages();
  ReservedPages(const ReservedPages&) = delete;
  ReservedPages& operator=(const ReservedPages&) = delete;
  void* Data() const { return data_; }

 private:
  void* data_;
  std::size_t size_;
};

// Text appended piece by piece at addresses that never move: the whole
// capacity is reserved as address space at once, and memory is only taken
// as the text grows into it.
class ReservedText {
 public:
  explicit ReservedText(std::size_t capacity) : pages_(capacity), data_(static_cast<char*>(pages_.Data())) {}

  // The caller keeps within the capacity. Most kept lines are short or
  // empty; those are copied with a few moves of fixed size.
  void Append(std::string_view text) {
    const std::size_t n = text.size();
    if (n > 16) {
      AppendLong(text);
      return;
    }
    char* const to = data_ + size_;
    const char* const from = text.data();
    if (n >= 8) {
      CopyFixed<8>(to, from);
      CopyFixed<8>(to + n - 8, from + n - 8);
    } else if (n >= 4) {
      CopyFixed<4>(to, from);
      CopyFixed<4>(to + n - 4, from + n - 4);
    } else if (n > 0) {
      to[0] = from[0];
      to[n / 2] = from[n / 2];
      to[n - 1] = from[n - 1];
    }
    size_ += n;
  }
  // Appends the text and gives the copy, which stays where it is.
  std::string_view Keep(std::string_view text) {
    const char* const kept = data_ + size_;
    Append(text);
    return std::string_view(kept, text.size());
  }
  void Clear() { size_ = 0; }
  char* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  template <std::size_t kSize>
  static void CopyFixed(char* to, const char* from) {
    char bytes[kSize];
    std::memcpy(bytes, from, kSize);
    std::memcpy(to, bytes, kSize);
  }
  void AppendLong(std::string_view text);

  ReservedPages pages_;
  char* data_;
  std::size_t size_ = 0;
};

}  // namespace torvik
