// Feeds arbitrary bytes to the object file reader. What it accepts must
// serialize back to the very same bytes, must dump without a fault, and
// must link (alone, at an origin taken from the input) without touching
// memory outside the image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "Dump.h"
#include "Linker.h"
#include "Objectfile.h"
#include "Output.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const torvik::ObjectReadResult read = torvik::CObjectFile::Parse(bytes);
  if (!read.ok) {
    if (read.error.empty() || read.errorOffset > size) std::abort();
    return 0;
  }
  if (torvik::CObjectFile::Serialize(read.module) != bytes) std::abort();

  std::ostringstream sink;
  torvik::tools::PrintSections(read.module, sink);
  torvik::tools::Reporter report("fuzz", sink);
  const std::uint32_t origin = size >= 2 ? (data[size - 2] | (data[size - 1] << 8)) : 0;
  torvik::tools::LinkOptions options;
  options.origin = origin;
  const std::vector<torvik::tools::LinkInput> inputs = {{"fuzz.otk", read.module}};
  const auto linked = torvik::tools::Link(inputs, options, report);
  if (linked.ok) {
    if (linked.image.bytes.size() != read.module.code.size()) std::abort();
    sink << torvik::tools::IntelHex(linked.image) << torvik::tools::LinkMap(linked);
  }
  return 0;
}
