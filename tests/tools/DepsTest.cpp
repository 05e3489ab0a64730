// otkdeps against sources written for each case: which files it names,
// how it writes them for make, and that it leaves nothing behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

struct DepsCase {
  const char* name;
  std::map<std::string, std::string> files;  // written into the directory first
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string errContains;
};

std::set<std::string> Listing(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.insert(entry.path().filename());
  return names;
}

class Deps : public ::testing::TestWithParam<DepsCase> {};

TEST_P(Deps, NamesEveryFileTheAssemblyReads) {
  const DepsCase& c = GetParam();
  TempDir dir;
  for (const auto& [name, text] : c.files) WriteFile(dir / name, text);
  const auto before = Listing(dir.path());
  const auto result = RunTool("otkdeps", c.args, dir.path());
  EXPECT_EQ(result.status, c.status) << result.err;
  EXPECT_EQ(result.out, c.out);
  if (c.errContains.empty()) {
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_THAT(result.err, ::testing::HasSubstr(c.errContains));
  }
  EXPECT_EQ(Listing(dir.path()), before) << "otkdeps must leave the directory as it was";
}

const std::vector<std::string> kArgs = {"s.asm", "s.otk"};

INSTANTIATE_TEST_SUITE_P(
    Cases, Deps,
    ::testing::Values(
        DepsCase{"SourceAlone", {{"s.asm", " nop\n"}}, kArgs, 0, "s.otk: s.asm\n", ""},
        DepsCase{"NestedIncludesInOrderOfInclusion",
                 {{"s.asm", "#include \"a.inc\"\n#include <c.inc>\n"},
                  {"a.inc", "#include b.inc\n nop\n"},
                  {"b.inc", " nop\n"},
                  {"c.inc", ""}},
                 kArgs,
                 0,
                 "s.otk: s.asm a.inc b.inc c.inc\n",
                 ""},
        DepsCase{"BinaryFilesAfterTheIncludesOnceEach",
                 {{"s.asm", " .incbin \"x.bin\"\n#include \"a.inc\"\n .INCBIN raw.bin\n .incbin \"x.bin\"\n"},
                  {"a.inc", "data: .incbin \"y.bin\"\n"},
                  {"x.bin", "1"},
                  {"y.bin", "2"},
                  {"raw.bin", "3"}},
                 kArgs,
                 0,
                 "s.otk: s.asm a.inc x.bin y.bin raw.bin\n",
                 ""},
        // A binary file need not exist yet: another rule may make it.
        DepsCase{"MissingBinaryFileIsStillNamed",
                 {{"s.asm", " .incbin \"later.bin\"\n"}},
                 kArgs,
                 0,
                 "s.otk: s.asm later.bin\n",
                 ""},
        DepsCase{"StatementsAfterABackslashCount",
                 {{"s.asm", " nop \\ .incbin \"b.bin\" \\ nop\n"}},
                 kArgs,
                 0,
                 "s.otk: s.asm b.bin\n",
                 ""},
        // Comments, assignment lines (any '=' after the label) and
        // everything after an end directive with an argument are not read.
        DepsCase{"OnlyWhatThePassesRead",
                 {{"s.asm",
                   " nop ; .incbin \"c.bin\"\nx: .incbin \"a=b.bin\"\n .end\n .incbin \"e1.bin\"\n"
                   " .end here \\ .incbin \"e2.bin\"\n .incbin \"e3.bin\"\n"}},
                 kArgs,
                 0,
                 "s.otk: s.asm e1.bin\n",
                 ""},
        DepsCase{"NamesAreEscapedForMake",
                 {{"s.asm", "#include \"my file.inc\"\n .incbin \"a#1$.bin\"\n"}, {"my file.inc", ""}},
                 {"s.asm", "out dir/s.otk"},
                 0,
                 "out\\ dir/s.otk: s.asm my\\ file.inc a\\#1$$.bin\n",
                 ""},
        DepsCase{"PhonyTargetsForEveryDependency",
                 {{"s.asm", "#include \"a.inc\"\n .incbin \"d.bin\"\n"}, {"a.inc", ""}},
                 {"-P", "s.asm", "s.otk"},
                 0,
                 "s.otk: s.asm a.inc d.bin\n\na.inc:\n\nd.bin:\n",
                 ""},
        DepsCase{"MissingIncludeIsTheAssemblersError",
                 {{"s.asm", " nop\n#include \"gone.inc\"\n"}},
                 kArgs,
                 1,
                 "",
                 "Error #100 in s.asm, line 0: Cannot open file: \"gone.inc\""},
        DepsCase{"MissingSource", {}, kArgs, 1, "", "Error #100 in s.asm, line 0: Cannot open file: \"s.asm\""},
        DepsCase{"SecondInclusionIsTheAssemblersError",
                 {{"s.asm", "#include \"a.inc\"\n#include \"A.INC\"\n"}, {"a.inc", ""}},
                 kArgs,
                 1,
                 "",
                 "Error #105 in s.asm, line 0: File already included: \"A.INC\""},
        DepsCase{"WrongArguments", {}, {"s.asm"}, 2, "", "usage: otkdeps [-P] [-o DEPFILE] SOURCE.asm OBJECT.otk"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Deps, WritesTheRuleToAFileWhole) {
  TempDir dir;
  WriteFile(dir / "s.asm", "#include \"a.inc\"\n");
  WriteFile(dir / "a.inc", " nop\n");
  auto result = RunTool("otkdeps", {"-o", "s.d", "s.asm", "s.otk"}, dir.path());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(dir / "s.d"), "s.otk: s.asm a.inc\n");
  // A failing run leaves the old file as it was.
  std::filesystem::remove(dir / "a.inc");
  result = RunTool("otkdeps", {"-o", "s.d", "s.asm", "s.otk"}, dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ReadFile(dir / "s.d"), "s.otk: s.asm a.inc\n");
}

}  // namespace
}  // namespace torvik::tools::test
