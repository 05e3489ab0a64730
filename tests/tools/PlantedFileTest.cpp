// Files planted where someone assembles or links, and careless paths: each
// run must refuse what it cannot use safely and leave every file it did not
// create as it was. Each row runs as root and as an unprivileged user, in a
// world-writable sticky directory; the files are planted by root, owned by
// the runner ($RUNNER) or by the other of the two ($OTHER).
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

constexpr uid_t kUnprivileged = 65534;
constexpr const char* kCommonSetup =
    "printf ' nop\\n' > s.asm && printf 'f:: nop\\n' > a.asm && echo victim > victim && chown $RUNNER victim && ";

struct PlantedCase {
  const char* name;
  const char* setup;  // shell commands after kCommonSetup, run as root
  const char* program;
  std::vector<std::string> args;
  int status;
  std::string message;                 // a line the run prints
  std::vector<std::string> unchanged;  // files as they were, or still missing
  std::string fresh;                   // an output that must be a new file of the runner's
};

const std::string kIntermediateRefused = "Error #100 in , line 0: Cannot open file: \"$asmtmp$.$$$\"";

std::vector<PlantedCase> Cases() {
  const std::vector<std::string> assemble = {"s.asm", "s.otk"};
  return {
      {"link_at_the_intermediate_file",
       "ln -s victim '$asmtmp$.$$$'",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"victim", "s.otk", "$asmtmp$.$$$"},
       ""},
      {"link_at_the_intermediate_file_and_pass_one_fails",
       "ln -s victim '$asmtmp$.$$$' && echo ' bogus' > s.asm",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"victim", "$asmtmp$.$$$"},
       ""},
      {"link_at_the_intermediate_file_and_preprocessing_fails",
       "ln -s victim '$asmtmp$.$$$' && echo '#include \"none.inc\"' > s.asm",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"victim", "$asmtmp$.$$$"},
       ""},
      {"dangling_link_at_the_intermediate_file",
       "ln -s made '$asmtmp$.$$$'",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"made"},
       ""},
      {"pipe_at_the_intermediate_file",
       "mkfifo '$asmtmp$.$$$' && chown $OTHER '$asmtmp$.$$$'",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"s.otk"},
       ""},
      {"directory_at_the_intermediate_file",
       "mkdir '$asmtmp$.$$$'",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"s.otk"},
       ""},
      {"intermediate_file_of_another_user",
       "echo left > '$asmtmp$.$$$' && chmod 666 '$asmtmp$.$$$' && chown $OTHER '$asmtmp$.$$$'",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"$asmtmp$.$$$", "s.otk"},
       ""},
      {"intermediate_file_that_is_another_name_of_a_file",
       "ln victim '$asmtmp$.$$$'",
       "Torvik",
       assemble,
       1,
       kIntermediateRefused,
       {"victim", "s.otk"},
       ""},
      {"link_at_the_object_path",
       "ln -s victim s.otk && chown -h $RUNNER s.otk",
       "Torvik",
       assemble,
       0,
       "Assembly complete - 0 error(s), 0 warning(s)",
       {"victim"},
       "s.otk"},
      {"object_is_the_source",
       "true",
       "Torvik",
       {"s.asm", "s.asm"},
       1,
       "Error #228 in s.asm, line 0: Output file would replace an input file: \"s.asm\"",
       {"s.asm"},
       ""},
      {"object_is_an_include",
       "printf '#include \"i.inc\"\\n' > s.asm && echo ' nop' > i.inc",
       "Torvik",
       {"s.asm", "i.inc"},
       1,
       "Error #228 in s.asm, line 0: Output file would replace an input file: \"i.inc\"",
       {"i.inc"},
       ""},
      {"object_is_a_binary_file",
       "printf ' .incbin \"b.bin\"\\n' > s.asm && echo bytes > b.bin",
       "Torvik",
       {"s.asm", "b.bin"},
       1,
       "Error #228 in s.asm, line 0: Output file would replace an input file: \"b.bin\"",
       {"b.bin"},
       ""},
      {"object_is_a_link_to_the_source",
       "ln -s s.asm s.otk && chown -h $RUNNER s.otk",
       "Torvik",
       assemble,
       1,
       "Error #228 in s.asm, line 0: Output file would replace an input file: \"s.otk\"",
       {"s.asm", "s.otk"},
       ""},
      {"link_output_is_its_input",
       "$TORVIK a.asm a.otk",
       "otklink",
       {"-o", "a.otk", "a.otk"},
       1,
       "otklink: error: the output \"a.otk\" is one of the inputs; nothing was written",
       {"a.otk"},
       ""},
      {"link_map_on_a_full_disk_keeps_the_older_image",
       "$TORVIK a.asm a.otk && echo old > p.bin && chown $RUNNER p.bin",
       "otklink",
       {"-o", "p.bin", "--map", "/dev/full", "a.otk"},
       1,
       "otklink: error: cannot write \"/dev/full\"",
       {"p.bin"},
       ""},
      {"link_at_the_image_path",
       "$TORVIK a.asm a.otk && ln -s victim p.bin && chown -h $RUNNER p.bin",
       "otklink",
       {"-o", "p.bin", "a.otk"},
       0,
       "",
       {"victim"},
       "p.bin"},
      {"link_at_the_dependency_file",
       "ln -s victim s.d && chown -h $RUNNER s.d",
       "otkdeps",
       {"-o", "s.d", "s.asm", "s.otk"},
       0,
       "",
       {"victim"},
       "s.d"},
      {"dependency_file_is_the_source",
       "true",
       "otkdeps",
       {"-o", "s.asm", "s.asm", "s.otk"},
       1,
       "otkdeps: error: the output \"s.asm\" is one of the files the rule names; nothing was written",
       {"s.asm"},
       ""},
  };
}

