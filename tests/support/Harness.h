// An assembler of the test's own, printing into a string instead of the
// console, for driving its parts directly.
#pragma once

#include <sstream>
#include <string>

#include "Assembler.h"
#include "Process.h"

namespace torvik::test {

class Rig {
 public:
  // Messages name the file "t.asm", line 1, unless a test moves them.
  Rig() : assembler(image, out) {
    assembler.SetFileNameOverride("t.asm");
    assembler.SetLineCounter(1);
  }

  // What was printed since the last call.
  std::string TakeOutput();
  // Loads `tableText` as the instruction table and clears what it printed.
  void LoadTable(const std::string& tableText);
  // Puts the assembler in pass 2 at location `lc` under the top label `top`.
  void AtLocation(std::int32_t lc, const std::string& top = "");

  std::ostringstream out;
  CObjectFile image;
  CAssembler assembler;
  std::string tablePath;       // where LoadTable put the table
  std::string lastLoadOutput;  // what the last LoadTable printed

 private:
  TempDir dir_;
};

}  // namespace torvik::test
