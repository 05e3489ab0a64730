// The syntax of source lines as both passes read them: comments, the fields
// of a line, statements split at backslashes, and the head of a directive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "Text.h"

namespace torvik {

// Cuts the comment (from the first ';') and turns tabs into spaces.
std::string PrepareLine(std::string_view raw);
// The same without copying when the line holds no tab; otherwise the text
// is prepared in `buffer`. The result stays valid while both do.
std::string_view PrepareLine(std::string_view raw, std::string& buffer);

// A label field starts in the first column with anything but a space or '.'.
inline bool HasLabelField(std::string_view line) { return !line.empty() && line[0] != ' ' && line[0] != '.'; }
inline bool EndsLabelField(char c) { return c == ':' || c == '=' || c == ' '; }
inline bool IsLabelChar(char c) { return HasCharClass(c, kLetterClass | kDigitClass | kUnderscoreClass | kAtClass); }

// The fields of a prepared line: the label field, then either an
// assignment's '=' and expression, or one colon (two make the label
// public) and the statements.
struct LineFields {
  std::string_view label;  // empty when the line has no label field
  bool isPublic = false;
  bool assignment = false;
  std::string_view expression;  // of an assignment
  std::string_view statements;  // the rest of the line, for ForEachStatement
};

// Splits a line whose label field holds a label that ends at `labelEnd`,
// which may be before the end of the field: pass 1 cuts a label at the
// first character that cannot be part of it and reads on from there.
// Inline, as are the others here: the passes split every line.
inline LineFields SplitLine(std::string_view line, std::size_t labelEnd) {
  LineFields fields;
  fields.label = line.substr(0, labelEnd);
  const std::size_t equals = line.find('=', labelEnd);
  if (equals != std::string_view::npos) {
    fields.assignment = true;
    fields.expression = line.substr(equals + 1);
    return fields;
  }
  std::size_t pos = labelEnd;
  if (pos < line.size() && line[pos] == ':') {
    ++pos;
    if (pos < line.size() && line[pos] == ':') {
      ++pos;
      fields.isPublic = true;
    }
  }
  fields.statements = line.substr(pos);
  return fields;
}

// Splits any line, its label ending with its label field.
inline LineFields SplitLine(std::string_view line) {
  if (!HasLabelField(line)) {
    LineFields fields;
    fields.statements = line;
    return fields;
  }
  std::size_t end = 0;
  while (end < line.size() && !EndsLabelField(line[end])) ++end;
  return SplitLine(line, end);
}

// Calls `visit` with every statement of `text`, split at each backslash and
// without leading blanks; stops when `visit` returns false, and then
// returns false itself.
template <typename Visit>
bool ForEachStatement(std::string_view text, Visit visit) {
  const char* const end = text.data() + text.size();
  const char* start = text.data();
  while (start < end) {
    const auto* backslash = static_cast<const char*>(std::memchr(start, '\\', static_cast<std::size_t>(end - start)));
    const char* const stop = backslash != nullptr ? backslash : end;
    const std::string_view statement(start, static_cast<std::size_t>(stop - start));
    if (!visit(statement.substr(SkipBlanks(statement, 0)))) return false;
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
