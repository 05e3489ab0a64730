// The linker: placement, relocation, external references and its refusals.
// Every expected image is worked out by hand from the modules' bytes.
#include <gtest/gtest.h>

#include "Linker.h"
#include "Output.h"
#include "ToolSupport.h"
#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

ObjectModule Module(const std::string& codeHex, std::vector<std::uint16_t> relocations = {},
                    std::vector<ObjectModule::External> externals = {},
                    std::vector<ObjectModule::Symbol> publics = {}) {
  ObjectModule module;
  module.code = Bytes(FromHex(codeHex));
  module.relocations = std::move(relocations);
  module.externals = std::move(externals);
  module.publics = std::move(publics);
  return module;
}

LinkOptions AtOrigin(std::uint32_t origin) {
  LinkOptions options;
  options.origin = origin;
  return options;
}

struct LinkCase {
  const char* name;
  std::vector<ObjectModule> modules;
  std::uint32_t origin;
  const char* expectedImage;
};

class LinkImage : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkImage, GivesTheImageWorkedOutByHand) {
  const LinkCase& c = GetParam();
  std::vector<LinkInput> inputs;
  for (std::size_t i = 0; i < c.modules.size(); ++i)
    inputs.push_back({std::string("m").append(std::to_string(i)), c.modules[i]});
  CapturingReporter capture;
  const LinkResult result = Link(inputs, AtOrigin(c.origin), capture.report);
  ASSERT_TRUE(result.ok) << capture.text.str();
  EXPECT_EQ(capture.text.str(), "");
  EXPECT_EQ(HexOf(result.image.bytes), ToHex(FromHex(c.expectedImage)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkImage,
    ::testing::Values(
        // ld hl,3 (relocatable) / ret: the base is added to the field.
        LinkCase{"RelocationAtOriginZero", {Module("21 03 00 C9", {1})}, 0, "21 03 00 C9"},
        LinkCase{"RelocationMovesWithTheOrigin", {Module("21 03 00 C9", {1})}, 0x8000, "21 03 80 C9"},
        // The second module's base is the origin plus the first one's size.
        LinkCase{"SecondModuleRelocatedByItsOwnBase",
                 {Module("00 00 00"), Module("C3 01 00", {1})},
                 0x0100,
                 "00 00 00 C3 04 01"},
        // call f / nop / ret, with f at offset 1 of the second module.
        LinkCase{"ExternalCallGetsTheDefiningModulesAddress",
                 {Module("CD 00 00 00 C9", {}, {{"f", {1}}}), Module("00 3E 01 C9", {}, {}, {{"f", 1}})},
                 0x0100,
                 "CD 06 01 00 C9  00 3E 01 C9"},
        // ld hl,t+2: the offset already in the field is kept.
        LinkCase{"ExternalAddsToTheOffsetInTheField",
                 {Module("21 02 00 00", {}, {{"t", {1}}}), Module("AA BB CC", {}, {}, {{"t", 0}})},
                 0x2000,
                 "21 06 20 00  AA BB CC"},
        // A later module may call an earlier one; references in both directions.
        LinkCase{"ModulesReferToEachOther",
                 {Module("CD 00 00 00 C9", {}, {{"b", {1}}}, {{"a", 4}}),
                  Module("C3 00 00 00", {}, {{"a", {1}}}, {{"b", 0}})},
                 0,
                 "CD 05 00 00 C9  C3 04 00 00"},
        // Two fields that name one symbol.
        LinkCase{"EveryReferenceOfAListIsResolved",
                 {Module("CD 00 00 00 CD 00 00 00", {}, {{"g", {1, 5}}}), Module("C9", {}, {}, {{"g", 0}})},
                 0x10,
                 "CD 18 00 00 CD 18 00 00  C9"},
        // Sums wrap at 16 bits like the machine's arithmetic.
        LinkCase{"FieldsWrapAtSixteenBits", {Module("21 FF FF", {1})}, 0x0002, "21 01 00"},
        // The image may end exactly at the top of memory.
        LinkCase{"ImageMayEndAtTheTopOfMemory", {Module("76")}, 0xFFFF, "76"},
        LinkCase{"EmptyModulesTakeNoRoom", {Module(""), Module("C3 00 00", {1})}, 0x40, "C3 40 00"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
  const char* name;
  std::vector<ObjectModule> modules;
  std::uint32_t origin;
  std::vector<std::string> expectedMessages;
};

class LinkRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(LinkRefusal, ReportsEveryProblemAndFails) {
  const RefusalCase& c = GetParam();
  std::vector<LinkInput> inputs;
  for (std::size_t i = 0; i < c.modules.size(); ++i)
    inputs.push_back({std::string("m").append(std::to_string(i)).append(".otk"), c.modules[i]});
  CapturingReporter capture;
  EXPECT_FALSE(Link(inputs, AtOrigin(c.origin), capture.report).ok);
  std::string expected;
  for (const auto& message : c.expectedMessages) expected += "tool: error: " + message + "\n";
  EXPECT_EQ(capture.text.str(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkRefusal,
    ::testing::Values(RefusalCase{"UndefinedExternal",
                                  {Module("CD 00 00 00", {}, {{"nowhere", {1}}})},
                                  0,
                                  {"undefined symbol \"nowhere\", referred to in \"m0.otk\""}},
                      RefusalCase{"EveryUndefinedExternalIsNamed",
                                  {Module("CD 00 00 00 C3 00 00 00", {}, {{"x", {1}}, {"y", {5}}})},
                                  0,
                                  {"undefined symbol \"x\", referred to in \"m0.otk\"",
                                   "undefined symbol \"y\", referred to in \"m0.otk\""}},
                      RefusalCase{"SymbolPublicInTwoModules",
                                  {Module("00", {}, {}, {{"dup", 0}}), Module("00", {}, {}, {{"dup", 0}})},
                                  0,
                                  {"symbol \"dup\" is public in both \"m0.otk\" and \"m1.otk\""}},
                      // Names are compared with case, so only the exact name is undefined.
                      RefusalCase{"NamesAreComparedWithCase",
                                  {Module("CD 00 00 00", {}, {{"Print", {1}}}), Module("C9", {}, {}, {{"print", 0}})},
                                  0,
                                  {"undefined symbol \"Print\", referred to in \"m0.otk\""}},
                      RefusalCase{"ImagePastSixtyFourKiB",
                                  {Module("00 00"), Module("00")},
                                  0xFFFE,
                                  {"\"m1.otk\" does not fit in 64 KiB: 1 bytes from $10000 would end at $10001"}},
                      RefusalCase{"FieldOutsideItsModule",
                                  {Module("21 00", {1})},
                                  0,
                                  {"a field at $0001 lies outside the code of \"m0.otk\""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkMap, ListsModulesAndSymbolsByAddress) {
  CapturingReporter capture;
  const std::vector<LinkInput> inputs = {{"a.otk", Module("CD 00 00 00 C9", {}, {{"f", {1}}}, {{"main", 0}})},
                                         {"b.otk", Module("00 C9", {}, {}, {{"f", 1}, {"e", 0}})}};
  const auto result = Link(inputs, AtOrigin(0x0100), capture.report);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(LinkMap(result),
            "origin $0100, 7 bytes\n"
            "\n"
            "modules\n"
            "  start  size   bank  file\n"
            "  $0100  $0005  -     a.otk\n"
            "  $0105  $0002  -     b.otk\n"
            "\n"
            "symbols\n"
            "  address  bank  symbol  file\n"
            "  $0100    -     main    a.otk\n"
            "  $0105    -     e       b.otk\n"
            "  $0106    -     f       b.otk\n");
}

struct HexCase {
  const char* name;
  std::string image;
  std::uint16_t origin;
  std::string expected;
};

class IntelHexOutput : public ::testing::TestWithParam<HexCase> {};

TEST_P(IntelHexOutput, GivesRecordsWithHandComputedChecksums) {
  Image image{GetParam().origin, Bytes(GetParam().image), {}};
  if (!image.bytes.empty()) image.spans = {{image.origin, image.origin + image.bytes.size()}};
  EXPECT_EQ(IntelHex(image), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntelHexOutput,
    ::testing::Values(HexCase{"EmptyImageIsTheEndRecordAlone", "", 0, ":00000001FF\n"},
                      // 04+80+00+00+21+03+80+C9 = 1F1, so the checksum is 100-F1 = 0F.
                      HexCase{"OneShortRecord", FromHex("21 03 80 C9"), 0x8000, ":04800000210380C90F\n:00000001FF\n"},
                      // Sixteen bytes a record: the seventeenth starts a record at 0010.
                      HexCase{"SeventeenBytesMakeTwoRecords", std::string(17, '\0'), 0,
                              ":10000000" + std::string(32, '0') + "F0\n:0100100000EF\n:00000001FF\n"},
                      HexCase{"RecordAtTheTopOfMemory", FromHex("76"), 0xFFFF, ":01FFFF00768B\n:00000001FF\n"}),
    [](const auto& info) { return std::string(info.param.name); });

Placement At(std::uint32_t address) { return {address, false, kNoBank}; }
Placement Ram(std::optional<std::uint32_t> address = std::nullopt) { return {address, true, kNoBank}; }
Placement Bank(int bank, std::optional<std::uint32_t> address = std::nullopt) { return {address, false, bank}; }

struct PlacementCase {
  const char* name;
  std::vector<std::pair<ObjectModule, Placement>> modules;  // named m0.otk, m1.otk, ...
  LinkOptions options;
  // "ORIGIN: BYTES", then " | bank N: BYTES" for each bank, then " | NAME=ADDR"
  // for each symbol; or the errors, one a line.
  std::string expected;
};

std::string Summary(const LinkResult& result) {
  std::string text = Hex(result.image.origin, 4) + ": " + HexOf(result.image.bytes);
  for (const BankImage& bank : result.banks)
    text += " | bank " + std::to_string(bank.bank) + ": " + HexOf(bank.image.bytes);
  for (const LinkedSymbol& symbol : result.symbols) text += " | " + symbol.name + "=" + Hex(symbol.address, 4);
  return text;
}

class LinkPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(LinkPlacement, PlacesFillsAndRefuses) {
  const PlacementCase& c = GetParam();
  std::vector<LinkInput> inputs;
  for (std::size_t i = 0; i < c.modules.size(); ++i) {
    inputs.push_back(
        {std::string("m").append(std::to_string(i)).append(".otk"), c.modules[i].first, c.modules[i].second});
  }
  CapturingReporter capture;
  const LinkResult result = Link(inputs, c.options, capture.report);
  std::string errors = capture.text.str();
  for (std::size_t at = 0; (at = errors.find("tool: error: ", at)) != std::string::npos;) errors.erase(at, 13);
  EXPECT_EQ(result.ok ? Summary(result) : errors, c.expected);
}

LinkOptions Fill(std::uint8_t fill) {
  LinkOptions options;
  options.fill = fill;
  return options;
}
LinkOptions Limit(std::uint32_t limit) {
  LinkOptions options;
  options.limit = limit;
  return options;
}
LinkOptions SmallWindow(bool combinedRom = false) {
  LinkOptions options;
  options.window = {0x40, 0x10};
  options.combinedRom = combinedRom;
  return options;
}

// Module bytes: 21 nn nn is ld hl,nn (a relocation or reference at 1), 00 a
// nop; a RAM module holds the FF bytes of reserved space.
INSTANTIATE_TEST_SUITE_P(
    Cases, LinkPlacement,
    ::testing::Values(
        PlacementCase{"FixedModulesAndFollowersGapsFilled",
                      {{Module("21 00 00", {1}), At(0x0004)}, {Module("C9"), {}}, {Module("76"), At(0x0000)}},
                      {},
                      "0000: 76 FF FF FF 21 04 00 C9"},
        PlacementCase{"FillByteChosen", {{Module("00"), {}}, {Module("C9"), At(3)}}, Fill(0xE5), "0000: 00 E5 E5 C9"},
        PlacementCase{"ExplicitOriginStartsTheImage", {{Module("C9"), At(2)}}, AtOrigin(0), "0000: FF FF C9"},
        PlacementCase{"LimitMayBeReached", {{Module("00 00 00 C9"), {}}}, Limit(3), "0000: 00 00 00 C9"},
        PlacementCase{"LimitPassed",
                      {{Module("00 00 00 00 C9"), {}}},
                      Limit(3),
                      "\"m0.otk\" ($0000-$0004) ends past the limit $0003\n"},
        PlacementCase{"OverlapNamesBothModules",
                      {{Module("00 00 00 00"), At(0x100)}, {Module("C9"), At(0x103)}},
                      {},
                      "\"m0.otk\" ($0100-$0103) and \"m1.otk\" ($0103-$0103) overlap\n"},
        PlacementCase{"FollowerRunsIntoAFixedModule",
                      {{Module("00 00"), {}}, {Module("00 00"), {}}, {Module("C9"), At(3)}},
                      {},
                      "\"m1.otk\" ($0002-$0003) and \"m2.otk\" ($0003-$0003) overlap\n"},
        PlacementCase{"PastTheEndOfMemory",
                      {{Module("00 00"), At(0xFFFF)}},
                      {},
                      "\"m0.otk\" does not fit in 64 KiB: 2 bytes from $FFFF would end at $10001\n"},
        // ld hl,v with v in RAM at $C001; RAM modules follow each other and write no bytes.
        PlacementCase{"RamLabelsGetAddressesAndNoBytes",
                      {{Module("21 00 00 00", {}, {{"w", {1}}}), {}},
                       {Module("FF FF", {}, {}, {{"v", 1}}), Ram(0xC000)},
                       {Module("FF", {}, {}, {{"w", 0}}), Ram()}},
                      {},
                      "0000: 21 02 C0 00 | v=C001 | w=C002"},
        PlacementCase{"RamModuleWithCodeRefused",
                      {{Module("3E 01"), Ram(0xC000)}},
                      {},
                      "\"m0.otk\" holds code or data, but a RAM module may only reserve space (.dbs, .dws)\n"},
        PlacementCase{"RamModuleNeedsAnAddress",
                      {{Module("FF"), Ram()}},
                      {},
                      "the RAM module \"m0.otk\" has no address: give the first RAM module one\n"},
        PlacementCase{"RamOverlapsRom",
                      {{Module("00 00"), {}}, {Module("FF"), Ram(1)}},
                      {},
                      "\"m0.otk\" ($0000-$0001) and \"m1.otk\" (RAM, $0001-$0001) overlap\n"},
        // Two banks share the window at $40; the fixed code refers into bank 2.
        PlacementCase{"BanksShareTheWindow",
                      {{Module("21 00 00 00", {}, {{"b", {1}}}), {}},
                       {Module("21 00 00", {1}), Bank(1)},
                       {Module("00 C9", {}, {}, {{"b", 1}}), Bank(2)},
                       {Module("C9"), Bank(2)}},
                      SmallWindow(),
                      "0000: 21 41 00 00 | bank 1: 21 40 00 | bank 2: 00 C9 C9 | b=0041"},
        PlacementCase{"OneBankOverlaps",
                      {{Module("00 00"), Bank(1)}, {Module("C9"), Bank(1, 0x41)}},
                      SmallWindow(),
                      "\"m0.otk\" (bank 1, $0040-$0041) and \"m1.otk\" (bank 1, $0041-$0041) overlap\n"},
        PlacementCase{"BankModuleOutsideTheWindow",
                      {{Module("00 00"), Bank(1, 0x4F)}},
                      SmallWindow(),
                      "\"m0.otk\" (bank 1, $004F-$0050) lies outside the bank window $0040-$004F\n"},
        PlacementCase{"FixedCodeInTheWindow",
                      {{Module("00"), At(0x48)}, {Module("C9"), Bank(1)}},
                      SmallWindow(),
                      "\"m0.otk\" ($0048-$0048) reaches into the bank window $0040-$004F\n"},
        // ld hl,b+$10 with b at $40 lands at $50, just past the window: allowed;
        // $11 further is not, nor a relocation of the bank's own that leaves it.
        PlacementCase{"ReferenceJustPastTheWindow",
                      {{Module("21 10 00 00", {}, {{"b", {1}}}), {}}, {Module("C9", {}, {}, {{"b", 0}}), Bank(1)}},
                      SmallWindow(),
                      "0000: 21 50 00 00 | bank 1: C9 | b=0040"},
        PlacementCase{
            "ReferenceLandsOutsideTheWindow",
            {{Module("21 11 00 00", {}, {{"b", {1}}}), {}}, {Module("C9", {}, {}, {{"b", 0}}), Bank(1)}},
            SmallWindow(),
            "a reference in \"m0.otk\" at $0001 to \"b\" lands at $0051, outside the window $0040-$004F of bank 1\n"},
        PlacementCase{"RelocationLeavesItsBank",
                      {{Module("21 20 00", {1}), Bank(3)}},
                      SmallWindow(),
                      "a reference in \"m0.otk\" at $0041 lands at $0060, outside the window $0040-$004F of bank 3\n"},
        // A combined ROM has bank N at N * $10: bank 1 at $10, behind the 17 fixed bytes.
        PlacementCase{"CombinedRomBankFilledToTheWindow",
                      {{Module("C9"), {}}, {Module("00"), Bank(1)}},
                      SmallWindow(true),
                      "0000: C9 | bank 1: 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"},
        PlacementCase{"CombinedRomFixedPartRunsIntoTheFirstBank",
                      {{Module(std::string(17 * 2, '0')), {}}, {Module("00"), Bank(1)}},
                      SmallWindow(true),
                      "the ROM image (17 bytes) runs into bank 1 at file offset $000010\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvik::tools::test
