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
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory, int timeoutSeconds = 120,
                         const std::vector<std::string>& environment = {});

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

// The assembler binary and its default table, as the build placed them.
std::string TorvikBinary();
std::string DefaultTable();
std::string SourceDir();

// Prepares `dir`/bin with a link to the binary and `table` as tkinstr.tab,
// and returns the program path to run from `dir`: "bin/Torvik".
std::string InstallTorvik(const TempDir& dir, const std::string& tableText);

}  // namespace torvik::test
