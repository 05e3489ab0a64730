// The one way a companion tool reports problems: every message is a line
// "PROGRAM: error: TEXT" (or "warning:") on the tool's diagnostic stream,
// and errors are counted. The assembler parts a tool drives write their own
// numbered diagnostics to the same stream (Stream()).
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace torvik::tools {

class Reporter {
 public:
  Reporter(std::string program, std::ostream& out) : program_(std::move(program)), out_(out) {}

  void Error(std::string_view text);
  void Warning(std::string_view text);
  // A usage line, "usage: PROGRAM ARGS"; counted as an error.
  void Usage(std::string_view arguments);

  int ErrorCount() const { return errors_; }
  bool HasErrors() const { return errors_ != 0; }
  std::ostream& Stream() { return out_; }
  const std::string& Program() const { return program_; }

 private:
  std::string program_;
  std::ostream& out_;
  int errors_ = 0;
};

}  // namespace torvik::tools
