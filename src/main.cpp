// Torvik source.asm object.otk
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "Assembler.h"

namespace {

constexpr const char* kTableName = "tkinstr.tab";

// The instruction table lies beside the executable: the program path up to
// its last separator, or, for a program found through PATH, the directory
// of the running executable.
std::string TablePath(const std::string& programPath) {
  const auto separator = programPath.find_last_of("/\\");
  if (separator != std::string::npos) return programPath.substr(0, separator + 1) + kTableName;
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return kTableName;
  const std::string executable(buffer.data(), static_cast<std::size_t>(length));
  return executable.substr(0, executable.find_last_of('/') + 1) + kTableName;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (argc != 3) {
    std::cout << "usage: Torvik source.asm object.otk\n";
    return 2;
  }
  torvik::CObjectFile image;
  torvik::CAssembler assembler(image, std::cout);
  const bool written = assembler.Assemble(TablePath(argv[0]), argv[1], argv[2], true);
  std::cout.flush();
  return written ? 0 : 1;
}
