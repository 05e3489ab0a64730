#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Harness.h"

namespace torvik::test {
namespace {

std::string Bytes(const std::vector<std::uint8_t>& bytes) { return ToHex(std::string(bytes.begin(), bytes.end())); }

TEST(ObjectFile, WorkedExampleGivesItsFortySevenBytes) {
  Rig rig;
  for (const std::uint8_t byte : {0x21, 0x00, 0x00, 0xCD, 0x00, 0x00, 0x00}) rig.image.EmitByte(byte);
  rig.image.AddLocalReloc(1);
  rig.image.AddExternalRef("print", 4);
  rig.image.AddLineRecord(0, 2);
  rig.image.AddLineRecord(3, 3);
  rig.assembler.Symbols().Define("start", 0, false, true, true, std::nullopt);
  const std::string expected = FromHex(
      "07 00  21 00 00 CD 00 00 00"                 // code
      " 01 00  01 00"                               // one relocation at 1
      " 01 00  05 70 72 69 6E 74 00  01 00  04 00"  // print, referred to at 4
      " 01 00  05 73 74 61 72 74 00  00 00"         // start = 0
      " 02 00  02 00 00 00  03 00 03 00");          // lines 2 and 3
  EXPECT_EQ(expected.size(), 47u);
  EXPECT_EQ(Bytes(rig.image.Serialize(rig.assembler.Symbols())), ToHex(expected));
}

TEST(ObjectFile, EmptyImageGivesTenZeroBytes) {
  Rig rig;
  EXPECT_EQ(Bytes(rig.image.Serialize(rig.assembler.Symbols())), ToHex(std::string(10, '\0')));
}

TEST(ObjectFile, SixteenBitFieldsKeepTheirLowBitsLeastSignificantFirst) {
  ObjectModule module;
  module.code.assign(kMaxCodeBytes, 0);
  module.lines.push_back({12, 0x10});
  const auto bytes = CObjectFile::Serialize(module);
  EXPECT_EQ(ToHex(std::string(bytes.begin(), bytes.begin() + 2)), "00 40");
  EXPECT_EQ(ToHex(std::string(bytes.end() - 4, bytes.end())), "0C 00 10 00");
}

TEST(ObjectFile, AcceptsExactlyCapacityBytesThenRefuses) {
  CObjectFile image;
  for (int i = 0; i < kMaxCodeBytes; ++i) ASSERT_EQ(image.EmitByte(1), CObjectFile::EmitResult::Stored);
  EXPECT_EQ(image.EmitByte(2), CObjectFile::EmitResult::Overflowed);
  EXPECT_EQ(image.EmitByte(3), CObjectFile::EmitResult::Dropped);
  EXPECT_EQ(image.Code().size(), static_cast<std::size_t>(kMaxCodeBytes));
  image.Reset();
  EXPECT_EQ(image.EmitByte(4), CObjectFile::EmitResult::Stored);
}

TEST(ObjectFile, ReferencesGroupByNameWithCaseAndResetForgetsThem) {
  CObjectFile image;
  image.AddExternalRef("out", 1);
  image.AddExternalRef("OUT", 5);
  image.AddExternalRef("out", 9);
  ASSERT_EQ(image.ExternalCount(), 2u);
  EXPECT_EQ(image.External(0).addresses, (std::vector<std::int32_t>{1, 9}));
  EXPECT_EQ(image.External(1).name, "OUT");
  image.Reset();
  EXPECT_EQ(image.ExternalCount(), 0u);
}

TEST(ObjectFile, ListsNeverGrowPastTheirCapacity) {
  CObjectFile image;
  for (int i = 0; i < kMaxAddressesPerList + 5; ++i) {
    image.AddLocalReloc(i);
    image.AddExternalRef("x", i);
  }
  for (int i = 0; i < kMaxLineRecords + 5; ++i) image.AddLineRecord(i, i);
  EXPECT_EQ(image.LocalRelocations().addresses.size(), static_cast<std::size_t>(kMaxAddressesPerList));
  EXPECT_EQ(image.External(0).addresses.size(), static_cast<std::size_t>(kMaxAddressesPerList));
  EXPECT_EQ(image.LineRecords().size(), static_cast<std::size_t>(kMaxLineRecords));
}

ObjectModule SampleModule() {
  ObjectModule module;
  module.code = {0x21, 0x00, 0x00, 0xC3, 0x00, 0x00, 0x00, 0xC9};
  module.relocations = {1};
  module.externals = {{"print", {4}}};
  module.publics = {{"start", 0}, {"done", 7}};
  module.lines = {{2, 0}, {3, 3}, {4, 7}};
  return module;
}

TEST(ObjectReader, ReadsBackWhatWasWritten) {
  const auto bytes = CObjectFile::Serialize(SampleModule());
  const auto read = CObjectFile::Parse(bytes);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(CObjectFile::Serialize(read.module), bytes);
  EXPECT_EQ(read.module.publics[1].name, "done");
}

TEST(ObjectReader, RefusesEveryTruncationWithTheOffsetWhereItEnds) {
  const auto bytes = CObjectFile::Serialize(SampleModule());
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    const auto read =
        CObjectFile::Parse(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_FALSE(read.ok) << "cut at " << cut;
    EXPECT_LE(read.errorOffset, cut);
    EXPECT_NE(read.error, "");
  }
}

struct CorruptCase {
  const char* name;
  std::size_t offset;
  std::uint8_t value;
  const char* message;
  std::size_t errorOffset;
};

class CorruptObject : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptObject, IsRefusedWithAClearMessage) {
  auto bytes = CObjectFile::Serialize(SampleModule());
  bytes[GetParam().offset] = GetParam().value;
  const auto read = CObjectFile::Parse(bytes);
  EXPECT_FALSE(read.ok);
  EXPECT_NE(read.error.find(GetParam().message), std::string::npos) << read.error;
  EXPECT_EQ(read.errorOffset, GetParam().errorOffset);
}

// Offsets in the sample: code size 0, code 2..9, relocations 10..13,
// external count 14, name length 16, name 17..22, reference count 23.
INSTANTIATE_TEST_SUITE_P(Rows, CorruptObject,
                         ::testing::Values(CorruptCase{"relocation", 12, 7, "relocation address 7 outside", 12},
                                           CorruptCase{"namelength", 16, 0, "bad name length", 16},
                                           CorruptCase{"nameterminator", 22, 'x', "name not terminated", 22},
                                           CorruptCase{"codesize", 1, 0x50, "code size exceeds", 0},
                                           CorruptCase{"reference", 25, 9, "reference address 9 outside", 25}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ObjectReader, RefusesTrailingBytes) {
  auto bytes = CObjectFile::Serialize(SampleModule());
  bytes.push_back(0);
  EXPECT_FALSE(CObjectFile::Parse(bytes).ok);
}

TEST(ObjectWriter, LeavesNothingBehindWhenItCannotWrite) {
  TempDir dir;
  const std::vector<std::uint8_t> bytes(10, 0);
  WriteFile(dir / "old.otk", "old");
  EXPECT_FALSE(WriteFileAtomically(dir / "missing/x.otk", bytes));
  EXPECT_FALSE(WriteFileAtomically(dir.path(), bytes));
  EXPECT_FALSE(WriteFileAtomically(dir / "old.otk/x.otk", bytes));
  if (FileExists("/dev/full")) {
    EXPECT_FALSE(WriteFileAtomically("/dev/full", bytes));
  }
  EXPECT_EQ(ReadFile(dir / "old.otk"), "old");
  EXPECT_TRUE(WriteFileAtomically(dir / "old.otk", bytes));
  EXPECT_EQ(ReadFile(dir / "old.otk"), std::string(10, '\0'));
  const auto left = RunProcess("/bin/ls", {"ls", "-A"}, dir.path());
  EXPECT_EQ(left.out, "old.otk\n");
}

// Outputs written at a path that holds something already, or nothing: the
// new file takes the path's place whole, or nothing changes at all. A link
// at the path is replaced itself; what it leads to is left alone.
struct ReplaceCase {
  const char* name;
  const char* setup;   // shell commands run in the directory first
  const char* target;  // relative to the directory unless absolute
  bool written;
  const char* left;         // `ls -A` afterwards
  const char* second = "";  // a second output written together with the first
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class ReplaceInPlace : public ::testing::TestWithParam<ReplaceCase> {};

const std::string kLongName(250, 'n');
const std::string kLongNameListed = kLongName + "\n";

TEST_P(ReplaceInPlace, ReplacesWholeOrChangesNothing) {
  TempDir dir;
  const ReplaceCase& c = GetParam();
  ASSERT_EQ(RunProcess("/bin/sh", {"sh", "-c", c.setup}, dir.path()).status, 0);
  const auto place = [&dir](const char* path) { return path[0] == '/' ? std::string(path) : dir / path; };
  const std::string target = place(c.target);
  struct stat st {};
  const bool regular = ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  const std::string before = regular ? ReadFile(target) : "";
  const std::vector<std::uint8_t> bytes{1, 2, 3};
  std::vector<OutputFile> outputs = {{target, bytes}};
  if (*c.second != '\0') outputs.push_back({place(c.second), bytes});
  EXPECT_EQ(WriteOutputs(outputs).status == OutputStatus::Written, c.written);
  EXPECT_EQ(RunProcess("/bin/ls", {"ls", "-A"}, dir.path()).out, c.left);
  if (FileExists(dir / "real.otk")) {
    EXPECT_EQ(ReadFile(dir / "real.otk"), "old\n");
  }
  if (!c.written) {
    if (regular) {
      EXPECT_EQ(ReadFile(target), before);
    }
    return;
  }
  if (target.rfind("/dev/", 0) == 0) return;
  EXPECT_EQ(ReadFile(target), "\x01\x02\x03");
  ASSERT_EQ(::lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplaceInPlace,
    ::testing::Values(
        ReplaceCase{"new_target", "true", "x.otk", true, "x.otk\n"},
        ReplaceCase{"older_target", "echo old > x.otk", "x.otk", true, "x.otk\n"},
        ReplaceCase{"through_a_link", "echo old > real.otk && ln -s real.otk x.otk", "x.otk", true,
                    "real.otk\nx.otk\n"},
        ReplaceCase{"dangling_link", "ln -s nowhere.otk x.otk", "x.otk", true, "x.otk\n"},
        ReplaceCase{"pipe_at_the_path", "mkfifo x.otk", "x.otk", true, "x.otk\n"},
        ReplaceCase{"name_of_250_characters", "true", kLongName.c_str(), true, kLongNameListed.c_str()},
        ReplaceCase{"target_in_a_subdirectory", "mkdir sub", "sub/x.otk", true, "sub\n"},
        ReplaceCase{"target_is_a_directory", "mkdir x.otk", "x.otk", false, "x.otk\n"},
        ReplaceCase{"target_is_a_device", "true", "/dev/null", true, ""},
        ReplaceCase{"target_cannot_be_created", "true", "/proc/x.otk", false, ""},
        ReplaceCase{"second_output_on_a_full_disk", "echo old > x.otk", "x.otk", false, "x.otk\n", "/dev/full"},
        ReplaceCase{"second_output_cannot_be_created", "echo old > x.otk", "x.otk", false, "x.otk\n", "no/y.otk"},
        ReplaceCase{"two_outputs", "echo old > x.otk", "x.otk", true, "x.otk\ny.otk\n", "y.otk"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvik::test
