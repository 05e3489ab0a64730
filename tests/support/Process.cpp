#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace torvik::test {

namespace {

void DrainInto(int fd, std::string& out, bool& open) {
  char buffer[65536];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) {
    out.append(buffer, static_cast<std::size_t>(got));
  } else if (got == 0 || errno != EINTR) {
    open = false;
  }
}

// This process's environment with `changes` ("NAME=VALUE") applied.
std::vector<std::string> ChangedEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> result;
  const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=') + 1); };
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string current = *entry;
    const bool replaced = std::any_of(changes.begin(), changes.end(),
                                      [&](const std::string& change) { return nameOf(change) == nameOf(current); });
    if (!replaced) result.push_back(current);
  }
  result.insert(result.end(), changes.begin(), changes.end());
  return result;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
                         int timeoutSeconds, const std::vector<std::string>& environment) {
  // Everything the child needs is made before the fork.
  const std::vector<std::string> variables = ChangedEnvironment(environment);
  std::vector<char*> envp;
  for (const auto& variable : variables) envp.push_back(const_cast<char*>(variable.c_str()));
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int outPipe[2];
  int errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    // Only 1 and 2 may reach the child: a process it leaves running in the
    // background must not hold the pipes open, and this call waiting.
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    ::alarm(static_cast<unsigned>(timeoutSeconds));
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ProcessResult result;
  bool outOpen = true;
  bool errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) DrainInto(outPipe[0], result.out, outOpen);
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) DrainInto(errPipe[0], result.err, errOpen);
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.maxResidentKb = usage.ru_maxrss;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/torvik-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Restore permissions a test may have taken away, so removal succeeds.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    if (entry.is_directory(ignored)) ::chmod(entry.path().c_str(), 0755);
  }
  ::chmod(path_.c_str(), 0755);
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  const auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string ToHex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (i != 0) hex += (i % 16 == 0) ? '\n' : ' ';
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  std::istringstream lines(hex);
  std::string line;
  while (std::getline(lines, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      if (word.size() % 2 != 0) throw std::runtime_error("odd hex digits in \"" + word + "\"");
      for (std::size_t i = 0; i < word.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(word.substr(i, 2), nullptr, 16)));
      }
    }
  }
  return bytes;
}

std::string TorvikBinary() {
  const char* const other = std::getenv("TORVIK_TEST_PROGRAM");
  return other != nullptr && *other != '\0' ? other : TORVIK_BINARY;
}
std::string DefaultTable() { return ReadFile(TORVIK_DEFAULT_TABLE); }
std::string SourceDir() { return TORVIK_SOURCE_DIR; }

std::string InstallTorvik(const TempDir& dir, const std::string& tableText) {
  const std::string bin = dir / "bin";
  ::mkdir(bin.c_str(), 0755);
  const std::string program = "bin/Torvik" + std::filesystem::path(TorvikBinary()).extension().string();
  if (::symlink(TorvikBinary().c_str(), (dir / program).c_str()) != 0) {
    throw std::runtime_error("cannot link the binary");
  }
  WriteFile(bin + "/tkinstr.tab", tableText);
  return program;
}

namespace {

std::vector<std::string> LauncherWords() {
  const char* const launcher = std::getenv("TORVIK_TEST_LAUNCHER");
  std::istringstream words(launcher != nullptr ? launcher : "");
  std::vector<std::string> result;
  for (std::string word; words >> word;) result.push_back(word);
  return result;
}

}  // namespace

bool ThroughLauncher() { return !LauncherWords().empty(); }

std::string AsSeenByProgram(const std::string& path) {
  if (!ThroughLauncher() || path.empty() || path[0] != '/') return path;
  std::string seen = "Z:" + path;
  std::replace(seen.begin(), seen.end(), '/', '\\');
  return seen;
}

Command TorvikCommand(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> launcher = LauncherWords();
  if (launcher.empty()) return {program, args};
  launcher.push_back(program);
  launcher.insert(launcher.end(), args.begin(), args.end());
  return {launcher.front(), launcher};
}

ProcessResult RunTorvik(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
                        int timeoutSeconds, const std::vector<std::string>& environment) {
  const Command command = TorvikCommand(program, args);
  return RunProcess(command.path, command.argv, directory, timeoutSeconds, environment);
}

}  // namespace torvik::test
