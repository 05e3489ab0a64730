#include "Archive.h"

#include <string_view>

namespace torvik::tools {

namespace {

constexpr std::string_view kMagic = "!<arch>\n";
constexpr std::size_t kHeaderBytes = 60;
constexpr std::size_t kNameBytes = 16;
constexpr std::size_t kSizeAt = 48;
constexpr std::size_t kSizeBytes = 10;
constexpr std::string_view kHeaderEnd = "`\n";

std::string_view Field(std::string_view header, std::size_t at, std::size_t length) {
  std::string_view field = header.substr(at, length);
  const auto end = field.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : field.substr(0, end + 1);
}

// A decimal size, padded with blanks; nothing else is allowed.
bool ParseSize(std::string_view text, std::size_t& size) {
  if (text.empty()) return false;
  size = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    size = size * 10 + static_cast<std::size_t>(c - '0');
  }
  return true;
}

class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes)
      : text_(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {}

  ArchiveReadResult Run() {
    result_.ok = Members();
    if (!result_.ok) result_.members.clear();
    return result_;
  }

 private:
  bool Members() {
    if (text_.size() > kMaxArchiveBytes) return Fail("archive is larger than 64 MiB", 0);
    if (!text_.starts_with(kMagic)) return Fail("no archive magic line", 0);
    std::size_t at = kMagic.size();
    while (at < text_.size()) {
      if (!Member(at)) return false;
    }
    return true;
  }

  bool Fail(std::string error, std::size_t offset) {
    result_.error = std::move(error);
    result_.errorOffset = offset;
    return false;
  }

  // Reads the member whose header starts at `at` and moves past it and its
  // padding byte; false on a fault.
  bool Member(std::size_t& at) {
    if (text_.size() - at < kHeaderBytes) return Fail("archive ends inside a member header", at);
    const std::string_view header = text_.substr(at, kHeaderBytes);
    if (header.substr(kHeaderBytes - kHeaderEnd.size()) != kHeaderEnd) {
      return Fail("member header does not end with its two closing characters", at + 58);
    }
    std::size_t size = 0;
    if (!ParseSize(Field(header, kSizeAt, kSizeBytes), size)) return Fail("member size is not a number", at + kSizeAt);
    const std::size_t data = at + kHeaderBytes;
    if (size > text_.size() - data) return Fail("archive ends inside a member", at + kSizeAt);
    const std::string_view content = text_.substr(data, size);
    if (!Take(Field(header, 0, kNameBytes), content, data, at)) return false;
    at = data + size + (size % 2);
    return true;
  }

  bool Take(std::string_view rawName, std::string_view content, std::size_t data, std::size_t header) {
    if (rawName == "/" || rawName == "/SYM64/" || rawName.starts_with("__.SYMDEF")) return true;
    if (rawName == "//") {
      longNames_ = content;
      return true;
    }
    std::string name;
    if (!Name(rawName, name, header)) return false;
    result_.members.push_back({name, data, {content.begin(), content.end()}});
    return true;
  }

  bool Name(std::string_view rawName, std::string& name, std::size_t header) {
    if (rawName.starts_with("#1/")) return Fail("member names of the BSD kind are not read", header);
    if (rawName.size() > 1 && rawName.front() == '/') {
      std::size_t offset = 0;
      if (!ParseSize(rawName.substr(1), offset) || offset >= longNames_.size()) {
        return Fail("member name refers outside the long-name table", header);
      }
      const std::string_view rest = longNames_.substr(offset);
      rawName = rest.substr(0, rest.find('\n'));
    }
    if (rawName.ends_with('/')) rawName.remove_suffix(1);
    if (rawName.empty()) return Fail("member has no name", header);
    name = rawName;
    return true;
  }

  std::string_view text_;
  std::string_view longNames_;
  ArchiveReadResult result_;
};

}  // namespace

bool IsArchive(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= kMagic.size() &&
         std::string_view(reinterpret_cast<const char*>(bytes.data()), kMagic.size()) == kMagic;
}

ArchiveReadResult ReadArchive(const std::vector<std::uint8_t>& bytes) { return Reader(bytes).Run(); }

}  // namespace torvik::tools
