// Fixed capacities of one assembly run, in one place. Every store into a
// bounded structure is checked against one of these before it happens.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik {

// Source and table lines: at most this many characters before the newline;
// a line of kMaxLineLength + 1 or more characters is refused.
inline constexpr std::size_t kMaxLineLength = 1022;
// Characters a line read takes at most (one more than a line may hold, so
// that an over-long line is recognised).
inline constexpr std::size_t kLineReadLimit = kMaxLineLength + 1;

// Label and symbol names.
inline constexpr std::size_t kMaxNameLength = 63;

// File names, in the include list and on the command line.
inline constexpr std::size_t kMaxFileNameLength = 255;

// Message text, full diagnostic line and progress line.
inline constexpr std::size_t kMaxMessageLength = 255;

// Preprocessor: at most this many recorded files (the next is refused and
// the message shows kMaxFiles + 1) and intermediate lines (likewise).
inline constexpr int kMaxFiles = 255;
inline constexpr int kMaxIntermediateLines = 65534;
// Source lines the preprocessor takes: at most this many characters before
// the newline (or before a NUL); a longer line is refused.
inline constexpr std::size_t kMaxSourceLineLength = 65534;

// Symbol table entries.
inline constexpr int kMaxSymbols = 16384;

// Instruction table: the loader stores at most kMaxTableRows rows; the next
// one is refused and the message shows kMaxTableRows + 1.
inline constexpr int kMaxTableRows = 599;
inline constexpr int kMaxOpcodeBytes = 8;
inline constexpr int kMaxInstructionLength = 8;

// Object image.
inline constexpr int kMaxCodeBytes = 16384;
inline constexpr int kMaxAddressesPerList = 8192;
inline constexpr int kMaxExternalSymbols = 511;
inline constexpr int kMaxLineRecords = 16384;

}  // namespace torvik
