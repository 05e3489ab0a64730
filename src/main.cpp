// Torvik source.asm object.otk
//
// Messages go out through the C library's buffer rather than a C++ stream:
// a stream would set up the whole locale machinery at start-up, which a
// short run would spend a noticeable share of its time on.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Assembler.h"
#include "Files.h"

namespace {

constexpr const char* kTableName = "tkinstr.tab";

class StandardOutput final : public torvik::MessageSink {
 public:
  void WriteLine(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  StandardOutput out;
  if (argc != 3) {
    out.WriteLine("usage: Torvik source.asm object.otk");
    return 2;
  }
  torvik::CObjectFile image;
  torvik::CAssembler assembler(image, out);
  const bool written = assembler.Assemble(torvik::BesideProgram(argv[0], kTableName), argv[1], argv[2], true);
  std::fflush(stdout);
  const int status = written ? 0 : 1;
#if defined(__SANITIZE_ADDRESS__)
  return status;  // the leak check runs at a normal exit
#else
  // Everything is written and closed; the system takes the memory back at
  // once, faster than freeing it piece by piece.
  std::_Exit(status);
#endif
}
