// The syntax of source lines as both passes read them: comments, the label
// field, statements split at backslashes, and the head of a directive.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "Files.h"

namespace torvik {

// Cuts the comment (from the first ';') and turns tabs into spaces.
std::string PrepareLine(std::string_view raw);
// The same without copying when the line holds no tab; otherwise the text
// is prepared in `buffer`. The result stays valid while both do.
std::string_view PrepareLine(std::string_view raw, std::string& buffer);

// A label field starts in the first column with anything but a space or '.'.
inline bool HasLabelField(std::string_view line) { return !line.empty() && line[0] != ' ' && line[0] != '.'; }
inline bool EndsLabelField(char c) { return c == ':' || c == '=' || c == ' '; }
std::size_t LabelFieldEnd(std::string_view line);
inline bool IsLabelChar(char c) { return HasCharClass(c, kLetterClass | kDigitClass | kUnderscoreClass | kAtClass); }

// Skips one colon at `pos`, and a second one, which makes the label public.
std::size_t SkipColons(std::string_view line, std::size_t pos, bool& isPublic);

// Calls `visit` with every statement of the line from `pos`, split at each
// backslash and without leading spaces; stops when `visit` returns false,
// and then returns false itself.
// The first character at or after `start` that is not a blank; sources
// indent with runs of blanks, which are passed eight at a time.
inline const char* SkipBlanks(const char* start, const char* end) {
  constexpr std::uint64_t kEightBlanks = 0x2020202020202020u;
  for (std::uint64_t eight = 0; end - start >= 8; start += 8) {
    std::memcpy(&eight, start, 8);
    const std::uint64_t others = eight ^ kEightBlanks;  // a byte not 0: not a blank
    if (others == 0) continue;
    if constexpr (std::endian::native == std::endian::little) {
      return start + (__builtin_ctzll(others) >> 3);
    }
    break;
  }
  while (start < end && *start == ' ') ++start;
  return start;
}

template <typename Visit>
bool ForEachStatement(std::string_view line, std::size_t pos, Visit visit) {
  const char* const end = line.data() + line.size();
  const char* start = line.data() + pos;
  while (start < end) {
    const auto* backslash = static_cast<const char*>(std::memchr(start, '\\', static_cast<std::size_t>(end - start)));
    const char* const stop = backslash != nullptr ? backslash : end;
    start = SkipBlanks(start, stop);
    if (!visit(std::string_view(start, static_cast<std::size_t>(stop - start)))) return false;
    if (backslash == nullptr) break;
    start = backslash + 1;
  }
  return true;
}

// A directive's name (the letters after the '.') and its argument: the text
// after the one character that follows the name, when anything but blanks
// follows it.
struct DirectiveHead {
  std::string_view name;
  bool hasArgument = false;
  std::string_view argument;
};
DirectiveHead ParseDirectiveHead(std::string_view text);

// The symbol name an external declaration collects, and the first problem
// that stopped collecting (0 when none).
struct CollectedName {
  std::string name;
  int error = 0;
  char badChar = 0;
};
CollectedName CollectExternalName(std::string_view argument);

// The file name a binary inclusion names: the text between double quotes,
// or the whole argument when it does not begin with one. `unterminated`
// tells that the closing quote is missing (the name then runs to the end).
std::string BinaryFileName(std::string_view argument, bool& unterminated);

}  // namespace torvik
