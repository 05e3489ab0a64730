#include "Harness.h"

namespace torvik::test {

std::string Rig::TakeOutput() {
  std::string text = out.str();
  out.str("");
  return text;
}

void Rig::LoadTable(const std::string& tableText) {
  const std::string path = dir_ / "table.tab";
  tablePath = path;
  WriteFile(path, tableText);
  assembler.SetFileNameOverride(path);
  assembler.SetLineCounter(0);
  assembler.Instructions().Load(path);
  assembler.SetFileNameOverride("t.asm");
  assembler.SetLineCounter(1);
  lastLoadOutput = TakeOutput();
}

void Rig::AtLocation(std::int32_t lc, const std::string& top) {
  assembler.SetLocationCounter(lc);
  assembler.SetCurrentLabel(top);
}

}  // namespace torvik::test
