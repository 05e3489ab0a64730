// Text kept for the whole run at addresses that never move.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace torvik {

// Text appended piece by piece at addresses that never move. The whole
// capacity is allocated at once and left unwritten, so the system backs
// its pages only as the text grows into them: a store sized for the
// largest input costs a small one next to nothing.
class ReservedText {
 public:
  explicit ReservedText(std::size_t capacity) : data_(std::make_unique_for_overwrite<char[]>(capacity)) {}

  // The caller keeps within the capacity.
  void Append(std::string_view text) {
    if (text.empty()) return;  // an empty view may point nowhere
    std::memcpy(data_.get() + size_, text.data(), text.size());
    size_ += text.size();
  }
  // Appends the text and gives the copy, which stays where it is.
  std::string_view Keep(std::string_view text) {
    const char* const kept = data_.get() + size_;
    Append(text);
    return std::string_view(kept, text.size());
  }
  void Clear() { size_ = 0; }
  char* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

}  // namespace torvik
