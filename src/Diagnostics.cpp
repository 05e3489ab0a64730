// Numbered errors and warnings, and the progress lines of a run.
#include <string>

#include "Assembler.h"
#include "Limits.h"

namespace torvik {

namespace {

struct MessageEntry {
  int code;
  std::string_view text;
};

constexpr MessageEntry kErrorMessages[] = {
    {100, "Cannot open file: \"%s\""},
    {101, "Number of lines in intermediate file exceeds %s"},
    {102, "Number of files included exceeds %s"},
    {103, "Unrecognized preprocessor directive \"#%s\""},
    {104, "Filename expected"},
    {105, "File already included: \"%s\""},
    {106, "Identifier expected"},
    {107, "Too many defines (%s entries)"},
    {200, "Line is too long (max of %s chars)"},
    {201, "Label is too long (max of %s chars)"},
    {202, "Label required for ':'"},
    {203, "Invalid character '%s' in label"},
    {204, "Label cannot start with a number"},
    {205, "Duplicate label \"%s\" conflicts with previous definition"},
    {206, "Symbol table full (%s entries)\n"},
    {207, "Output buffer overflowed (max of %s bytes)"},
    {208, "Invalid character '%s' in external symbol"},
    {209, "External symbol used with non-arithmetic operator"},
    {210, "Multiple external symbols used in expression"},
    {211, "Cannot use external symbols in data declarations"},
    {212, "External symbol cannot be used as 8 bit constant"},
    {213, "Relative jump too long"},
    {214, "Relocatable code cannot be generated for local expression"},
    {215, "External symbol cannot be the target of a relative jump"},
    {216, "Symbol not defined: \"%s\""},
    {217, "Relative symbol cannot be used as 8 bit constant"},
    {218, "Cannot pad backwards"},
    {219, "Cannot open binary file: \"%s\""},
    {220, "Local label too long when expanded"},
    {221, "No top-level public label for local label"},
    {222, "Data declaration size must evaluate to a constant"},
    {223, "Pad value must evaluate to a constant"},
    {224, "Data declaration size cannot be negative"},
    {225, "Too many external symbols (max of %s)"},
    {226, "Signed 8 bit value out of range"},
    {227, "Address outside the high page $FF00 to $FFFF"},
    {228, "Output file would replace an input file: \"%s\""},
    {300, "Invalid expression: \"%s\""},
    {301, "Division by 0"},
    {302, "No opening '('"},
    {303, "No closing ')'"},
    {304, "Invalid character constant in expression"},
    {305, "Unrecognized directive: \".%s\""},
    {306, "Value or expression expected"},
    {307, "Invalid escape sequence: \\%s"},
    {308, "No closing quote in string"},
    {400, "Unable to open instruction table file \"%s\""},
    {401, "Error parsing instruction table file"},
    {402, "Opcode size must be between 1 and %s bytes"},
    {403, "Line exceeds %s characters"},
    {404, "Unrecognized instruction: \"%s\""},
    {405, "Unrecognized argument format for \"%s\" instruction"},
    {406, "Maximum of %s instructions in table exceeded"},
    {407, "External relocation not supported for instruction"},
    {408, "Instruction length does not match opcode and operand bytes"},
    {409, "Statement size changed between passes"},
};

constexpr MessageEntry kWarningMessages[] = {
    {200, "Duplicate label \"%s\""},
    {201, "Symbol table entry truncated to 16 bits"},
    {300, "Value truncated to 16 bits"},
    {301, "Value truncated to 8 bits"},
    {400, "Argument value truncated to 16 bits"},
    {401, "Argument value truncated to 8 bits"},
    {402, "Illegal bit value"},
};

template <std::size_t N>
std::string_view FindText(const MessageEntry (&catalogue)[N], int code) {
  for (const auto& entry : catalogue) {
    if (entry.code == code) return entry.text;
  }
  return "Unknown message %s";
}

// Fills the first "%s" of `format` with `argument` and cuts the result to
// the length of a message line.
std::string Fill(std::string_view format, std::string_view argument) {
  std::string text;
  const auto placeholder = format.find("%s");
  if (placeholder == std::string_view::npos) {
    text = format;
  } else {
    text.reserve(format.size() + argument.size());
    text.append(format.substr(0, placeholder)).append(argument).append(format.substr(placeholder + 2));
  }
  if (text.size() > kMaxMessageLength) text.resize(kMaxMessageLength);
  return text;
}

}  // namespace

void CAssembler::Report(bool isError, int code, std::string_view argument) {
  Report(isError, code, argument, CurrentFileName(), CurrentLine());
}

void CAssembler::Report(bool isError, int code, std::string_view argument, std::string_view file,
                        std::int32_t lineNumber) {
  const std::string text = isError ? Fill(FindText(kErrorMessages, code), argument)
                                   : Fill(FindText(kWarningMessages, code), argument);
  std::string line = isError ? "Error #" : "Warning #";
  line.append(std::to_string(code)).append(" in ").append(file);
  line.append(", line ").append(std::to_string(lineNumber)).append(": ").append(text);
  if (line.size() > kMaxMessageLength) line.resize(kMaxMessageLength);

  ++reportSerial_;
  std::string& last = isError ? lastErrorLine_ : lastWarningLine_;
  if (line != last) {
    out_.WriteLine(line);
    ++(isError ? errorCount_ : warningCount_);
  }
  last = std::move(line);
}

void CAssembler::Error(int code, std::string_view argument) { Report(true, code, argument); }

void CAssembler::ErrorNum(int code, std::int32_t value) { Report(true, code, std::to_string(value)); }

void CAssembler::ErrorNumAt(std::string_view file, std::int32_t line, int code, std::int32_t value) {
  Report(true, code, std::to_string(value), file, line);
}

void CAssembler::Warning(int code, std::string_view argument) { Report(false, code, argument); }

void CAssembler::Message(std::string_view format, std::string_view argument) {
  out_.WriteLine(Fill(format, argument));
}

const std::string& CAssembler::CurrentFileName() const {
  if (!fileNameOverride_.empty()) return fileNameOverride_;
  return preprocessor_.FileNameOf(lineCounter_);
}

std::int32_t CAssembler::CurrentLine() const {
  if (!fileNameOverride_.empty()) return lineCounter_;
  return preprocessor_.LineOf(lineCounter_);
}

}  // namespace torvik
