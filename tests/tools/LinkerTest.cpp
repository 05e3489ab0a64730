// The linker: placement, relocation, external references and its refusals.
// Every expected image is worked out by hand from the modules' bytes.
#include <gtest/gtest.h>

#include "Linker.h"
#include "Output.h"
#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

ObjectModule Module(const std::string& codeHex, std::vector<std::uint16_t> relocations = {},
                    std::vector<ObjectModule::External> externals = {}, std::vector<ObjectModule::Symbol> publics = {}) {
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
  for (std::size_t i = 0; i < c.modules.size(); ++i) inputs.push_back({std::string("m").append(std::to_string(i)), c.modules[i]});
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
                 {Module("00 00 00"), Module("C3 01 00", {1})}, 0x0100, "00 00 00 C3 04 01"},
        // call f / nop / ret, with f at offset 1 of the second module.
        LinkCase{"ExternalCallGetsTheDefiningModulesAddress",
                 {Module("CD 00 00 00 C9", {}, {{"f", {1}}}), Module("00 3E 01 C9", {}, {}, {{"f", 1}})}, 0x0100,
                 "CD 06 01 00 C9  00 3E 01 C9"},
        // ld hl,t+2: the offset already in the field is kept.
        LinkCase{"ExternalAddsToTheOffsetInTheField",
                 {Module("21 02 00 00", {}, {{"t", {1}}}), Module("AA BB CC", {}, {}, {{"t", 0}})}, 0x2000,
                 "21 06 20 00  AA BB CC"},
        // A later module may call an earlier one; references in both directions.
        LinkCase{"ModulesReferToEachOther",
                 {Module("CD 00 00 00 C9", {}, {{"b", {1}}}, {{"a", 4}}),
                  Module("C3 00 00 00", {}, {{"a", {1}}}, {{"b", 0}})},
                 0, "CD 05 00 00 C9  C3 04 00 00"},
        // Two fields that name one symbol.
        LinkCase{"EveryReferenceOfAListIsResolved",
                 {Module("CD 00 00 00 CD 00 00 00", {}, {{"g", {1, 5}}}), Module("C9", {}, {}, {{"g", 0}})}, 0x10,
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
  for (std::size_t i = 0; i < c.modules.size(); ++i) inputs.push_back({std::string("m").append(std::to_string(i)).append(".otk"), c.modules[i]});
  CapturingReporter capture;
  EXPECT_FALSE(Link(inputs, AtOrigin(c.origin), capture.report).ok);
  std::string expected;
  for (const auto& message : c.expectedMessages) expected += "tool: error: " + message + "\n";
  EXPECT_EQ(capture.text.str(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkRefusal,
    ::testing::Values(
        RefusalCase{"UndefinedExternal",
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
    ::testing::Values(
        HexCase{"EmptyImageIsTheEndRecordAlone", "", 0, ":00000001FF\n"},
        // 04+80+00+00+21+03+80+C9 = 1F1, so the checksum is 100-F1 = 0F.
        HexCase{"OneShortRecord", FromHex("21 03 80 C9"), 0x8000, ":04800000210380C90F\n:00000001FF\n"},
        // Sixteen bytes a record: the seventeenth starts a record at 0010.
        HexCase{"SeventeenBytesMakeTwoRecords", std::string(17, '\0'), 0,
                ":10000000" + std::string(32, '0') + "F0\n:0100100000EF\n:00000001FF\n"},
        HexCase{"RecordAtTheTopOfMemory", FromHex("76"), 0xFFFF, ":01FFFF00768B\n:00000001FF\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvik::tools::test
