// Text as the assembler reads it: ASCII character classes, upper-casing,
// comparison without regard to case, and the hash of names and statements.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace torvik {

// ASCII-only helpers: bytes 128 to 255 are neither letters nor digits.
// Characters of names are told by one table lookup, since the passes ask
// for every character of every name.
enum CharClass : std::uint8_t { kLetterClass = 1, kDigitClass = 2, kUnderscoreClass = 4, kAtClass = 8 };
inline constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 'A'; c <= 'Z'; ++c) classes[static_cast<std::size_t>(c)] = kLetterClass;
  for (int c = 'a'; c <= 'z'; ++c) classes[static_cast<std::size_t>(c)] = kLetterClass;
  for (int c = '0'; c <= '9'; ++c) classes[static_cast<std::size_t>(c)] = kDigitClass;
  classes['_'] = kUnderscoreClass;
  classes['@'] = kAtClass;
  return classes;
}();
inline bool HasCharClass(char c, unsigned classes) {
  return (kCharClasses[static_cast<unsigned char>(c)] & classes) != 0;
}
inline bool IsAsciiLetter(char c) { return HasCharClass(c, kLetterClass); }
inline bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a character as a digit in a base up to 36: the decimal
// digits, then the letters of either case from 10 on; kNotADigit for any
// other character, which is no digit in any base.
inline constexpr std::uint8_t kNotADigit = 99;
inline constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
  std::array<std::uint8_t, 256> values{};
  values.fill(kNotADigit);
  for (int c = '0'; c <= '9'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'a'; c <= 'z'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'Z'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
  return values;
}();
inline int DigitValue(char c) { return kDigitValues[static_cast<unsigned char>(c)]; }

// Blanks are spaces and tabs; the passes read lines whose tabs are spaces
// already.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// The first position at or after `pos` that holds no blank. Most places
// hold none; sources indent with long runs of spaces, which are passed
// eight at a time.
inline std::size_t SkipBlanks(std::string_view text, std::size_t pos) {
  if (pos >= text.size() || !IsBlank(text[pos])) return pos;
  constexpr std::uint64_t kEightSpaces = 0x2020202020202020u;
  for (std::uint64_t eight = 0; pos + 8 <= text.size(); pos += 8) {
    std::memcpy(&eight, text.data() + pos, 8);
    const std::uint64_t others = eight ^ kEightSpaces;  // a byte not 0: no space
    if (others == 0) continue;
    if constexpr (std::endian::native == std::endian::little) {
      pos += static_cast<std::size_t>(std::countr_zero(others) / 8);
    }
    break;
  }
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  return pos;
}

// The byte that a backslash and `selector` stand for in a character
// constant or a string: \" \' \0 and \\; none for any other character.
inline std::optional<std::uint8_t> EscapedByte(char selector) {
  switch (selector) {
    case '"': return 0x22;
    case '\'': return 0x27;
    case '0': return 0x00;
    case '\\': return 0x5C;
    default: return std::nullopt;
  }
}
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}
// A hash of the text that mixes it eight characters at a time; the texts
// hashed are short names and statements. Each word enters through a full
// 64 by 64 bit product whose halves are folded together, so that every
// character reaches every bit of the result, the low bits a table index
// takes among them: names that differ only in their last characters, as
// numbered ones do, spread as well as any others. A last part shorter than
// eight characters is read as one overlapping word, or, in a text shorter
// than eight, as two overlapping halves or three single characters.
inline std::uint32_t HashText(std::string_view text) {
  __extension__ using Product = unsigned __int128;
  constexpr std::uint64_t kMix = 0xFF51AFD7ED558CCDu;
  const std::size_t n = text.size();
  const char* const p = text.data();
  std::uint64_t hash = n * 0x9E3779B97F4A7C15u;
  const auto mix = [&hash](std::uint64_t word) {
    const Product product = static_cast<Product>(hash ^ word) * kMix;
    hash = static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
  };
  const auto word8 = [p](std::size_t at) {
    std::uint64_t word = 0;
    std::memcpy(&word, p + at, 8);
    return word;
  };
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) mix(word8(i));
    if (i < n) mix(word8(n - 8));
  } else if (n >= 4) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + n - 4, 4);
    mix(std::uint64_t{high} << 32 | low);
  } else if (n > 0) {
    const auto byte = [p](std::size_t at) { return std::uint64_t{static_cast<unsigned char>(p[at])}; };
    mix(byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16);
  }
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

}  // namespace torvik
