// otklink's command line: what it writes on success, and that a failed run
// leaves no image and no map (and an older image as it was).
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "Archive.h"
#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

// call f / nop, with f external; and a module whose public f is at 1.
const char* const kCaller = "04 00 CD 00 00 00  00 00  01 00 01 66 00 01 00 01 00  00 00  00 00";
const char* const kCallee = "02 00 00 C9  00 00  00 00  01 00 01 66 00 01 00  00 00";

struct CliCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string err;
};

class LinkCommandLine : public ::testing::TestWithParam<CliCase> {};

TEST_P(LinkCommandLine, FailsWithoutWritingAnything) {
  TempDir dir;
  WriteFile(dir / "caller.otk", FromHex(kCaller));
  WriteFile(dir / "callee.otk", FromHex(kCallee));
  WriteFile(dir / "old.bin", "old image");
  WriteFile(dir / "huge.otk", "");
  ASSERT_EQ(::truncate((dir / "huge.otk").c_str(), off_t{1} << 30), 0);
  const auto result = RunTool("otklink", GetParam().args, dir.path());
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(result.err, GetParam().err);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(dir / "old.bin"), "old image");
  EXPECT_FALSE(torvik::test::FileExists(dir / "new.bin"));
  EXPECT_FALSE(torvik::test::FileExists(dir / "new.map"));
}

