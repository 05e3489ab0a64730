// Libraries: ar archives read member by member, in the layout binutils'
// ar writes (checked with its output by hand), and the members a link
// takes from them.
#include <gtest/gtest.h>

#include "Archive.h"
#include "Linker.h"
#include "ToolSupport.h"
#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

// A member header as ar writes it: blank-padded fields, then the data and
// a newline to an even offset.
std::string Member(const std::string& name, const std::string& data, const std::string& size = "") {
  auto field = [](std::string text, std::size_t width) { return text.append(width - text.size(), ' '); };
  std::string header = field(name, 16) + field("0", 12) + field("0", 6) + field("0", 6) + field("644", 8) +
                       field(size.empty() ? std::to_string(data.size()) : size, 10) + "`\n";
  return header + data + (data.size() % 2 != 0 ? "\n" : "");
}

const std::string kMagic = "!<arch>\n";

struct ArchiveCase {
  const char* name;
  std::string bytes;
  std::string expected;  // "name=data ..." or "error at OFFSET"
};

class ArchiveReading : public ::testing::TestWithParam<ArchiveCase> {};

TEST_P(ArchiveReading, GivesTheMembersOrTheFault) {
  const ArchiveReadResult read = ReadArchive(Bytes(GetParam().bytes));
  std::string got;
  for (const ArchiveMember& member : read.members) {
    got += member.name + "=" + Text(member.bytes) + "@" + std::to_string(member.offset) + " ";
  }
  if (!read.ok) got = read.error + " at " + std::to_string(read.errorOffset);
  EXPECT_EQ(got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveReading,
    ::testing::Values(
        // Data at 8 + 60; an odd size is followed by a newline.
        ArchiveCase{"GnuShortNames", kMagic + Member("a.otk/", "abc") + Member("b.otk/", "de"),
                    "a.otk=abc@68 b.otk=de@132 "},
        ArchiveCase{"CommonNamesWithoutSlash", kMagic + Member("a.otk", "x"), "a.otk=x@68 "},
        ArchiveCase{"SymbolTablesSkippedLongNamesLookedUp",
                    kMagic + Member("/", "1234") + Member("//", "long_member_name.otk/\nsecond_long_name.otk/\n") +
                        Member("/22", "y") + Member("/0", "z") + Member("__.SYMDEF", ""),
                    "second_long_name.otk=y@236 long_member_name.otk=z@298 "},
        ArchiveCase{"EmptyArchive", kMagic, ""}, ArchiveCase{"NoMagic", "!<thin>\n", "no archive magic line at 0"},
        ArchiveCase{"HeaderCutShort", kMagic + Member("a.otk/", "").substr(0, 59),
                    "archive ends inside a member header at 8"},
        ArchiveCase{"HeaderWithoutItsEnd", kMagic + Member("a.otk/", "").replace(58, 2, "  "),
                    "member header does not end with its two closing characters at 66"},
        ArchiveCase{"SizeNotANumber", kMagic + Member("a.otk/", "ab", "2x"), "member size is not a number at 56"},
        ArchiveCase{"SizePastTheEnd", kMagic + Member("a.otk/", "ab", "3"), "archive ends inside a member at 56"},
        ArchiveCase{"LongNameOutsideTheTable", kMagic + Member("//", "a.otk/\n") + Member("/9", "q"),
                    "member name refers outside the long-name table at 76"},
        ArchiveCase{"BsdNamesRefused", kMagic + Member("#1/8", "a.otk   "),
                    "member names of the BSD kind are not read at 8"}),
    [](const auto& info) { return std::string(info.param.name); });

// A module with its code, external references and public symbols.
ObjectModule Object(const std::string& codeHex, std::vector<ObjectModule::External> externals,
                    std::vector<ObjectModule::Symbol> publics) {
  ObjectModule module;
  module.code = Bytes(FromHex(codeHex));
  module.externals = std::move(externals);
  module.publics = std::move(publics);
  return module;
}

// call mul / nop: needs mul; the library's mul needs add, div is not needed.
LinkInput Main() { return {"main.otk", Object("CD 00 00 00", {{"mul", {1}}}, {{"start", 0}})}; }
LinkInput Library(std::optional<std::uint32_t> at = std::nullopt) {
  LinkInput library{"lib.a", {}, {at, false, kNoBank}, true, {}};
  library.members = {{"lib.a(add.otk)", Object("C9", {}, {{"add", 0}})},
                     {"lib.a(mul.otk)", Object("C3 00 00 00", {{"add", {1}}}, {{"mul", 0}})},
                     {"lib.a(div.otk)", Object("C9", {}, {{"div", 0}})}};
  return library;
}

struct SelectionCase {
  const char* name;
  std::vector<LinkInput> inputs;
  std::string expected;  // modules as "name@base", then each member taken and why; or the errors
};

class LibrarySelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(LibrarySelection, TakesOnlyTheMembersThatResolve) {
  CapturingReporter capture;
  const LinkResult result = Link(GetParam().inputs, {}, capture.report);
  std::string got = capture.text.str();
  if (result.ok) {
    for (const PlacedModule& module : result.modules) got += module.name + "@" + Hex(module.base, 4) + " ";
    for (const TakenMember& member : result.taken) {
      got += "| " + result.modules[member.module].name + " for " + member.symbol + " in " + member.referrer + " ";
    }
  }
  EXPECT_EQ(got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LibrarySelection,
    ::testing::Values(
        // add is wanted only once mul is taken: a second round takes it, and
        // both stand where the library is named, in the archive's order (in
        // which the members taken are also listed).
        SelectionCase{"MembersTakenRoundAfterRound",
                      {Main(), Library()},
                      "main.otk@0000 lib.a(add.otk)@0004 lib.a(mul.otk)@0005 "
                      "| lib.a(add.otk) for add in lib.a(mul.otk) | lib.a(mul.otk) for mul in main.otk "},
        SelectionCase{"LibraryNamedFirst",
                      {Library(), Main()},
                      "lib.a(add.otk)@0000 lib.a(mul.otk)@0001 main.otk@0005 "
                      "| lib.a(add.otk) for add in lib.a(mul.otk) | lib.a(mul.otk) for mul in main.otk "},
        SelectionCase{"LibraryAtAnAddress",
                      {Main(), Library(0x100)},
                      "main.otk@0000 lib.a(add.otk)@0100 lib.a(mul.otk)@0101 "
                      "| lib.a(add.otk) for add in lib.a(mul.otk) | lib.a(mul.otk) for mul in main.otk "},
        SelectionCase{"NothingOpenNothingTaken", {{"m.otk", Object("C9", {}, {})}, Library()}, "m.otk@0000 "},
        // The module's own add makes the member's unnecessary.
        SelectionCase{"DefinedSymbolsAreNotTakenAgain",
                      {Main(), {"add.otk", Object("C9", {}, {{"add", 0}})}, Library()},
                      "main.otk@0000 add.otk@0004 lib.a(mul.otk)@0005 | lib.a(mul.otk) for mul in main.otk "},
        SelectionCase{"NoMemberResolves",
                      {{"m.otk", Object("CD 00 00 00", {{"sqrt", {1}}}, {})}, Library()},
                      "tool: error: undefined symbol \"sqrt\", referred to in \"m.otk\"\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvik::tools::test
