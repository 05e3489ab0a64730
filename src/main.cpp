// Torvik source.asm object.otk
#include <iostream>
#include <string>

#include "Assembler.h"
#include "Files.h"

namespace {

constexpr const char* kTableName = "tkinstr.tab";

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (argc != 3) {
    std::cout << "usage: Torvik source.asm object.otk\n";
    return 2;
  }
  torvik::CObjectFile image;
  torvik::CAssembler assembler(image, std::cout);
  const bool written = assembler.Assemble(torvik::BesideProgram(argv[0], kTableName), argv[1], argv[2], true);
  std::cout.flush();
  return written ? 0 : 1;
}
