// From source to running program: the modules of examples/link assembled
// by the real assembler, linked by otklink in several places and orders,
// and run on the z80ex Z80 until HALT. What the program must leave is
// worked out by hand from its source.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "Machine.h"
#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

// The sizes of the modules and the offsets of their public symbols, from
// the encodings of their instructions (main: 34 bytes of code, upcase's 9,
// 8 bytes of numbers.bin; text: 15 bytes of greeting, 15 of upcopy, halt).
const std::map<std::string, std::uint32_t> kModuleSize = {{"main", 0x33}, {"sum", 0x0E}, {"text", 0x1F}};
const std::map<std::string, std::pair<std::string, std::uint32_t>> kSymbols = {
    {"start", {"main", 0x00}},    {"upcase", {"main", 0x22}}, {"sum", {"sum", 0x00}},
    {"greeting", {"text", 0x00}}, {"upcopy", {"text", 0x0F}}, {"finish", {"text", 0x1E}}};

// Assembles the example's modules once for all the cases.
class LinkedExample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (const auto& entry : std::filesystem::directory_iterator(ExampleDir())) {
      const auto extension = entry.path().extension();
      if (extension == ".asm" || extension == ".inc" || extension == ".bin") {
        std::filesystem::copy_file(entry.path(), *dir_ / entry.path().filename().string());
      }
    }
    for (const auto& [module, size] : kModuleSize) {
      const auto result = RunProcess(TorvikPath(), {TorvikPath(), module + ".asm", module + ".otk"}, dir_->path());
      ASSERT_EQ(result.status, 0) << result.out;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static const TempDir& Dir() { return *dir_; }

 private:
  static TempDir* dir_;
};

TempDir* LinkedExample::dir_ = nullptr;

// Where each symbol lands for modules placed in `order` from `origin`.
std::map<std::string, std::uint16_t> ExpectedAddresses(const std::vector<std::string>& order, std::uint32_t origin) {
  std::map<std::string, std::uint32_t> base;
  for (const auto& module : order) {
    base[module] = origin;
    origin += kModuleSize.at(module);
  }
  std::map<std::string, std::uint16_t> addresses;
  for (const auto& [symbol, place] : kSymbols) {
    addresses[symbol] = static_cast<std::uint16_t>(base[place.first] + place.second);
  }
  return addresses;
}

// The symbols of a link map: "  $ADDR    bank  name  file".
std::map<std::string, std::uint16_t> MapSymbols(const std::string& map) {
  std::map<std::string, std::uint16_t> symbols;
  const std::regex row(R"(^  \$([0-9A-F]{4}) +- +(\w+) +\w+\.otk$)");
  std::istringstream lines(map);
  std::string line;
  bool inSymbols = false;
  while (std::getline(lines, line)) {
    if (line == "symbols") inSymbols = true;
    std::smatch match;
    if (inSymbols && std::regex_match(line, match, row)) {
      symbols[match[2]] = static_cast<std::uint16_t>(std::stoul(match[1], nullptr, 16));
    }
  }
  return symbols;
}

struct PlacementCase {
  const char* name;
  std::vector<std::string> order;
  std::uint32_t origin;
};

class RunsToHalt : public LinkedExample, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(RunsToHalt, LeavesTheSumAndTheCopiedTextWhereverItIsPlaced) {
  const PlacementCase& c = GetParam();
  std::vector<std::string> args = {"-o",    std::string(c.name) + ".bin", "--org", std::to_string(c.origin),
                                   "--map", std::string(c.name) + ".map"};
  for (const auto& module : c.order) args.push_back(module + ".otk");
  const auto linked = RunTool("otklink", args, Dir().path());
  ASSERT_EQ(linked.status, 0) << linked.err;
  const auto expected = ExpectedAddresses(c.order, c.origin);
  ASSERT_EQ(MapSymbols(ReadFile(Dir() / (std::string(c.name) + ".map"))), expected);

  Machine machine;
  ASSERT_TRUE(
      machine.Load(Bytes(ReadFile(Dir() / (std::string(c.name) + ".bin"))), static_cast<std::uint16_t>(c.origin)));
  machine.SetPC(expected.at("start"));
  const auto run = machine.Run(100000);
  ASSERT_TRUE(run.halted);
  EXPECT_EQ(run.haltAddress, expected.at("finish"));
  EXPECT_EQ(machine.PeekWord(0xF000), 10 + 20 + 30 + 40 + 50 + 60 + 70 + 250);  // numbers.bin
  EXPECT_EQ(machine.Peek(0xF002), 7);
  EXPECT_EQ(machine.PeekString(0xF010, 64), "LINKER!");  // "Hello, linker!" from offset 7, in upper case
  const Registers r = machine.Read();
  EXPECT_EQ(r.sp, 0xFF00);                        // every call returned
  EXPECT_EQ(r.hl, expected.at("greeting") + 14);  // at the greeting's NUL
  EXPECT_EQ(r.de, 0xF017);                        // at the copy's NUL
  EXPECT_EQ(r.bc >> 8, 7);                        // B: characters copied
  EXPECT_EQ(r.af, 0x0744);                        // A = B; flags of "or a" on 0: Z and P/V
}

