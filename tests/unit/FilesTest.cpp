#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <utility>

#include <gtest/gtest.h>

#include "Files.h"
#include "Process.h"

namespace torvik::test {
namespace {

struct ReadCase {
  const char* name;
  std::string bytes;
  std::size_t limit;
  // "+" marks a line that ended with its newline, "!" one too long, whose
  // rest the reader is then told to skip.
  std::vector<std::string> lines;
  bool fromPipe = false;  // read through a pipe: a file that is not regular
};

class TextReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TextReading, AppliesTheTextModeRules) {
  TempDir dir;
  TextReader reader;
  int pipeEnds[2] = {-1, -1};
  if (GetParam().fromPipe) {
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_EQ(::write(pipeEnds[1], GetParam().bytes.data(), GetParam().bytes.size()),
              static_cast<ssize_t>(GetParam().bytes.size()));
    ::close(pipeEnds[1]);
    reader.Adopt(pipeEnds[0]);
  } else {
    WriteFile(dir / "f", GetParam().bytes);
    ASSERT_EQ(reader.Open(dir / "f"), TextReader::OpenResult::Ok);
  }
  std::vector<std::string> lines;
  std::string line;
  TextReader::LineEnd end;
  while (reader.ReadLine(line, GetParam().limit, end) == TextReader::Status::Line) {
    lines.push_back(line + (end.newline ? "+" : "") + (end.tooLong ? "!" : ""));
    if (end.tooLong) {
      ASSERT_EQ(reader.SkipLine(), TextReader::Status::Line);
    }
  }
  EXPECT_EQ(lines, GetParam().lines);
  if (pipeEnds[0] >= 0) ::close(pipeEnds[0]);
}

const std::string kLongTail(200000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rows, TextReading,
    ::testing::Values(
        ReadCase{"plain", "a\nb\n", 100, {"a+", "b+"}}, ReadCase{"last_line_without_newline", "a\nb", 100, {"a+", "b"}},
        ReadCase{"carriage_returns_dropped", "a\r\nb\rc\r\n", 100, {"a+", "bc+"}},
        ReadCase{"control_z_ends_the_file",
                 std::string("a\nb\x1A"
                             "c\n"),
                 100,
                 {"a+", "b"}},
        ReadCase{"empty_file", "", 100, {}}, ReadCase{"empty_lines", "\n\n", 100, {"+", "+"}},
        ReadCase{"long_line_is_too_long_and_skipped_whole", "abcdefg" + kLongTail + "\nh\n", 3, {"abc!", "h+"}},
        ReadCase{"newline_right_after_the_limit_belongs_to_the_line", "abc\nd\n", 3, {"abc+", "d+"}},
        ReadCase{"nul_ends_the_text", std::string("a\0b\n", 4), 100, {"a+"}},
        ReadCase{"a_line_of_nul_alone_is_empty", std::string("\0\nz", 3), 100, {"+", "z"}},
        ReadCase{"any_tail_after_nul_is_dropped", std::string("a\0", 2) + kLongTail + "\r\nb\n", 3, {"a+", "b+"}},
        ReadCase{"nul_then_control_z",
                 std::string("a\0b\x1A"
                             "c\n",
                             6),
                 100,
                 {"a"}},
        ReadCase{"in_a_pipe_the_tail_after_nul_counts", std::string("a\0xyz\nb\0c\n", 10), 3, {"a!", "b+"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Views give what whole reads give, over chunk boundaries, carriage
// returns, NUL bytes and long lines.
TEST(TextReading, ViewsAgreeWithCopies) {
  TempDir dir;
  std::string text;
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  while (text.size() < 300000) {
    const std::uint32_t kind = next() % 100;
    if (kind < 60) {
      text += std::string(next() % 90, static_cast<char>('a' + next() % 26)) + "\n";
    } else if (kind < 75) {
      text += "x\r\ny\rz\n";
    } else if (kind < 85) {
      text += std::string("a\0b\n", 4) + std::string(next() % 3000, '\0') + "\n";
    } else {
      text += std::string(next() % 3000, 'L') + (next() % 2 ? "\n" : "");
    }
  }
  text += "\x1A tail";
  WriteFile(dir / "f", text);
  TextReader copies;
  TextReader views;
  ASSERT_EQ(copies.Open(dir / "f"), TextReader::OpenResult::Ok);
  ASSERT_EQ(views.Open(dir / "f"), TextReader::OpenResult::Ok);
  std::string line;
  std::string spill;
  std::string_view view;
  TextReader::LineEnd end;
  TextReader::LineEnd viewEnd;
  int lines = 0;
  for (;;) {
    const auto status = copies.ReadLine(line, 1000, end);
    ASSERT_EQ(views.ReadLineView(view, spill, 1000, viewEnd), status) << "line " << lines;
    if (status != TextReader::Status::Line) break;
    ASSERT_EQ(view, line) << "line " << lines;
    ASSERT_EQ(viewEnd.newline, end.newline) << "line " << lines;
    ASSERT_EQ(viewEnd.tooLong, end.tooLong) << "line " << lines;
    ASSERT_EQ(views.Offset(), copies.Offset()) << "line " << lines;
    if (end.tooLong) {
      copies.SkipLine();
      views.SkipLine();
    }
    ++lines;
  }
  EXPECT_GT(lines, 1000);
}

TEST(TextReading, DirectoriesAreRefused) {
  TempDir dir;
  TextReader reader;
  EXPECT_EQ(reader.Open(dir.path()), TextReader::OpenResult::IsDirectory);
  EXPECT_EQ(reader.Open(dir / "missing"), TextReader::OpenResult::CannotOpen);
}

TEST(TextWriting, AFullDiskIsNoticed) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  TextWriter writer;
  writer.Attach(fd);
  writer.Write("some text\n");
  EXPECT_FALSE(writer.Flush());
  EXPECT_TRUE(writer.Failed());
  ::close(fd);
}

// ReadAll fills what it is asked for or stops at the end; a read at an
// offset leaves the position for the reads that follow.
struct ReadAllCase {
  const char* name;
  std::optional<std::uint64_t> at;
  std::size_t size;
  std::string expected;
};

class WholeReads : public ::testing::TestWithParam<ReadAllCase> {};

TEST_P(WholeReads, FillOrEndAndKeepThePosition) {
  TempDir dir;
  WriteFile(dir / "f", "0123456789");
  UniqueFile file = platform::Open(dir / "f", platform::OpenFor::Reading);
  ASSERT_TRUE(file.IsOpen());
  char first = 0;
  ASSERT_EQ(platform::Read(file.Get(), &first, 1), 1);
  std::string bytes(GetParam().size, '?');
  const std::int64_t got = ReadAll(file.Get(), bytes.data(), bytes.size(), GetParam().at);
  ASSERT_EQ(got, static_cast<std::int64_t>(GetParam().expected.size()));
  EXPECT_EQ(bytes.substr(0, static_cast<std::size_t>(got)), GetParam().expected);
  char next = 0;
  const std::size_t after = GetParam().at ? 1 : 1 + GetParam().expected.size();
  ASSERT_EQ(platform::Read(file.Get(), &next, 1), after < 10 ? 1 : 0);
  if (after < 10) {
    EXPECT_EQ(next, static_cast<char>('0' + after));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, WholeReads,
                         ::testing::Values(ReadAllCase{"from_the_position", std::nullopt, 4, "1234"},
                                           ReadAllCase{"to_the_end", std::nullopt, 20, "123456789"},
                                           ReadAllCase{"at_an_offset", 6, 3, "678"},
                                           ReadAllCase{"at_an_offset_to_the_end", 7, 20, "789"},
                                           ReadAllCase{"past_the_end", 12, 5, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the last part of a path starts; on POSIX systems only '/'
// separates, so a temporary file beside "a\b.otk" stays in its directory.
TEST(FileNames, StartAfterTheLastSlash) {
  const std::pair<std::string, std::size_t> rows[] = {{"b.otk", 0},   {"a/b.otk", 2}, {"/b", 1}, {"a\\b.otk", 0},
                                                      {"C:b.otk", 0}, {"a/", 2},      {"", 0}};
  for (const auto& [path, start] : rows) EXPECT_EQ(platform::FileNameStart(path), start) << path;
}

// Where the table is looked for, by program path and PATH. The directories:
// none holds nothing, plain a file that is not executable, dir a directory
// of the program's name, exe the program, link a link to it.
struct BesideCase {
  const char* name;
  const char* program;
  std::vector<std::string> path;  // entries below the test's directory; "-": PATH unset
  std::string expected;           // below the test's directory; "*": beside the running executable; "=": as written
};

class BesideProgramLookup : public ::testing::TestWithParam<BesideCase> {};

TEST_P(BesideProgramLookup, FollowsTheSeparatorThenPathThenTheExecutable) {
  TempDir dir;
  const std::string program = "torvik-lookup-probe";
  for (const char* sub : {"none", "plain", "dir", "exe", "link"}) ::mkdir((dir / sub).c_str(), 0755);
  WriteFile(dir / "plain/" + program, "");
  ::mkdir((dir / "dir/" + program).c_str(), 0755);
  WriteFile(dir / "exe/" + program, "");
  ::chmod((dir / "exe/" + program).c_str(), 0755);
  ASSERT_EQ(::symlink((dir / "exe/" + program).c_str(), (dir / "link/" + program).c_str()), 0);

  const BesideCase& c = GetParam();
  std::string path;
  for (const auto& entry : c.path) path += (path.empty() ? "" : ":") + (entry.empty() ? "" : dir / entry);
  const bool unset = c.path.size() == 1 && c.path[0] == "-";
  const std::string found = BesideProgram(c.program, "tkinstr.tab", unset ? nullptr : path.c_str());
  if (c.expected == "*") {
    const auto self = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(found, self + "/tkinstr.tab");
  } else if (c.expected[0] == '=') {
    EXPECT_EQ(found, c.expected.substr(1));
  } else {
    EXPECT_EQ(found, dir / c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BesideProgramLookup,
    ::testing::Values(
        BesideCase{"slash", "bin/torvik-lookup-probe", {"exe"}, "=bin/tkinstr.tab"},
        BesideCase{"backslash", "w\\torvik-lookup-probe", {"exe"}, "=w\\tkinstr.tab"},
        BesideCase{"first_executable_on_path", "torvik-lookup-probe", {"none", "exe", "link"}, "exe/tkinstr.tab"},
        BesideCase{"link_is_not_resolved", "torvik-lookup-probe", {"link", "exe"}, "link/tkinstr.tab"},
        BesideCase{"not_executable_or_a_directory", "torvik-lookup-probe", {"plain", "dir", "exe"}, "exe/tkinstr.tab"},
        BesideCase{"trailing_slash", "torvik-lookup-probe", {"exe/"}, "exe/tkinstr.tab"},
        BesideCase{"not_on_path", "torvik-lookup-probe", {"none", "plain"}, "*"},
        BesideCase{"path_unset", "torvik-lookup-probe", {"-"}, "*"}, BesideCase{"empty_name", "", {"exe"}, "*"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvik::test
