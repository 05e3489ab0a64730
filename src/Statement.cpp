#include "Statement.h"

#include "Limits.h"
#include "Messages.h"
#include "Text.h"

namespace torvik {

std::string_view PrepareLine(std::string_view raw, std::string& buffer) {
  const std::string_view text = raw.substr(0, raw.find(';'));
  if (text.find('\t') == std::string_view::npos) return text;
  buffer.assign(text);
  for (char& c : buffer) {
    if (c == '\t') c = ' ';
  }
  return buffer;
}

std::string PrepareLine(std::string_view raw) {
  std::string buffer;
  return std::string(PrepareLine(raw, buffer));
}

DirectiveHead ParseDirectiveHead(std::string_view text) {
  DirectiveHead head;
  std::size_t length = 0;
  while (length < text.size() && IsAsciiLetter(text[length])) ++length;
  head.name = text.substr(0, length);
  head.hasArgument = text.find_first_not_of(' ', length) != std::string_view::npos;
  if (head.hasArgument) head.argument = text.substr(length + 1);
  return head;
}

CollectedName CollectExternalName(std::string_view argument) {
  CollectedName collected;
  std::size_t pos = argument.find_first_not_of(' ');
  if (pos == std::string_view::npos) return collected;
  for (; pos < argument.size() && argument[pos] != ' '; ++pos) {
    const char c = argument[pos];
    if (collected.name.size() == kMaxNameLength) {
      collected.error = kErrLabelTooLong;
      break;
    }
    if (collected.name.empty() && IsAsciiDigit(c)) {
      collected.error = kErrLabelStartsWithDigit;
      break;
    }
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_') {
      collected.error = kErrBadExternalCharacter;
      collected.badChar = c;
      break;
    }
    collected.name.push_back(c);
  }
  return collected;
}

std::string BinaryFileName(std::string_view argument, bool& unterminated) {
  unterminated = false;
  if (argument.empty() || argument.front() != '"') return std::string(argument);
  const std::size_t close = argument.find('"', 1);
  unterminated = close == std::string_view::npos;
  return std::string(argument.substr(1, unterminated ? std::string_view::npos : close - 1));
}

}  // namespace torvik
