#include "Reporter.h"

namespace torvik::tools {

void Reporter::Error(std::string_view text) {
  out_ << program_ << ": error: " << text << '\n';
  ++errors_;
}

void Reporter::Warning(std::string_view text) { out_ << program_ << ": warning: " << text << '\n'; }

void Reporter::Usage(std::string_view arguments) {
  out_ << "usage: " << program_ << ' ' << arguments << '\n';
  ++errors_;
}

}  // namespace torvik::tools
