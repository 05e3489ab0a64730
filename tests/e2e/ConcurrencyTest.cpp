// Runs started at once in one directory share the intermediate file's name;
// they must take turns on it and each write the object a lone run writes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Process.h"

namespace torvik::test {
namespace {

std::string Named(const char* prefix, int n, const char* suffix) {
  return std::string(prefix).append(std::to_string(n)).append(suffix);
}

// A source of its own for run `n`: different sizes, labels and includes.
std::string SourceFor(int n) {
  std::string text = Named("start", n, "::\n");
  for (int i = 0; i <= n * 40; ++i) {
    text += Named("l", i, ": ld hl,") + Named("l", i, "\\ .db ") + Named("", n, "\n");
  }
  text += Named("#include \"common", n, ".inc\"\n");
  return text;
}

pid_t Start(const TempDir& dir, const std::string& program, int n) {
  const Command command = TorvikCommand(program, {"bin/Torvik", Named("s", n, ".asm"), Named("s", n, ".otk")});
  std::vector<char*> argv;
  for (const auto& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
    ::execv(command.path.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

TEST(Concurrency, SimultaneousRunsInOneDirectoryWriteWhatLoneRunsWrite) {
  constexpr int kRuns = 8;
  constexpr int kRounds = 20;
  TempDir dir;
  const std::string program = dir / InstallTorvik(dir, DefaultTable());
  std::vector<std::string> expected(kRuns);
  for (int n = 0; n < kRuns; ++n) {
    WriteFile(dir / Named("s", n, ".asm"), SourceFor(n));
    WriteFile(dir / Named("common", n, ".inc"), Named(" .dw ", n * 1000, "\n"));
    const auto lone = RunTorvik(program, {"bin/Torvik", Named("s", n, ".asm"), "lone.otk"}, dir.path());
    ASSERT_EQ(lone.status, 0) << lone.out;
    expected[static_cast<std::size_t>(n)] = ReadFile(dir / "lone.otk");
  }
  for (int round = 0; round < kRounds; ++round) {
    std::vector<pid_t> pids;
    for (int n = 0; n < kRuns; ++n) pids.push_back(Start(dir, program, n));
    for (const pid_t pid : pids) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
    for (int n = 0; n < kRuns; ++n) {
      const std::string object = dir / Named("s", n, ".otk");
      ASSERT_EQ(ReadFile(object), expected[static_cast<std::size_t>(n)]) << "run " << n << " of round " << round;
      ::unlink(object.c_str());
    }
    ASSERT_FALSE(FileExists(dir / "$asmtmp$.$$$"));
  }
}

// A lock held for ever, by anyone who can read the file, must not hold
// every run in the directory for ever: a run waits a while, then gives up.
TEST(LockWait, ARunThatCannotHaveTheLockGivesUpUnchanged) {
  if (ThroughLauncher()) GTEST_SKIP() << "a lock taken here with flock is not a Windows lock";
  TempDir dir;
  const std::string program = dir / InstallTorvik(dir, DefaultTable());
  WriteFile(dir / "prog.asm", " nop\n");
  WriteFile(dir / "$asmtmp$.$$$", "left\n");
  const int held = ::open((dir / "$asmtmp$.$$$").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_SH), 0);
  const auto waited = RunProcess(program, {"bin/Torvik", "prog.asm", "prog.otk"}, dir.path());
  EXPECT_EQ(waited.status, 1);
  EXPECT_EQ(waited.out,
            "Loading instruction table \"bin/tkinstr.tab\"\nAssembling \"prog.asm\"\n"
            "Error #100 in , line 0: Cannot open file: \"$asmtmp$.$$$\"\n");
  EXPECT_EQ(ReadFile(dir / "$asmtmp$.$$$"), "left\n");
  EXPECT_FALSE(FileExists(dir / "prog.otk"));
  ::close(held);
  EXPECT_EQ(RunProcess(program, {"bin/Torvik", "prog.asm", "prog.otk"}, dir.path()).status, 0);
}

}  // namespace
}  // namespace torvik::test
