// Object files written at every capacity of the image, read back field by
// field; and runs whose object file cannot be written, which must leave no
// file behind but the ones they were given. Cases that need permissions to
// deny reading or writing are skipped when the tests run as root, whom
// permissions do not stop.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string_view>

#include "Objectfile.h"
#include "Process.h"

namespace torvik::test {
namespace {

std::string Repeat(int count, const std::function<std::string(int)>& line) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line(i);
  return text;
}

std::string Named(const char* prefix, std::size_t i, const char* suffix = "") {
  return std::string(prefix).append(std::to_string(i)).append(suffix);
}

struct Capacity {
  const char* name;
  std::string source;
  std::function<void(const ObjectModule&)> check;
};

std::vector<Capacity> Capacities() {
  return {
      {"code_bytes", " .dbs 16383\n nop\n",
       [](const ObjectModule& m) {
         ASSERT_EQ(m.code.size(), 16384u);
         EXPECT_EQ(m.code.front(), 0xFF);
         EXPECT_EQ(m.code[16382], 0xFF);
         EXPECT_EQ(m.code.back(), 0x00);
         ASSERT_EQ(m.lines.size(), 1u);
         EXPECT_EQ(m.lines[0].line, 2);
         EXPECT_EQ(m.lines[0].address, 16383);
       }},
      {"line_records", Repeat(16384, [](int) { return " nop\n"; }),
       [](const ObjectModule& m) {
         ASSERT_EQ(m.lines.size(), 16384u);
         for (std::size_t i = 0; i < m.lines.size(); ++i) {
           ASSERT_EQ(m.lines[i].address, i);
           ASSERT_EQ(m.lines[i].line, i + 1);
         }
       }},
      {"relocations", "s:\n" + Repeat(8192, [](int) { return " .dw s\n"; }),
       [](const ObjectModule& m) {
         ASSERT_EQ(m.code.size(), 16384u);
         ASSERT_EQ(m.relocations.size(), 8192u);
         for (std::size_t i = 0; i < m.relocations.size(); ++i) ASSERT_EQ(m.relocations[i], 2 * i);
       }},
      {"external_symbols",
       Repeat(511,
              [](int i) {
                const auto n = static_cast<std::size_t>(i) + 1;
                return Named(" .ext e", n, "\n") + Named(" call e", n, "\n");
              }),
       [](const ObjectModule& m) {
         ASSERT_EQ(m.externals.size(), 511u);
         for (std::size_t i = 0; i < m.externals.size(); ++i) {
           ASSERT_EQ(m.externals[i].name, Named("e", i + 1));
           ASSERT_EQ(m.externals[i].addresses, std::vector<std::uint16_t>{static_cast<std::uint16_t>(4 * i + 1)});
         }
       }},
      {"references_to_one_external", " .ext e\nb = e\n" + Repeat(4096, [](int) { return " ld hl,e+b\n"; }),
       [](const ObjectModule& m) {
         ASSERT_EQ(m.externals.size(), 1u);
         ASSERT_EQ(m.externals[0].addresses.size(), 8192u);
         // Each load refers to e twice, at the same operand address.
         for (std::size_t i = 0; i < 8192; ++i) ASSERT_EQ(m.externals[0].addresses[i], 4 * (i / 2) + 1);
       }},
      {"public_symbols", Repeat(16384, [](int i) { return Named("s", static_cast<std::size_t>(i), "::\n"); }),
       [](const ObjectModule& m) {
         ASSERT_EQ(m.publics.size(), 16384u);
         EXPECT_EQ(m.publics.front().name, "s0");
         EXPECT_EQ(m.publics.back().name, "s16383");
         EXPECT_EQ(m.publics.back().value, 0);
       }},
  };
}

void PrintTo(const Capacity& c, std::ostream* os) { *os << c.name; }

class ObjectAtCapacity : public ::testing::TestWithParam<Capacity> {};

TEST_P(ObjectAtCapacity, IsWrittenWholeAndReadsBack) {
  TempDir dir;
  const std::string program = dir / InstallTorvik(dir, DefaultTable());
  WriteFile(dir / "prog.asm", GetParam().source);
  const auto run = RunProcess(program, {"bin/Torvik", "prog.asm", "prog.otk"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string bytes = ReadFile(dir / "prog.otk");
  const auto parsed = CObjectFile::Parse(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  ASSERT_TRUE(parsed.ok) << parsed.error << " at " << parsed.errorOffset;
  GetParam().check(parsed.module);
}

INSTANTIATE_TEST_SUITE_P(Capacities, ObjectAtCapacity, ::testing::ValuesIn(Capacities()),
                         [](const auto& info) { return std::string(info.param.name); });

// Sources of any size take memory bounded by what can assemble; the lines
// of a large one are cheap to make: a file extended past its end reads as
// NUL bytes without taking disk space.
struct HugeSource {
  const char* name;
  std::function<void(const std::string&)> make;  // writes the source
  int status;
  std::string lastLine;  // of standard output
};

void Extend(const std::string& path, off_t size) { ASSERT_EQ(::truncate(path.c_str(), size), 0); }

std::vector<HugeSource> HugeSources() {
  constexpr off_t kLarge = off_t{1} << 28;
  const auto lines = [](const std::string& line, int count = 65534) {
    return [line, count](const std::string& path) {
      std::ofstream out(path, std::ios::binary);
      for (int i = 0; i < count; ++i) out << line;
    };
  };
  return {
      {"a_line_of_nul_alone_is_empty", [](const std::string& path) { WriteFile(path, ""), Extend(path, kLarge); }, 0,
       "Assembly complete - 0 error(s), 0 warning(s)"},
      {"a_line_that_goes_on_and_on",
       [](const std::string& path) { WriteFile(path, " nop\n" + std::string(1 << 20, 'a')), Extend(path, kLarge); }, 1,
       "Error #200 in prog.asm, line 2: Line is too long (max of 1023 chars)"},
      {"lines_each_of_the_longest_text", lines(" " + std::string(65533, 'a') + "\n", 3000), 1,
       "Assembly complete - 3000 error(s), 0 warning(s)"},
      {"the_most_text_the_passes_keep", lines(" .db " + Repeat(508, [](int) { return "1,"; }) + "1\r\n"), 1,
       "Assembly complete - 1 error(s), 0 warning(s)"},
      {"the_most_statements", lines(" nop" + Repeat(203, [](int) { return "\\ nop"; }) + "\n"), 1,
       "Assembly complete - 1 error(s), 0 warning(s)"},
      {"the_most_statements_of_size_zero", lines(" .dbs 0" + Repeat(126, [](int) { return "\\ .dbs 0"; }) + "\n"), 0,
       "Assembly complete - 0 error(s), 0 warning(s)"},
  };
}

void PrintTo(const HugeSource& c, std::ostream* os) { *os << c.name; }

class SourceOfAnySize : public ::testing::TestWithParam<HugeSource> {};

TEST_P(SourceOfAnySize, TakesBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  // Under the sanitizers memory says nothing, and the sources of 65534
  // lines full of statements take half a minute each.
  if (std::string_view(GetParam().name).starts_with("the_most_")) GTEST_SKIP() << "memory is not measured here";
#endif
  TempDir dir;
  const std::string program = dir / InstallTorvik(dir, DefaultTable());
  GetParam().make(dir / "prog.asm");
  const auto run = RunProcess(program, {"bin/Torvik", "prog.asm", "prog.otk"}, dir.path());
  EXPECT_EQ(run.status, GetParam().status);
  const std::string out = run.out.substr(0, run.out.size() - 1);
  EXPECT_EQ(out.substr(out.rfind('\n') + 1), GetParam().lastLine);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(run.maxResidentKb, 128 * 1024);
#endif
}

INSTANTIATE_TEST_SUITE_P(Capacities, SourceOfAnySize, ::testing::ValuesIn(HugeSources()),
                         [](const auto& info) { return std::string(info.param.name); });

// Every name in `dir` and below, except the installed binary and table.
std::set<std::string> FilesIn(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    const auto name = entry.path().lexically_relative(dir.path()).string();
    if (name.rfind("bin", 0) != 0) names.insert(name);
  }
  return names;
}

struct RefusedObject {
  const char* name;
  std::string objectPath;
  std::function<void(const TempDir&)> prepare;
  std::set<std::string> leftBehind;
  bool needsNonRoot = false;
};

std::vector<RefusedObject> RefusedObjects() {
  const auto nothing = [](const TempDir&) {};
  return {
      {"missing_directory", "nodir/prog.otk", nothing, {"prog.asm"}},
      {"below_a_file", "prog.asm/prog.otk", nothing, {"prog.asm"}},
      {"a_directory", "out", [](const TempDir& d) { ::mkdir((d / "out").c_str(), 0755); }, {"prog.asm", "out"}},
      {"in_proc", "/proc/prog.otk", nothing, {"prog.asm"}},
      {"full_disk", "/dev/full", nothing, {"prog.asm"}},
      {"read_only_directory",
       "ro/prog.otk",
       [](const TempDir& d) {
         ::mkdir((d / "ro").c_str(), 0755);
         WriteFile(d / "ro/prog.otk", "old");
         ::chmod((d / "ro").c_str(), 0555);
       },
       {"prog.asm", "ro", "ro/prog.otk"},
       true},
  };
}

void PrintTo(const RefusedObject& c, std::ostream* os) { *os << c.name; }

class ObjectThatCannotBeWritten : public ::testing::TestWithParam<RefusedObject> {};

TEST_P(ObjectThatCannotBeWritten, FailsAndLeavesNoFileBehind) {
  const RefusedObject& c = GetParam();
  if (c.needsNonRoot && ::geteuid() == 0) {
    GTEST_SKIP() << "root writes into read-only directories";
  }
  TempDir dir;
  const std::string program = dir / InstallTorvik(dir, DefaultTable());
  WriteFile(dir / "prog.asm", " nop\n");
  c.prepare(dir);
  const auto run = RunProcess(program, {"bin/Torvik", "prog.asm", c.objectPath}, dir.path());
  EXPECT_EQ(run.status, 1);
  const std::string message = std::string("Error #100 in prog.asm, line 0: Cannot open file: \"").append(c.objectPath);
  EXPECT_NE(run.out.find(message + "\"\n"), std::string::npos) << run.out;
  EXPECT_EQ(FilesIn(dir), c.leftBehind);
  if (c.needsNonRoot) {
    EXPECT_EQ(ReadFile(dir / "ro/prog.otk"), "old");
  }
}

INSTANTIATE_TEST_SUITE_P(Refused, ObjectThatCannotBeWritten, ::testing::ValuesIn(RefusedObjects()),
                         [](const auto& info) { return std::string(info.param.name); });

struct UnreadableSource {
  const char* name;
  std::string source;  // prog.asm
  std::string unreadable;
  std::string message;
};

void PrintTo(const UnreadableSource& c, std::ostream* os) { *os << c.name; }

class SourceWithoutReadPermission : public ::testing::TestWithParam<UnreadableSource> {};

TEST_P(SourceWithoutReadPermission, StopsInPreprocessing) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root reads files without read permission";
  }
  const UnreadableSource& c = GetParam();
  TempDir dir;
  const std::string program = dir / InstallTorvik(dir, DefaultTable());
  WriteFile(dir / "prog.asm", c.source);
  WriteFile(dir / "inc.asm", " nop\n");
  WriteFile(dir / "prog.otk", "old");
  ::chmod((dir / c.unreadable).c_str(), 0);
  const auto run = RunProcess(program, {"bin/Torvik", "prog.asm", "prog.otk"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Loading instruction table \"bin/tkinstr.tab\"\nAssembling \"prog.asm\"\n" + c.message);
  EXPECT_EQ(ReadFile(dir / "prog.otk"), "old");
  EXPECT_EQ(FilesIn(dir), (std::set<std::string>{"prog.asm", "inc.asm", "prog.otk", "$asmtmp$.$$$"}));
}

INSTANTIATE_TEST_SUITE_P(
    Unreadable, SourceWithoutReadPermission,
    ::testing::Values(UnreadableSource{"source", " nop\n", "prog.asm",
                                       "Error #100 in prog.asm, line 0: Cannot open file: \"prog.asm\"\n"},
                      UnreadableSource{"include", " nop\n#include \"inc.asm\"\n", "inc.asm",
                                       "Error #100 in prog.asm, line 0: Cannot open file: \"inc.asm\"\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvik::test
