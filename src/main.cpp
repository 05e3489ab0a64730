// Torvik source.asm object.otk
//
// Messages go out through the C library's buffer rather than a C++ stream:
// a stream would set up the whole locale machinery at start-up, which a
// short run would spend a noticeable share of its time on.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Assembler.h"
#include "Files.h"

namespace {

constexpr const char* kTableName = "tkinstr.tab";
constexpr int kHeapStep = 16 << 20;
constexpr int kNeverTrim = 1 << 30;

class StandardOutput final : public torvik::MessageSink {
 public:
  void WriteLine(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // A run is short and its memory only grows: the heap is extended in large
  // steps, holds the large blocks too and is never handed back, which
  // spares system calls; pages are still only taken when first written.
  mallopt(M_TOP_PAD, kHeapStep);
  mallopt(M_MMAP_THRESHOLD, kHeapStep);
  mallopt(M_TRIM_THRESHOLD, kNeverTrim);
  StandardOutput out;
  if (argc != 3) {
    out.WriteLine("usage: Torvik source.asm object.otk");
    return 2;
  }
  torvik::CObjectFile image;
  torvik::CAssembler assembler(image, out);
  const bool written = assembler.Assemble(torvik::BesideProgram(argv[0], kTableName, std::getenv("PATH")), argv[1], argv[2], true);
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
