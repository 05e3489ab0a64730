// Numbered errors and warnings, and the progress lines of a run.
#include <string>

#include "Assembler.h"
#include "Limits.h"
#include "Messages.h"

namespace torvik {

namespace {

std::string_view TextOf(const NumberedMessage* message) {
  return message != nullptr ? message->text : "Unknown message %s";
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
  const std::string text = Fill(TextOf(isError ? FindMessage(kErrors, code) : FindMessage(kWarnings, code)), argument);
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

void CAssembler::Message(std::string_view format, std::string_view argument) { out_.WriteLine(Fill(format, argument)); }

const std::string& CAssembler::CurrentFileName() const {
  if (!fileNameOverride_.empty()) return fileNameOverride_;
  return preprocessor_.FileNameOf(lineCounter_);
}

std::int32_t CAssembler::CurrentLine() const {
  if (!fileNameOverride_.empty()) return lineCounter_;
  return preprocessor_.LineOf(lineCounter_);
}

}  // namespace torvik
