// Torvik source.asm object.otk
//
// Messages go out through the C library's buffer rather than a C++ stream:
// a stream would set up the whole locale machinery at start-up, which a
// short run would spend a noticeable share of its time on.
#include <cstdio>
#include <cstdlib>
#include <string>
// The C library's own headers say which library it is.
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "Assembler.h"
#include "Files.h"
#include "Platform.h"

namespace {

class StandardOutput final : public torvik::MessageSink {
 public:
  void WriteLine(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
};

// A run is short and its memory only grows: the heap is extended in large
// steps, holds the large blocks too and is never handed back, which spares
// system calls; pages are still only taken when first written. Only the
// GNU C library is told so.
void TuneHeap() {
#if defined(__GLIBC__)
  constexpr int kHeapStep = 16 << 20;
  constexpr int kNeverTrim = 1 << 30;
  mallopt(M_TOP_PAD, kHeapStep);
  mallopt(M_MMAP_THRESHOLD, kHeapStep);
  mallopt(M_TRIM_THRESHOLD, kNeverTrim);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  TuneHeap();
  torvik::platform::UseBinaryStandardStreams();
  torvik::platform::ProgramArguments arguments(argc, argv);
  StandardOutput out;
  if (arguments.Count() != 3) {
    out.WriteLine("usage: Torvik source.asm object.otk");
    return 2;
  }
  char** const args = arguments.Vector();
  torvik::CObjectFile image;
  torvik::CAssembler assembler(image, out);
  const std::string table = torvik::BesideProgram(args[0], torvik::kInstructionTableName, std::getenv("PATH"));
  const bool written = assembler.Assemble(table, args[1], args[2], true);
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
