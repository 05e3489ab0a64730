// Tokens of operand expressions. The evaluator and the operand probes read
// expressions through this one lexer, so both see the same identifiers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Text.h"

namespace torvik {

enum class Operation {
  Assign,
  Add,
  Subtract,
  Multiply,
  Divide,
  And,
  Or,
  Xor,
  ShiftLeft,
  ShiftRight,
  Equal,
  NotEqual,
  Less,
  Greater,
  LessEqual,
  GreaterEqual,
};

struct ExprToken {
  enum class Kind {
    Identifier,
    Number,
    Location,  // a lone '$'
    CharConstant,
    Open,
    Close,
    Operator,
    Invalid,  // a character that starts no token
    End,
  };
  Kind kind = Kind::End;
  std::size_t begin = 0;
  std::size_t end = 0;  // where scanning resumes
  std::int32_t value = 0;
  Operation op = Operation::Assign;
  // Character constants only.
  bool badEscape = false;       // backslash before an unknown character
  char escapeChar = 0;          // that character (NUL when the text ended)
  bool unterminated = false;    // no closing quote, or the text ended
  bool endsEvaluation = false;  // the text ended inside the constant
};

// The token that starts at `pos`, which must not be a space.
inline ExprToken NextToken(std::string_view text, std::size_t pos);
// The same for a token that is not an identifier.
ExprToken NextOtherToken(std::string_view text, std::size_t pos);

// The strtol conversion as expressions use it: leading white space and one
// sign, a 0x prefix in base 16, the longest run of digits, and values
// clamped to the 32-bit range. With no digit, `end` is `start`.
std::int32_t ConvertNumber(std::string_view text, std::size_t start, int base, std::size_t& end);

// The operation, in 32-bit two's complement that wraps; never undefined.
// Division by zero leaves `result` unchanged and sets `divisionByZero`.
inline std::int32_t ApplyOperation(Operation op, std::int32_t result, std::int32_t operand, bool& divisionByZero) {
  const auto r = static_cast<std::uint32_t>(result);
  const auto o = static_cast<std::uint32_t>(operand);
  divisionByZero = false;
  switch (op) {
    case Operation::Assign: return operand;
    case Operation::Add: return static_cast<std::int32_t>(r + o);
    case Operation::Subtract: return static_cast<std::int32_t>(r - o);
    case Operation::Multiply: return static_cast<std::int32_t>(r * o);
    case Operation::Divide:
      if (operand == 0) {
        divisionByZero = true;
        return result;
      }
      // Computed in 64 bits: the one quotient without a 32-bit result wraps.
      return static_cast<std::int32_t>(
          static_cast<std::uint32_t>(static_cast<std::int64_t>(result) / static_cast<std::int64_t>(operand)));
    case Operation::And: return static_cast<std::int32_t>(r & o);
    case Operation::Or: return static_cast<std::int32_t>(r | o);
    case Operation::Xor: return static_cast<std::int32_t>(r ^ o);
    case Operation::ShiftLeft: return static_cast<std::int32_t>(r << (o & 31u));
    case Operation::ShiftRight: return result >> (o & 31u);
    case Operation::Equal: return result == operand ? 1 : 0;
    case Operation::NotEqual: return result != operand ? 1 : 0;
    case Operation::Less: return result < operand ? 1 : 0;
    case Operation::Greater: return result > operand ? 1 : 0;
    case Operation::LessEqual: return result <= operand ? 1 : 0;
    case Operation::GreaterEqual: return result >= operand ? 1 : 0;
  }
  return result;
}

inline bool IsIdentifierStart(char c) { return HasCharClass(c, kLetterClass | kUnderscoreClass | kAtClass); }
inline bool IsIdentifierChar(char c) {
  return HasCharClass(c, kLetterClass | kDigitClass | kUnderscoreClass | kAtClass);
}

// Identifiers, the most frequent tokens, are read here; the rest elsewhere.
inline ExprToken NextToken(std::string_view text, std::size_t pos) {
  if (pos >= text.size() || !IsIdentifierStart(text[pos])) return NextOtherToken(text, pos);
  ExprToken token;
  token.kind = ExprToken::Kind::Identifier;
  token.begin = pos;
  std::size_t p = pos + 1;
  while (p < text.size() && IsIdentifierChar(text[p])) ++p;
  token.end = p;
  return token;
}

}  // namespace torvik
