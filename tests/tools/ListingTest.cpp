// otkdump's listing: sources assembled by the real assembler, listed
// against their object files. Addresses and bytes are the Z80 encodings,
// worked out by hand.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

constexpr const char* kHeading = "addr  code         line  source\n";

// One listing row: address and bytes (empty for none), line, text.
std::string Row(const std::string& address, const std::string& bytes, int line, const std::string& text) {
  std::string row = (address.empty() ? std::string(4, ' ') : address) + "  " + bytes;
  row.resize(18, ' ');
  const std::string number = std::to_string(line);
  row += std::string(5 - number.size(), ' ') + number + "  " + text;
  row.resize(row.find_last_not_of(' ') + 1);
  return row + "\n";
}

std::string File(const std::string& name) { return "---- " + name + "\n"; }

struct ListingCase {
  const char* name;
  std::map<std::string, std::string> files;
  std::string expected;
};

class Listing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(Listing, ShowsEachLineWithItsAddressAndBytes) {
  TempDir dir;
  for (const auto& [name, text] : GetParam().files) WriteFile(dir / name, text);
  const auto assembled = RunProcess(TorvikPath(), {TorvikPath(), "s.asm", "s.otk"}, dir.path());
  ASSERT_EQ(assembled.status, 0) << assembled.out;
  const auto result = RunTool("otkdump", {"-s", "s.asm", "s.otk"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, kHeading + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Listing,
    ::testing::Values(
        ListingCase{"InstructionsAndDataBetweenThem",
                    {{"s.asm", "; demo\n .ext out\nstart:: ld a,1\n call out\nmsg: .db \"hi\",0\n .dw start\n ret\n"}},
                    File("s.asm") + Row("", "", 1, "; demo") + Row("", "", 2, " .ext out") +
                        Row("0000", "3E 01", 3, "start:: ld a,1") +
                        // the extra byte 0 of an external operand belongs to the call
                        Row("0002", "CD 00 00 00", 4, " call out") + Row("0006", "68 69 00", 5, "msg: .db \"hi\",0") +
                        Row("0009", "00 00", 6, " .dw start") + Row("000B", "C9", 7, " ret")},
        ListingCase{"IncludedLinesStandWhereTheyWereIncluded",
                    {{"s.asm", " nop\n#include \"i.inc\"\n halt\n"}, {"i.inc", " ld hl,$1234\n"}},
                    File("s.asm") + Row("0000", "00", 1, " nop") + File("i.inc") +
                        Row("0001", "21 34 12", 1, " ld hl,$1234") + File("s.asm") + Row("0004", "76", 3, " halt")},
        ListingCase{"DirectivesSizedWithTheSymbolsBeforeThem",
                    {{"s.asm", "n = 3\n .dbs n\n .pad 5\n nop\n .db 1 \\ .dw $0203\n"}},
                    File("s.asm") + Row("", "", 1, "n = 3") + Row("0000", "FF FF FF", 2, " .dbs n") +
                        Row("0003", "FF FF", 3, " .pad 5") + Row("0005", "00", 4, " nop") +
                        Row("0006", "01 03 02", 5, " .db 1 \\ .dw $0203")},
        ListingCase{"LongDataContinuesOnRowsOfFour",
                    {{"s.asm", " .db 1,2,3,4,5,6\n ret\n"}},
                    File("s.asm") + Row("0000", "01 02 03 04", 1, " .db 1,2,3,4,5,6") + "0004  05 06\n" +
                        Row("0006", "C9", 2, " ret")},
        ListingCase{
            "LinesAfterTheEndHaveNoBytes",
            {{"s.asm", " nop\n .end now\n ret\n"}},
            File("s.asm") + Row("0000", "00", 1, " nop") + Row("", "", 2, " .end now") + Row("", "", 3, " ret")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Listing, DirectivesThatNoLongerAddUpShareTheirBytesUnderTheFirst) {
  TempDir dir;
  WriteFile(dir / "s.asm", " nop\n .incbin \"d.bin\"\n .db 9\n ret\n");
  WriteFile(dir / "d.bin", "ABC");
  ASSERT_EQ(RunProcess(TorvikPath(), {TorvikPath(), "s.asm", "s.otk"}, dir.path()).status, 0);
  WriteFile(dir / "d.bin", "A");  // changed since: 1 + 1 bytes are not the 4 in the object
  const auto result = RunTool("otkdump", {"-s", "s.asm", "s.otk"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kHeading + File("s.asm") + Row("0000", "00", 1, " nop") +
                            Row("0001", "41 42 43 09", 2, " .incbin \"d.bin\"") + Row("", "", 3, " .db 9") +
                            Row("0005", "C9", 4, " ret"));
}

TEST(Listing, SourceThatDisagreesIsListedByLineRecord) {
  TempDir dir;
  WriteFile(dir / "s.asm", " nop\n ret\n");
  ASSERT_EQ(RunProcess(TorvikPath(), {TorvikPath(), "s.asm", "s.otk"}, dir.path()).status, 0);
  WriteFile(dir / "s.asm", "; added later\n nop\n ret\n");
  const auto result = RunTool("otkdump", {"-s", "s.asm", "s.otk"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "otkdump: warning: the source does not agree with the object's line table at line 2 of \"s.asm\"; "
            "listing each line record with the line of its number in \"s.asm\"\n");
  EXPECT_EQ(result.out,
            kHeading + File("s.asm") + Row("0000", "00", 1, "; added later") + Row("0001", "C9", 2, " nop"));
}

TEST(Listing, UnreadableTableOrSourceIsAnError) {
  TempDir dir;
  WriteFile(dir / "s.asm", " nop\n");
  ASSERT_EQ(RunProcess(TorvikPath(), {TorvikPath(), "s.asm", "s.otk"}, dir.path()).status, 0);
  auto result = RunTool("otkdump", {"-t", "none.tab", "-s", "s.asm", "s.otk"}, dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "otkdump: error: no instructions could be loaded from the table \"none.tab\"\n");
  result = RunTool("otkdump", {"-s", "none.asm", "s.otk"}, dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error #100 in none.asm, line 0: Cannot open file: \"none.asm\"\n");
}

}  // namespace
}  // namespace torvik::tools::test

namespace torvik::tools::test {
namespace {

// At the linked address the relocations hold the module's base too.
TEST(Listing, AtTheLinkedAddressFromBaseOrMap) {
  TempDir dir;
  WriteFile(dir / "s.asm", " ld hl,here\nhere: ret\n");
  ASSERT_EQ(RunProcess(TorvikPath(), {TorvikPath(), "s.asm", "s.otk"}, dir.path()).status, 0);
  const std::string expected =
      kHeading + File("s.asm") + Row("8000", "21 03 80", 1, " ld hl,here") + Row("8003", "C9", 2, "here: ret");
  EXPECT_EQ(RunTool("otkdump", {"-s", "s.asm", "--base", "0x8000", "s.otk"}, dir.path()).out, expected);
  WriteFile(dir / "p.map", "modules\n  start  size   bank  file\n  $8000  $0004  -     build/s.otk\n");
  EXPECT_EQ(RunTool("otkdump", {"-s", "s.asm", "--map", "p.map", "s.otk"}, dir.path()).out, expected);
  std::filesystem::copy_file(dir / "s.otk", dir / "t.otk");
  EXPECT_EQ(RunTool("otkdump", {"-s", "s.asm", "--map", "p.map", "t.otk"}, dir.path()).err,
            "otkdump: error: the map \"p.map\" places no module \"t.otk\"\n");
}

}  // namespace
}  // namespace torvik::tools::test
