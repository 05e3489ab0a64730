// The numbered messages: every error and every warning by name, with its
// code and its text. Errors and warnings are numbered apart, so one code
// may stand for an error and for a warning that have nothing in common;
// the names tell them apart (kErr..., kWarn...). Codes are grouped by
// hundreds: 1xx preprocessing; 2xx lines, labels, symbols and output; 3xx
// expressions and directives; 4xx the instruction table and instructions.
#pragma once

#include <cstddef>
#include <string_view>

namespace torvik {

// A message stands for its code wherever a code is taken (Error, Warning,
// a helper that returns the code to report). "%s" in its text stands for
// the one argument it is reported with.
struct NumberedMessage {
  int code;
  std::string_view text;
  constexpr operator int() const { return code; }
};

inline constexpr NumberedMessage kErrCannotOpenFile{100, "Cannot open file: \"%s\""};
inline constexpr NumberedMessage kErrTooManyIntermediateLines{101, "Number of lines in intermediate file exceeds %s"};
inline constexpr NumberedMessage kErrTooManyFiles{102, "Number of files included exceeds %s"};
inline constexpr NumberedMessage kErrUnknownPreprocessorDirective{103, "Unrecognized preprocessor directive \"#%s\""};
inline constexpr NumberedMessage kErrFileNameExpected{104, "Filename expected"};
inline constexpr NumberedMessage kErrFileAlreadyIncluded{105, "File already included: \"%s\""};
inline constexpr NumberedMessage kErrIdentifierExpected{106, "Identifier expected"};
inline constexpr NumberedMessage kErrTooManyDefines{107, "Too many defines (%s entries)"};

inline constexpr NumberedMessage kErrLineTooLong{200, "Line is too long (max of %s chars)"};
inline constexpr NumberedMessage kErrLabelTooLong{201, "Label is too long (max of %s chars)"};
inline constexpr NumberedMessage kErrLabelRequired{202, "Label required for ':'"};
inline constexpr NumberedMessage kErrBadLabelCharacter{203, "Invalid character '%s' in label"};
inline constexpr NumberedMessage kErrLabelStartsWithDigit{204, "Label cannot start with a number"};
inline constexpr NumberedMessage kErrDuplicateLabel{205, "Duplicate label \"%s\" conflicts with previous definition"};
inline constexpr NumberedMessage kErrSymbolTableFull{206, "Symbol table full (%s entries)\n"};
inline constexpr NumberedMessage kErrCodeOverflow{207, "Output buffer overflowed (max of %s bytes)"};
inline constexpr NumberedMessage kErrBadExternalCharacter{208, "Invalid character '%s' in external symbol"};
inline constexpr NumberedMessage kErrExternalNotAdded{209, "External symbol used with non-arithmetic operator"};
inline constexpr NumberedMessage kErrTwoExternals{210, "Multiple external symbols used in expression"};
inline constexpr NumberedMessage kErrExternalInData{211, "Cannot use external symbols in data declarations"};
inline constexpr NumberedMessage kErrExternalAsByte{212, "External symbol cannot be used as 8 bit constant"};
inline constexpr NumberedMessage kErrJumpTooLong{213, "Relative jump too long"};
inline constexpr NumberedMessage kErrCannotRelocate{214, "Relocatable code cannot be generated for local expression"};
inline constexpr NumberedMessage kErrExternalJumpTarget{215, "External symbol cannot be the target of a relative jump"};
inline constexpr NumberedMessage kErrSymbolNotDefined{216, "Symbol not defined: \"%s\""};
inline constexpr NumberedMessage kErrRelocatableAsByte{217, "Relative symbol cannot be used as 8 bit constant"};
inline constexpr NumberedMessage kErrPadBackwards{218, "Cannot pad backwards"};
inline constexpr NumberedMessage kErrCannotOpenBinary{219, "Cannot open binary file: \"%s\""};
inline constexpr NumberedMessage kErrLocalLabelTooLong{220, "Local label too long when expanded"};
inline constexpr NumberedMessage kErrNoTopLevelLabel{221, "No top-level public label for local label"};
inline constexpr NumberedMessage kErrSizeNotConstant{222, "Data declaration size must evaluate to a constant"};
inline constexpr NumberedMessage kErrPadNotConstant{223, "Pad value must evaluate to a constant"};
inline constexpr NumberedMessage kErrNegativeSize{224, "Data declaration size cannot be negative"};
inline constexpr NumberedMessage kErrTooManyExternals{225, "Too many external symbols (max of %s)"};
inline constexpr NumberedMessage kErrSignedByteRange{226, "Signed 8 bit value out of range"};
inline constexpr NumberedMessage kErrOutsideHighPage{227, "Address outside the high page $FF00 to $FFFF"};
inline constexpr NumberedMessage kErrOutputIsInput{228, "Output file would replace an input file: \"%s\""};

inline constexpr NumberedMessage kErrInvalidExpression{300, "Invalid expression: \"%s\""};
inline constexpr NumberedMessage kErrDivisionByZero{301, "Division by 0"};
inline constexpr NumberedMessage kErrNoOpeningParenthesis{302, "No opening '('"};
inline constexpr NumberedMessage kErrNoClosingParenthesis{303, "No closing ')'"};
inline constexpr NumberedMessage kErrBadCharacterConstant{304, "Invalid character constant in expression"};
inline constexpr NumberedMessage kErrUnknownDirective{305, "Unrecognized directive: \".%s\""};
inline constexpr NumberedMessage kErrValueExpected{306, "Value or expression expected"};
inline constexpr NumberedMessage kErrBadEscape{307, "Invalid escape sequence: \\%s"};
inline constexpr NumberedMessage kErrNoClosingQuote{308, "No closing quote in string"};

inline constexpr NumberedMessage kErrCannotOpenTable{400, "Unable to open instruction table file \"%s\""};
inline constexpr NumberedMessage kErrBadTableRow{401, "Error parsing instruction table file"};
inline constexpr NumberedMessage kErrOpcodeSize{402, "Opcode size must be between 1 and %s bytes"};
inline constexpr NumberedMessage kErrTableLineTooLong{403, "Line exceeds %s characters"};
inline constexpr NumberedMessage kErrUnknownInstruction{404, "Unrecognized instruction: \"%s\""};
inline constexpr NumberedMessage kErrUnknownOperands{405, "Unrecognized argument format for \"%s\" instruction"};
inline constexpr NumberedMessage kErrTooManyRows{406, "Maximum of %s instructions in table exceeded"};
inline constexpr NumberedMessage kErrNoExternalOperand{407, "External relocation not supported for instruction"};
inline constexpr NumberedMessage kErrLengthMismatch{408, "Instruction length does not match opcode and operand bytes"};
inline constexpr NumberedMessage kErrSizeChanged{409, "Statement size changed between passes"};

inline constexpr NumberedMessage kWarnDuplicateLabel{200, "Duplicate label \"%s\""};
inline constexpr NumberedMessage kWarnSymbolTruncated{201, "Symbol table entry truncated to 16 bits"};
inline constexpr NumberedMessage kWarnValueTruncated16{300, "Value truncated to 16 bits"};
inline constexpr NumberedMessage kWarnValueTruncated8{301, "Value truncated to 8 bits"};
inline constexpr NumberedMessage kWarnOperandTruncated16{400, "Argument value truncated to 16 bits"};
inline constexpr NumberedMessage kWarnOperandTruncated8{401, "Argument value truncated to 8 bits"};
inline constexpr NumberedMessage kWarnBadBitNumber{402, "Illegal bit value"};

// The two catalogues, each in the order of its codes.
inline constexpr NumberedMessage kErrors[] = {
    kErrCannotOpenFile,
    kErrTooManyIntermediateLines,
    kErrTooManyFiles,
    kErrUnknownPreprocessorDirective,
    kErrFileNameExpected,
    kErrFileAlreadyIncluded,
    kErrIdentifierExpected,
    kErrTooManyDefines,
    kErrLineTooLong,
    kErrLabelTooLong,
    kErrLabelRequired,
    kErrBadLabelCharacter,
    kErrLabelStartsWithDigit,
    kErrDuplicateLabel,
    kErrSymbolTableFull,
    kErrCodeOverflow,
    kErrBadExternalCharacter,
    kErrExternalNotAdded,
    kErrTwoExternals,
    kErrExternalInData,
    kErrExternalAsByte,
    kErrJumpTooLong,
    kErrCannotRelocate,
    kErrExternalJumpTarget,
    kErrSymbolNotDefined,
    kErrRelocatableAsByte,
    kErrPadBackwards,
    kErrCannotOpenBinary,
    kErrLocalLabelTooLong,
    kErrNoTopLevelLabel,
    kErrSizeNotConstant,
    kErrPadNotConstant,
    kErrNegativeSize,
    kErrTooManyExternals,
    kErrSignedByteRange,
    kErrOutsideHighPage,
    kErrOutputIsInput,
    kErrInvalidExpression,
    kErrDivisionByZero,
    kErrNoOpeningParenthesis,
    kErrNoClosingParenthesis,
    kErrBadCharacterConstant,
    kErrUnknownDirective,
    kErrValueExpected,
    kErrBadEscape,
    kErrNoClosingQuote,
    kErrCannotOpenTable,
    kErrBadTableRow,
    kErrOpcodeSize,
    kErrTableLineTooLong,
    kErrUnknownInstruction,
    kErrUnknownOperands,
    kErrTooManyRows,
    kErrNoExternalOperand,
    kErrLengthMismatch,
    kErrSizeChanged,
};
inline constexpr NumberedMessage kWarnings[] = {
    kWarnDuplicateLabel,     kWarnSymbolTruncated,   kWarnValueTruncated16, kWarnValueTruncated8,
    kWarnOperandTruncated16, kWarnOperandTruncated8, kWarnBadBitNumber,
};

// The message of `code` in a catalogue, or null when it has none.
template <std::size_t N>
constexpr const NumberedMessage* FindMessage(const NumberedMessage (&catalogue)[N], int code) {
  for (const NumberedMessage& message : catalogue) {
    if (message.code == code) return &message;
  }
  return nullptr;
}

template <std::size_t N>
constexpr bool CodesAscend(const NumberedMessage (&catalogue)[N]) {
  for (std::size_t i = 1; i < N; ++i) {
    if (catalogue[i - 1].code >= catalogue[i].code) return false;
  }
  return true;
}
static_assert(CodesAscend(kErrors) && CodesAscend(kWarnings), "each code once, in order");

}  // namespace torvik