// What a path holds, told without opening anything but a regular file.
std::string Snapshot(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "missing";
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    return "link to " + std::string(target, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
  }
  if (!S_ISREG(st.st_mode)) return "mode " + std::to_string(st.st_mode & S_IFMT);
  return "file " + std::to_string(st.st_uid) + " " + ReadFile(path);
}

using Param = std::tuple<PlantedCase, uid_t>;

void PrintTo(const PlantedCase& c, std::ostream* os) { *os << c.name; }

class PlantedFile : public ::testing::TestWithParam<Param> {};

TEST_P(PlantedFile, IsRefusedOrReplacedButNeverFollowed) {
  const auto& [c, runner] = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "planting files of other users needs root";
  if (runner != 0 && !torvik::test::FileExists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv to drop privileges";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
  const uid_t other = runner == 0 ? kUnprivileged : 0;
  const std::string setup = "RUNNER=" + std::to_string(runner) + " OTHER=" + std::to_string(other) + " TORVIK='" +
                            TorvikPath() + "'; " + kCommonSetup + c.setup;
  const auto prepared = RunProcess("/bin/sh", {"sh", "-c", setup}, dir.path());
  ASSERT_EQ(prepared.status, 0) << prepared.err;
  std::map<std::string, std::string> before;
  for (const auto& name : c.unchanged) before[name] = Snapshot(dir / name);

  const std::string program = std::string(c.program) == "Torvik" ? TorvikPath() : ToolPath(c.program);
  std::vector<std::string> args = {program};
  if (runner != 0) {
    const std::string id = std::to_string(runner);
    args = {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
    std::vector<std::string> probe = args;
    probe.insert(probe.end(), {"/bin/sh", "-c", "test -x \"$0\" && test -w .", program});
    if (RunProcess("/usr/bin/setpriv", probe, dir.path()).status != 0) {
      GTEST_SKIP() << "the unprivileged user cannot run " << program << " in " << dir.path();
    }
    args.push_back(program);
  }
  args.insert(args.end(), c.args.begin(), c.args.end());
  const auto run = RunProcess(runner != 0 ? "/usr/bin/setpriv" : program, args, dir.path());
  EXPECT_EQ(run.status, c.status) << run.out << run.err;
  if (!c.message.empty()) {
    EXPECT_NE((run.out + run.err).find(c.message + "\n"), std::string::npos) << run.out << run.err;
  }
  for (const auto& name : c.unchanged) EXPECT_EQ(Snapshot(dir / name), before[name]) << name;
  if (!c.fresh.empty()) {
    struct stat st {};
    ASSERT_EQ(::lstat((dir / c.fresh).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_size > 0) << c.fresh;
    EXPECT_EQ(st.st_uid, runner) << c.fresh;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PlantedFile,
                         ::testing::Combine(::testing::ValuesIn(Cases()), ::testing::Values(uid_t{0}, kUnprivileged)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == 0 ? "_as_root" : "_as_unprivileged_user");
                         });

}  // namespace
}  // namespace torvik::tools::test
