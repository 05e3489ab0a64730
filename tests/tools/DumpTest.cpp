// otkdump's reading and printing of object files. The files are written
// out byte by byte from the format; the expected text follows from them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Dump.h"
#include "ToolSupport.h"
#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

// The format's worked example: ld hl,start / call print / nop, one
// relocation, print referred to at 4, start public at 0, lines 2 and 3.
const char* const kWorkedExample =
    "07 00  21 00 00 CD 00 00 00  01 00 01 00"
    " 01 00  05 70 72 69 6E 74 00  01 00  04 00"
    " 01 00  05 73 74 61 72 74 00  00 00"
    " 02 00  02 00 00 00  03 00 03 00";

TEST(Dump, PrintsEverySectionOfTheWorkedExample) {
  TempDir dir;
  WriteFile(dir / "w.otk", FromHex(kWorkedExample));
  const auto result = RunTool("otkdump", {"w.otk"}, dir.path());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "code: 7 bytes\n"
            "  0000  21 00 00 CD 00 00 00                             |!......|\n"
            "\n"
            "local relocations: 1\n"
            "  0001  holds 0000\n"
            "\n"
            "external symbols: 1\n"
            "  print, 1 reference\n"
            "    0004  holds 0000\n"
            "\n"
            "public symbols: 1\n"
            "  0000  start\n"
            "\n"
            "line table: 2 records\n"
            "  address  line\n"
            "  0000         2\n"
            "  0003         3\n");
}

TEST(Dump, HexDumpRowsHoldSixteenBytesAndTheFieldsShowWhatTheyHold) {
  ObjectModule module;
  for (int i = 0; i < 18; ++i) module.code.push_back(static_cast<std::uint8_t>(0x41 + i));
  module.relocations = {16};
  std::ostringstream out;
  PrintSections(module, out);
  EXPECT_THAT(out.str(),
              ::testing::StartsWith("code: 18 bytes\n"
                                    "  0000  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  |ABCDEFGHIJKLMNOP|\n"
                                    "  0010  51 52                                            |QR|\n"
                                    "\n"
                                    "local relocations: 1\n"
                                    "  0010  holds 5251\n"));
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  std::size_t offset;  // of the field at fault, counted by hand
};

class Malformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, IsRefusedNamingTheOffsetOfTheFieldAtFault) {
  TempDir dir;
  WriteFile(dir / "bad.otk", GetParam().bytes);
  for (const char* tool : {"otkdump", "otklink"}) {
    std::vector<std::string> args = {"bad.otk"};
    if (std::string(tool) == "otklink") args = {"-o", "out.bin", "bad.otk"};
    const auto result = RunTool(tool, args, dir.path());
    EXPECT_EQ(result.status, 1) << tool;
    EXPECT_EQ(result.out, "") << tool;
    EXPECT_THAT(result.err,
                ::testing::StartsWith(std::string(tool) + ": error: \"bad.otk\" is not a valid object file: "));
    EXPECT_THAT(result.err, ::testing::EndsWith("(at byte offset " + std::to_string(GetParam().offset) + ")\n"));
    EXPECT_FALSE(torvik::test::FileExists(dir / "out.bin"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Malformed,
    ::testing::Values(
        MalformedCase{"EmptyFile", "", 0}, MalformedCase{"CodeSizeAlone", FromHex("00"), 0},
        MalformedCase{"CodeCutShort", FromHex("05 00 21 00"), 2},
        MalformedCase{"CodeLargerThanSixteenKiB", FromHex("01 40"), 0},
        MalformedCase{"RelocationCountCutShort", FromHex("01 00 C9 01"), 3},
        // Two code bytes; the relocation at 1 would need bytes 1 and 2.
        MalformedCase{"RelocationOutsideTheCode", FromHex("02 00 AA BB  01 00 01 00  00 00  00 00  00 00"), 6},
        // Three code bytes; the reference to x at 2 would need bytes 2 and 3.
        MalformedCase{"ReferenceOutsideTheCode",
                      FromHex("03 00 C3 00 00  00 00  01 00 01 78 00 01 00 02 00  00 00  00 00"), 14},
        // One code byte; a line record at address 1 names no instruction.
        MalformedCase{"LineRecordOutsideTheCode", FromHex("01 00 00  00 00  00 00  00 00  01 00 01 00 01 00"), 13},
        MalformedCase{"NameOfLengthZero", FromHex("00 00  00 00  01 00  00 00 00 00 00 00"), 6},
        MalformedCase{"NameWithoutItsNul", FromHex("00 00  00 00  00 00  01 00  01 61 62 00 00  00 00"), 10},
        MalformedCase{"PublicValueCutShort", FromHex("00 00  00 00  00 00  01 00  01 61 00 00"), 11},
        MalformedCase{"LineTableCutShort", FromHex("01 00 00  00 00  00 00  00 00  01 00 01 00 00"), 13},
        MalformedCase{"BytesAfterTheLineTable", std::string(10, '\0') + "x", 10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Dump, MissingFileAndBadArgumentsAreRefused) {
  TempDir dir;
  auto result = RunTool("otkdump", {"none.otk"}, dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "otkdump: error: cannot read \"none.otk\"\n");
  result = RunTool("otkdump", {"/dev/zero"}, dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "otkdump: error: \"/dev/zero\" is not a regular file\n");
  result = RunTool("otkdump", {}, dir.path());
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "usage: otkdump [-t TABLE] [-s SOURCE.asm [--base ADDR | --map FILE]] FILE.otk\n");
}

TEST(Numbers, CommandLineNumbersAreDecimalOrHexadecimal) {
  EXPECT_EQ(ParseNumber("256", 0xFFFF), 256u);
  EXPECT_EQ(ParseNumber("$1F", 0xFFFF), 0x1Fu);
  EXPECT_EQ(ParseNumber("0x8000", 0xFFFF), 0x8000u);
  EXPECT_EQ(ParseNumber("0XffFF", 0xFFFF), 0xFFFFu);
  for (const char* bad : {"", "$", "0x", "12a", "-1", "65536", "$10000", "1 "}) {
    EXPECT_EQ(ParseNumber(bad, 0xFFFF), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace torvik::tools::test
