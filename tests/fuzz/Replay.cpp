// Replays kept fuzz inputs through the fuzz harness, without libFuzzer:
//
//   torvik_fuzz_replay DIR...
//
// Every file below DIR/source is run as a source input, every file below
// DIR/table as a table input. A failed check aborts with the input's name;
// otherwise the count of inputs is printed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Harness.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> FilesBelow(const fs::path& dir) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(fs::absolute(entry.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: torvik_fuzz_replay DIR...\n");
    return 2;
  }
  // Paths first: the harness moves into a directory of its own.
  std::vector<std::pair<fs::path, bool>> inputs;  // path, is a table
  for (int i = 1; i < argc; ++i) {
    for (const auto& file : FilesBelow(fs::path(argv[i]) / "source")) inputs.emplace_back(file, false);
    for (const auto& file : FilesBelow(fs::path(argv[i]) / "table")) inputs.emplace_back(file, true);
  }
  torvik::fuzz::PrepareWorkspace();
  for (const auto& [path, isTable] : inputs) {
    const auto bytes = ReadAll(path);
    torvik::fuzz::SetInputName(path.string());
    if (isTable) {
      torvik::fuzz::AssembleTable(bytes.data(), bytes.size());
    } else {
      torvik::fuzz::AssembleSource(bytes.data(), bytes.size());
    }
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