const std::string kUsage =
    "usage: otklink -o OUT [--org ADDR] [--format bin|ihex] [--map FILE] [--sym FILE] [--fill BYTE] [--limit ADDR] "
    "[--window ADDR:SIZE] [--rom] [-t TABLE] [--source MODULE=FILE]... "
    "INPUT[@ADDR]... [--ram INPUT[@ADDR]]... [--bank N INPUT[@ADDR]...]...\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkCommandLine,
    ::testing::Values(
        CliCase{"UndefinedExternal",
                {"-o", "old.bin", "--map", "new.map", "caller.otk"},
                1,
                "otklink: error: undefined symbol \"f\", referred to in \"caller.otk\"\n"},
        CliCase{"SymbolPublicTwice",
                {"-o", "old.bin", "callee.otk", "callee.otk", "caller.otk"},
                1,
                "otklink: error: symbol \"f\" is public in both \"callee.otk\" and \"callee.otk\"\n"},
        CliCase{"PastSixtyFourKiB",
                {"-o", "new.bin", "--org", "$FFFC", "caller.otk", "callee.otk"},
                1,
                "otklink: error: \"callee.otk\" does not fit in 64 KiB: 2 bytes from $10000 would end at $10002\n"},
        CliCase{"MissingObject",
                {"-o", "new.bin", "caller.otk", "none.otk"},
                1,
                "otklink: error: cannot read \"none.otk\"\n"},
        CliCase{"InputThatIsNotAFile",
                {"-o", "new.bin", "caller.otk", "/dev/zero"},
                1,
                "otklink: error: \"/dev/zero\" is not a regular file\n"},
        CliCase{"InputLargerThanAnyObjectFile",
                {"-o", "new.bin", "caller.otk", "huge.otk"},
                1,
                "otklink: error: \"huge.otk\" is too large (1073741824 bytes; at most " +
                    std::to_string(torvik::tools::kMaxArchiveBytes) + " are read)\n"},
        CliCase{"ImageIsAnInput",
                {"-o", "caller.otk", "caller.otk", "callee.otk"},
                1,
                "otklink: error: the output \"caller.otk\" is one of the inputs; nothing was written\n"},
        CliCase{"MapIsAnInputAndTheOlderImageStays",
                {"-o", "old.bin", "--map", "callee.otk", "caller.otk", "callee.otk"},
                1,
                "otklink: error: the output \"callee.otk\" is one of the inputs; nothing was written\n"},
        CliCase{"MapOnAFullDiskAndTheOlderImageStays",
                {"-o", "old.bin", "--map", "/dev/full", "caller.otk", "callee.otk"},
                1,
                "otklink: error: cannot write \"/dev/full\"\n"},
        CliCase{"MapCannotBeWritten",
                {"-o", "new.bin", "--map", "no/such/dir/new.map", "caller.otk", "callee.otk"},
                1,
                "otklink: error: cannot write \"no/such/dir/new.map\"\n"},
        CliCase{"MapIsTheImage",
                {"-o", "new.bin", "--map", "new.bin", "caller.otk", "callee.otk"},
                1,
                "otklink: error: two outputs cannot be the same file \"new.bin\"\n"},
        CliCase{"NoOutput", {"caller.otk"}, 2, kUsage}, CliCase{"NoInput", {"-o", "new.bin"}, 2, kUsage},
        CliCase{"BadOrigin",
                {"-o", "new.bin", "--org", "0x10000", "caller.otk"},
                2,
                "otklink: error: --org needs an address from 0 to $FFFF, not \"0x10000\"\n" + kUsage},
        CliCase{"BadFormat",
                {"-o", "new.bin", "--format", "elf", "caller.otk"},
                2,
                "otklink: error: --format is bin or ihex, not \"elf\"\n" + kUsage},
        CliCase{"AddressPastMemory",
                {"-o", "new.bin", "caller.otk@0x10000"},
                2,
                "otklink: error: caller.otk@ needs an address from 0 to $FFFF, not \"0x10000\"\n" + kUsage},
        CliCase{"AddressWithoutFile", {"-o", "new.bin", "@0"}, 2, kUsage},
        CliCase{"FillPastAByte",
                {"-o", "new.bin", "--fill", "256", "caller.otk"},
                2,
                "otklink: error: --fill needs a byte from 0 to $FF, not \"256\"\n" + kUsage},
        CliCase{"BadBank",
                {"-o", "new.bin", "--bank", "x", "caller.otk"},
                2,
                "otklink: error: --bank needs a bank number from 0 to 255, not \"x\"\n" + kUsage},
        CliCase{"WindowPastMemory",
                {"-o", "new.bin", "--window", "0xC000:0x4001", "caller.otk"},
                2,
                "otklink: error: --window needs START:SIZE within 64 KiB, not \"0xC000:0x4001\"\n" + kUsage},
        CliCase{"RomIsNoIntelHex",
                {"-o", "new.bin", "--rom", "--format", "ihex", "caller.otk"},
                2,
                "otklink: error: --rom writes one binary file, not Intel HEX\n" + kUsage},
        CliCase{"SymbolFileIsTheMap",
                {"-o", "new.bin", "--map", "new.map", "--sym", "new.map", "caller.otk"},
                1,
                "otklink: error: two outputs cannot be the same file \"new.map\"\n"},
        // The image of bank 1 is named like the map.
        CliCase{"BankImageIsTheMap",
                {"-o", "new.bin", "--map", "new.bank1.bin", "caller.otk", "--bank", "1", "callee.otk"},
                1,
                "otklink: error: two outputs cannot be the same file \"new.bank1.bin\"\n"},
        CliCase{"SourceThatCannotBeRead",
                {"-o", "new.bin", "--sym", "new.sym", "--source", "caller.otk=none.asm", "caller.otk", "callee.otk"},
                1,
                "Error #100 in none.asm, line 0: Cannot open file: \"none.asm\"\n"
                "otklink: warning: no source for \"callee.otk\" (give --source callee.otk=FILE): the symbol file "
                "holds only its public labels\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkCommandLine, WritesTheImageAndTheMap) {
  TempDir dir;
  WriteFile(dir / "caller.otk", FromHex(kCaller));
  WriteFile(dir / "callee.otk", FromHex(kCallee));
  const auto result =
      RunTool("otklink", {"-o", "p.bin", "--org", "0x10", "--map", "p.map", "caller.otk", "callee.otk"}, dir.path());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // f is at 1 of the second module, which starts at $10 + 4.
  EXPECT_EQ(ToHex(ReadFile(dir / "p.bin")), ToHex(FromHex("CD 15 00 00  00 C9")));
  EXPECT_THAT(ReadFile(dir / "p.map"), ::testing::HasSubstr("  $0015    -     f       callee.otk\n"));
}

// The symbol file takes every label from the sources; a module without
// one gives its public labels and a warning.
TEST(LinkCommandLine, WritesTheSymbolFileFromTheSources) {
  TempDir dir;
  WriteFile(dir / "caller.asm", " .ext f\nmain:: call f\n@back: jr @back\n");
  WriteFile(dir / "callee.asm", "top: nop\nf:: ret\n");
  for (const char* module : {"caller", "callee"}) {
    const std::string source = std::string(module) + ".asm";
    ASSERT_EQ(RunProcess(TorvikPath(), {TorvikPath(), source, std::string(module) + ".otk"}, dir.path()).status, 0);
  }
  std::filesystem::rename(dir / "callee.asm", dir / "f.s");
  auto result = RunTool(
      "otklink", {"-o", "p.bin", "--sym", "p.sym", "--org", "0x100", "--bank", "2", "caller.otk@0x4000", "callee.otk"},
      dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "otklink: warning: no source for \"callee.otk\" (give --source callee.otk=FILE): the symbol "
            "file holds only its public labels\n");
  EXPECT_EQ(ReadFile(dir / "p.sym"), "02:4000 main\n02:4004 main.back\n02:4007 f\n");
  result = RunTool("otklink",
                   {"-o", "p.bin", "--sym", "p.sym", "--source", "callee.otk=f.s", "caller.otk@0x4000", "callee.otk"},
                   dir.path());
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadFile(dir / "p.sym"), "00:4000 main\n00:4004 main.back\n00:4006 top\n00:4007 f\n");
}

}  // namespace
}  // namespace torvik::tools::test