INSTANTIATE_TEST_SUITE_P(Cases, RunsToHalt,
                         ::testing::Values(PlacementCase{"AtZero", {"main", "sum", "text"}, 0},
                                           PlacementCase{"AtPage1", {"main", "sum", "text"}, 0x0100},
                                           PlacementCase{"HighInMemory", {"main", "sum", "text"}, 0x8123},
                                           PlacementCase{"OtherOrder", {"text", "sum", "main"}, 0x4000},
                                           PlacementCase{"EntryLast", {"sum", "text", "main"}, 0x0100}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkedExample, OtkrunPrintsTheHaltTheRegistersAndTheMemory) {
  ASSERT_EQ(
      RunTool("otklink", {"-o", "p.bin", "--org", "$100", "main.otk", "sum.otk", "text.otk"}, Dir().path()).status, 0);
  const auto run =
      RunTool("otkrun", {"--org", "0x100", "--dump", "$F000:3", "--dump", "$F010:8", "p.bin"}, Dir().path());
  EXPECT_EQ(run.status, 0) << run.err;
  // 185 instructions: 58 up to the sum's return and its padding byte, 5
  // more to the copy, 117 in it (six letters, '!' and the NUL), 5 to HALT.
  EXPECT_THAT(run.out, ::testing::StartsWith("halted at $015F after 185 instructions\nAF=0744 BC=07"));
  EXPECT_THAT(run.out, ::testing::HasSubstr(" DE=F017 HL=014F "));
  EXPECT_THAT(run.out, ::testing::HasSubstr(" SP=FF00 PC=015F\n"));
  // Sixteen columns of three characters a row, whatever the length.
  EXPECT_THAT(run.out,
              ::testing::EndsWith("\nF000: 12 02 07" + std::string(13 * 3 + 2, ' ') + "|...|\n" +
                                  "F010: 4C 49 4E 4B 45 52 21 00" + std::string(8 * 3 + 2, ' ') + "|LINKER!.|\n"));
}

TEST_F(LinkedExample, OtklinkWritesIntelHex) {
  ASSERT_EQ(RunTool("otklink", {"-o", "p.hex", "--format", "ihex", "--org", "$100", "sum.otk"}, Dir().path()).status,
            0);
  // ex de,hl / ld hl,0 / ld a,(de) / add a,l / ld l,a / jr nc,+1 / inc h /
  // inc de / djnz -9 / ret: 14 bytes at $0100, checksum by hand.
  EXPECT_EQ(ReadFile(Dir() / "p.hex"), ":0E010000EB2100001A856F3001241310F7C99F\n:00000001FF\n");
}

struct MachineCase {
  const char* name;
  std::string code;
  std::uint64_t instructions;
  bool halted;
  std::uint16_t haltAddress;
};

class MachineRun : public ::testing::TestWithParam<MachineCase> {};

TEST_P(MachineRun, CountsInstructionsAndFindsTheHalt) {
  Machine machine;
  ASSERT_TRUE(machine.Load(Bytes(GetParam().code), 0));
  machine.SetPC(0);
  const auto run = machine.Run(100);
  EXPECT_EQ(run.halted, GetParam().halted);
  EXPECT_EQ(run.instructions, GetParam().instructions);
  if (run.halted) {
    EXPECT_EQ(run.haltAddress, GetParam().haltAddress);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MachineRun,
                         ::testing::Values(MachineCase{"LoadThenHalt", FromHex("3E 05 76"), 2, true, 2},
                                           // A prefixed instruction counts once.
                                           MachineCase{"PrefixedInstruction", FromHex("DD 21 34 12 76"), 2, true, 4},
                                           // ld sp,$8000 / call 7 / halt / ret
                                           MachineCase{"CallAndReturn", FromHex("31 00 80 CD 07 00 76 C9"), 4, true, 6},
                                           MachineCase{"LoopWithoutHaltStopsAtTheLimit", FromHex("18 FE"), 100, false,
                                                       0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RunCliCase {
  const char* name;
  std::string image;
  std::vector<std::string> args;
  int status;
  std::string err;
};

class RunCommandLine : public ::testing::TestWithParam<RunCliCase> {};

TEST_P(RunCommandLine, RefusesWhatItCannotRun) {
  TempDir dir;
  WriteFile(dir / "p.bin", GetParam().image);
  auto args = GetParam().args;
  args.push_back("p.bin");
  const auto result = RunTool("otkrun", args, dir.path());
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(result.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunCommandLine,
    ::testing::Values(RunCliCase{"NoHaltWithinTheLimit",
                                 FromHex("18 FE"),
                                 {"--max", "50"},
                                 1,
                                 "otkrun: error: no HALT within 50 instructions\n"},
                      RunCliCase{"ImagePastTheEndOfMemory",
                                 FromHex("00 76"),
                                 {"--org", "$FFFF"},
                                 1,
                                 "otkrun: error: \"p.bin\" (2 bytes) does not fit in memory from $FFFF\n"},
                      RunCliCase{"ImageLargerThanMemory",
                                 std::string(0x10001, '\x76'),
                                 {},
                                 1,
                                 "otkrun: error: \"p.bin\" is too large (65537 bytes; at most 65536 are read)\n"},
                      RunCliCase{"DumpWithoutLength",
                                 FromHex("76"),
                                 {"--dump", "$F000"},
                                 2,
                                 "usage: otkrun [--org ADDR] [--entry ADDR] [--sp ADDR] [--max INSTRUCTIONS] "
                                 "[--dump ADDR:LENGTH]... IMAGE.bin\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Machine, RefusesAnImagePastTheEndOfMemory) {
  Machine machine;
  EXPECT_TRUE(machine.Load({0x76}, 0xFFFF));
  EXPECT_FALSE(machine.Load({0x00, 0x76}, 0xFFFF));
}

}  // namespace
}  // namespace torvik::tools::test
