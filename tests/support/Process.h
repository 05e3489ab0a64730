// Running the real binary from tests: in a directory of the test's own,
// with its standard output and exit status captured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvik::test {

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
  long maxResidentKb = 0;  // the child's peak resident memory
};

// Runs `program` with `args` (argv[0] is args[0]) in `directory`, with the
// environment's variables changed or added by `environment` ("NAME=VALUE").
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
                         int timeoutSeconds = 120, const std::vector<std::string>& environment = {});

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
std::string ToHex(const std::string& bytes);
// Bytes from hex text; whitespace between bytes, '#' starts a comment.
std::string FromHex(const std::string& hex);

// The assembler binary and its default table, as the build placed them; the
// variable TORVIK_TEST_PROGRAM names another binary to run instead, such as
// the Windows one.
std::string TorvikBinary();
std::string DefaultTable();
std::string SourceDir();

// Prepares `dir`/bin with a link to the binary and `table` as tkinstr.tab,
// and returns the program path to run from `dir`: "bin/Torvik", with the
// binary's extension (".exe") if it has one.
std::string InstallTorvik(const TempDir& dir, const std::string& tableText);

// Whether the assembler runs through a launcher: the words of the variable
// TORVIK_TEST_LAUNCHER, such as Wine and the Windows launcher program.
bool ThroughLauncher();
// A path of the file system as the assembler sees it: through Wine, an
// absolute path is one on drive Z: with backslashes.
std::string AsSeenByProgram(const std::string& path);

struct Command {
  std::string path;               // what to execute
  std::vector<std::string> argv;  // with argv[0]
};
// How to start the assembler at `program` with `args` (args[0] is the
// program name it is given), directly or through the launcher.
Command TorvikCommand(const std::string& program, const std::vector<std::string>& args);
// RunProcess of TorvikCommand.
ProcessResult RunTorvik(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
                        int timeoutSeconds = 120, const std::vector<std::string>& environment = {});

}  // namespace torvik::test
