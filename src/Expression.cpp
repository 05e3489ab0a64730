#include "Expression.h"

#include <limits>

namespace torvik {

namespace {

bool IsConversionSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The operator that starts with `c` (and `next`), and its length; 0 when
// none does. Two-character operators are tried before one-character ones.
int OperatorAt(char c, char next, Operation& op) {
  switch (c) {
    case '=':
      if (next == '=') return op = Operation::Equal, 2;
      return 0;
    case '!':
      if (next == '=') return op = Operation::NotEqual, 2;
      return 0;
    case '<':
      if (next == '=') return op = Operation::LessEqual, 2;
      if (next == '<') return op = Operation::ShiftLeft, 2;
      return op = Operation::Less, 1;
    case '>':
      if (next == '=') return op = Operation::GreaterEqual, 2;
      if (next == '>') return op = Operation::ShiftRight, 2;
      return op = Operation::Greater, 1;
    case '+': return op = Operation::Add, 1;
    case '-': return op = Operation::Subtract, 1;
    case '*': return op = Operation::Multiply, 1;
    case '/': return op = Operation::Divide, 1;
    case '&': return op = Operation::And, 1;
    case '|': return op = Operation::Or, 1;
    case '^': return op = Operation::Xor, 1;
    default: return 0;
  }
}

char At(std::string_view text, std::size_t pos) { return pos < text.size() ? text[pos] : '\0'; }

ExprToken CharacterConstant(std::string_view text, std::size_t pos) {
  ExprToken token;
  token.kind = ExprToken::Kind::CharConstant;
  token.begin = pos;
  std::size_t p = pos + 1;
  const char first = At(text, p);
  if (first == '\0') {
    token.unterminated = token.endsEvaluation = true;
    token.end = p;
    return token;
  }
  if (first == '\\') {
    const char selector = At(text, p + 1);
    if (const auto byte = EscapedByte(selector)) {
      token.value = *byte;
    } else {
      token.badEscape = true;
      token.escapeChar = selector;
      token.value = 0;
      if (selector == '\0') {
        token.unterminated = token.endsEvaluation = true;
        token.end = p + 1;
        return token;
      }
    }
    p += 2;
  } else {
    token.value = static_cast<std::int8_t>(first);
    p += 1;
  }
  if (At(text, p) == '\'') {
    ++p;
  } else {
    token.unterminated = true;
  }
  token.end = p;
  return token;
}

}  // namespace

std::int32_t ConvertNumber(std::string_view text, std::size_t start, int base, std::size_t& end) {
  std::size_t p = start;
  while (p < text.size() && IsConversionSpace(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    negative = text[p] == '-';
    ++p;
  }
  if (base == 16 && At(text, p) == '0' && (At(text, p + 1) == 'x' || At(text, p + 1) == 'X') &&
      DigitValue(At(text, p + 2)) < 16) {
    p += 2;
  }
  constexpr std::uint64_t kSaturation = std::uint64_t{1} << 40;
  std::uint64_t magnitude = 0;
  const std::size_t digits = p;
  for (int digit = 0; p < text.size() && (digit = DigitValue(text[p])) < base; ++p) {
    magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (magnitude > kSaturation) magnitude = kSaturation;
  }
  if (p == digits) {
    end = start;
    return 0;
  }
  end = p;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (negative) {
    return magnitude > kMax + 1 ? std::numeric_limits<std::int32_t>::min()
                                : static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
  }
  return magnitude > kMax ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(magnitude);
}

ExprToken NextOtherToken(std::string_view text, std::size_t pos) {
  ExprToken token;
  token.begin = pos;
  const char c = At(text, pos);
  if (c == '\0') {
    token.kind = ExprToken::Kind::End;
    token.end = pos;
    return token;
  }
  if (IsAsciiDigit(c)) {
    token.kind = ExprToken::Kind::Number;
    token.value = ConvertNumber(text, pos, 10, token.end);
    return token;
  }
  if (c == '$') {
    const char next = At(text, pos + 1);
    if (IsAsciiDigit(next) || IsAsciiLetter(next)) {
      token.kind = ExprToken::Kind::Number;
      token.value = ConvertNumber(text, pos + 1, 16, token.end);
    } else {
      token.kind = ExprToken::Kind::Location;
      token.end = pos + 1;
    }
    return token;
  }
  if (c == '%') {
    token.kind = ExprToken::Kind::Number;
    token.value = ConvertNumber(text, pos + 1, 2, token.end);
    if (token.end == pos + 1) token.value = 0;
    return token;
  }
  if (c == '\'') return CharacterConstant(text, pos);
  if (c == '(' || c == ')') {
    token.kind = c == '(' ? ExprToken::Kind::Open : ExprToken::Kind::Close;
    token.end = pos + 1;
    return token;
  }
  const int length = OperatorAt(c, At(text, pos + 1), token.op);
  token.kind = length > 0 ? ExprToken::Kind::Operator : ExprToken::Kind::Invalid;
  token.end = pos + static_cast<std::size_t>(length > 0 ? length : 1);
  return token;
}

}  // namespace torvik
