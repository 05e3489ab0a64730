// libFuzzer entry of one target; TORVIK_FUZZ_HARNESS names the harness
// function of Harness.h that runs an input.
//
// The harness works in a private current directory, so every path that
// libFuzzer is given (corpus directories, inputs, artifacts, dictionaries)
// is made absolute first, and artifacts go to the directory the fuzzer was
// started in unless -artifact_prefix says otherwise. libFuzzer does not let
// the program's own path be changed: start it by an absolute path for
// -fork or -jobs, which start it again by that name.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Harness.h"

namespace {

std::vector<std::string> arguments;
std::vector<char*> pointers;

std::string Absolute(std::string_view path) {
  std::string absolute = std::filesystem::absolute(std::string(path)).string();
  if (!path.empty() && path.back() == '/' && absolute.back() != '/') absolute += '/';
  return absolute;
}

void MakePathsAbsolute(int* argc, char*** argv) {
  static constexpr std::string_view kPathFlags[] = {
      "-artifact_prefix=", "-exact_artifact_path=", "-dict=", "-merge_control_file=", "-features_dir="};
  bool artifactPrefix = false;
  for (int i = 0; i < *argc; ++i) {
    std::string_view arg = (*argv)[i];
    std::string rewritten(arg);
    if (i > 0 && !arg.empty() && arg[0] != '-') rewritten = Absolute(arg);
    for (const auto flag : kPathFlags) {
      if (arg.substr(0, flag.size()) == flag) rewritten = std::string(flag) + Absolute(arg.substr(flag.size()));
    }
    if (arg.substr(0, 17) == "-artifact_prefix=") artifactPrefix = true;
    arguments.push_back(rewritten);
  }
  if (!artifactPrefix) arguments.insert(arguments.begin() + 1, "-artifact_prefix=" + Absolute("./"));
  for (auto& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(arguments.size());
  *argv = pointers.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  MakePathsAbsolute(argc, argv);
  torvik::fuzz::PrepareWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torvik::fuzz::TORVIK_FUZZ_HARNESS(data, size);
  return 0;
}
