#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Harness.h"

namespace torvik::test {
namespace {

// Expands `top` (a file in a directory of its own) and keeps what the
// intermediate file received.
class Expansion : public ::testing::Test {
 protected:
  bool Expand(const std::string& topText) {
    WriteFile(dir_ / "top.asm", topText);
    const int fd = ::open((dir_ / "out.tmp").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TextWriter writer;
    writer.Attach(fd);
    rig_.assembler.SetFileNameOverride("");
    rig_.assembler.SetLineCounter(0);
    const bool ok = rig_.assembler.Preprocessor().Process(dir_ / "top.asm", writer, true);
    writer.Flush();
    ::close(fd);
    written_ = ReadFile(dir_ / "out.tmp");
    return ok;
  }
  std::string Map() {
    const CPreprocessor& p = rig_.assembler.Preprocessor();
    std::string map;
    for (int n = 1; n <= p.LineMapCount(); ++n) {
      const std::string& name = p.FileNameOf(n);
      map += name.substr(name.find_last_of('/') + 1) + ":" + std::to_string(p.LineOf(n)) + " ";
    }
    return map;
  }

  Rig rig_;
  TempDir dir_;
  std::string written_;
};

TEST_F(Expansion, DirectiveLinesAreCountedButNotCopied) {
  EXPECT_TRUE(Expand("one\n#define X 1\nthree\n"));
  EXPECT_EQ(written_, "one\nthree\n");
  EXPECT_EQ(Map(), "top.asm:1 top.asm:3 ");
}

TEST_F(Expansion, IncludedLinesStandWhereTheirDirectiveStood) {
  WriteFile(dir_ / "a.inc", "a1\n#include \"" + dir_ / "b.inc" + "\"\na3\n");
  WriteFile(dir_ / "b.inc", "b1");
  EXPECT_TRUE(Expand("t1\n#INCLUDE <" + dir_ / "a.inc" + ">\nt3\n"));
  EXPECT_EQ(written_, "t1\na1\nb1\na3\nt3\n");
  EXPECT_EQ(Map(), "top.asm:1 a.inc:1 b.inc:1 a.inc:3 top.asm:3 ");
  EXPECT_EQ(rig_.assembler.Preprocessor().FileCount(), 3);
}

// The map is kept as runs of lines that follow each other in one file;
// lookups must give the same answer in any order, not only line by line.
TEST_F(Expansion, EveryLineMapsBackInAnyOrderOfLookups) {
  std::string top;
  std::vector<std::pair<std::string, int>> expected;  // per intermediate line
  for (int i = 1; i <= 40; ++i) {
    const std::string name = "p" + std::to_string(i) + ".inc";
    std::string part;
    for (int line = 1; line <= i % 4; ++line) {
      part += "x\n";
      expected.emplace_back(name, line);
    }
    WriteFile(dir_ / name, part);
    top += "#include \"" + dir_ / name + "\"\n";
    if (i % 3 == 0) {
      top += "#define GAP\n";
    } else {
      top += "t\n";
    }
    const int topLine = 2 * i;
    if (i % 3 != 0) expected.emplace_back("top.asm", topLine);
  }
  ASSERT_TRUE(Expand(top));
  const CPreprocessor& p = rig_.assembler.Preprocessor();
  ASSERT_EQ(p.LineMapCount(), static_cast<int>(expected.size()));
  std::vector<int> order;
  for (int n = p.LineMapCount(); n >= 1; --n) order.push_back(n);                 // backwards
  for (int n = 1; n <= p.LineMapCount(); n += 7) order.push_back(n);              // in strides
  for (int k = 0; k < 50; ++k) order.push_back(1 + (k * 37) % p.LineMapCount());  // jumps
  for (const int n : order) {
    const std::string& name = p.FileNameOf(n);
    EXPECT_EQ(name.substr(name.find_last_of('/') + 1), expected[static_cast<std::size_t>(n - 1)].first) << "line " << n;
    EXPECT_EQ(p.LineOf(n), expected[static_cast<std::size_t>(n - 1)].second) << "line " << n;
  }
  EXPECT_EQ(p.LineOf(p.LineMapCount() + 1), 0);
  EXPECT_EQ(p.LineOf(0), 0);
}

TEST_F(Expansion, TextModeDropsCarriageReturnsAndStopsAtControlZ) {
  EXPECT_TRUE(
      Expand("a\r\nb\rc\r\nd\x1A"
             "after\n"));
  EXPECT_EQ(written_, "a\nbc\nd\n");
}

TEST_F(Expansion, NulEndsTheTextOfItsLine) {
  EXPECT_TRUE(Expand(std::string("ab\0cd\nnext\n", 11)));
  EXPECT_EQ(written_, "ab\nnext\n");
}

// However long a line is, it is one line: refused once when its text is
// too long, whole and empty when it starts with a NUL.
TEST_F(Expansion, AnOverlongLineIsRefusedOnceAndTheExpansionStops) {
  EXPECT_FALSE(Expand("a\n" + std::string(65535, 'x') + "\ny\n"));
  EXPECT_EQ(written_, "a\n");
  EXPECT_EQ(Map(), "top.asm:1 ");
  EXPECT_EQ(rig_.TakeOutput(),
            "Error #200 in " + dir_ / "top.asm" + ", line 2: Line is too long (max of 1023 chars)\n");
}

TEST_F(Expansion, ALineOfTheLongestTextAndOneThatStartsWithANulAreLinesOfTheirOwn) {
  EXPECT_TRUE(Expand(std::string(65534, 'x') + "\n" + std::string(1, '\0') + std::string(70000, 'y') + " nop\nz\n"));
  EXPECT_EQ(written_, std::string(65534, 'x') + "\n\nz\n");
  EXPECT_EQ(Map(), "top.asm:1 top.asm:2 top.asm:3 ");
}

// Lines held back and written when asked come out as lines written as they
// come.
TEST_F(Expansion, HeldBackLinesAreWrittenAsTheyWouldHaveBeen) {
  WriteFile(dir_ / "b.inc", std::string("b\r\n\0\0\nlast", 10));
  const std::string include = "#include \"" + dir_ / "b.inc" + "\"\n";
  for (const std::string& source :
       {std::string("a\n") + include + "c\n", "x\r\ny\n" + std::string(2000, 'q') + "\n" + include,
        std::string("p\0q\n", 4) + "#define z\n\x1A"
                                   "after\n",
        include + "#define x\ntail"}) {
    Expand(source);
    const std::string direct = written_;
    rig_.assembler.Preprocessor().DeferWriting(true);
    Expand(source);
    rig_.assembler.Preprocessor().DeferWriting(false);
    EXPECT_EQ(written_, "");
    const int fd = ::open((dir_ / "out.tmp").c_str(), O_WRONLY | O_TRUNC);
    TextWriter writer;
    writer.Attach(fd);
    EXPECT_TRUE(rig_.assembler.Preprocessor().WriteDeferred(writer));
    ::close(fd);
    EXPECT_EQ(ReadFile(dir_ / "out.tmp"), direct) << source;
  }
}

// Enough text for several of the preprocessor's blocks, so that lines fall
// on both sides of every block boundary.
TEST_F(Expansion, PassesReadPreparedLinesWhileTheFileKeepsThemWhole) {
  std::string source;
  std::vector<std::string> prepared;
  for (int i = 0; i < 60000; ++i) {
    const std::string n = std::to_string(i);
    if (i % 1000 == 7) {
      source += std::string(1100, 'z') + "\n";
      prepared.push_back("<too long>");
    } else {
      source += "l" + n + ":\tld\ta," + n + " ; note\t" + n + "\n";
      prepared.push_back("l" + n + ": ld a," + n + " ");
    }
  }
  ASSERT_TRUE(Expand(source));
  EXPECT_EQ(written_, source);
  const auto lines = rig_.assembler.Preprocessor().Prepared();
  ASSERT_EQ(lines.size(), prepared.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto line = lines[i];
    ASSERT_EQ(line.tooLong ? "<too long>" : std::string(line.text), prepared[i]) << "line " << i + 1;
  }
}

// Lines whose comments start on either side of the places where a scan in
// blocks of sixteen characters would split them.
struct PreparedCase {
  const char* name;
  std::string source;
  std::vector<std::string> prepared;
};

class PreparedLines : public Expansion, public ::testing::WithParamInterface<PreparedCase> {};

TEST_P(PreparedLines, CutEachLineAtItsOwnFirstSemicolon) {
  const std::string& source = GetParam().source;
  ASSERT_TRUE(Expand(source));
  EXPECT_EQ(written_, source.back() == '\n' ? source : source + "\n");
  std::vector<std::string> prepared;
  for (const auto line : rig_.assembler.Preprocessor().Prepared()) prepared.emplace_back(line.text);
  EXPECT_EQ(prepared, GetParam().prepared);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PreparedLines,
    ::testing::Values(
        PreparedCase{"short", "ab\ncd;x\n", {"ab", "cd"}}, PreparedCase{"empty", "a\n;\n\nb;;\n", {"a", "", "", "b"}},
        PreparedCase{"nextLinesSemicolon", "xx\ny;z\n", {"xx", "y"}},
        PreparedCase{"nextLinesSemicolonLater", std::string(20, 'x') + "\ny;z\n", {std::string(20, 'x'), "y"}},
        PreparedCase{"at15", std::string(15, 'a') + ";" + std::string(20, 'c') + "\n", {std::string(15, 'a')}},
        PreparedCase{"at16", std::string(16, 'a') + ";" + std::string(20, 'c') + "\n", {std::string(16, 'a')}},
        PreparedCase{"at17", std::string(17, 'a') + ";;\n", {std::string(17, 'a')}},
        PreparedCase{"late", std::string(40, 'a') + ";" + std::string(3, 'c') + "\nq\n", {std::string(40, 'a'), "q"}},
        PreparedCase{"noNewlineAtEnd", "a;b\nc;d", {"a", "c"}},
        PreparedCase{"at63", std::string(63, 'a') + ";c\nd\n", {std::string(63, 'a'), "d"}},
        PreparedCase{"at64", std::string(64, 'a') + ";c\nd\n", {std::string(64, 'a'), "d"}},
        PreparedCase{"newlineAt64", std::string(64, 'a') + "\n;x\ny\n", {std::string(64, 'a'), "", "y"}},
        PreparedCase{"semicolonThreeBlocksOn",
                     std::string(150, 'b') + ";" + std::string(70, 'c') + "\nz;\n",
                     {std::string(150, 'b'), "z"}},
        PreparedCase{"manyLinesInABlock", "a;1\nb\nc;;\n;\nd\n", {"a", "b", "c", "", "d"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Expansion, LineMapNamesTheTopFileAndLineZeroOutsideItsRange) {
  EXPECT_TRUE(Expand("only\n"));
  const CPreprocessor& p = rig_.assembler.Preprocessor();
  EXPECT_EQ(p.FileNameOf(0), dir_ / "top.asm");
  EXPECT_EQ(p.LineOf(0), 0);
  EXPECT_EQ(p.FileNameOf(2), dir_ / "top.asm");
  EXPECT_EQ(p.LineOf(2), 0);
}

TEST_F(Expansion, UnknownDirectiveIsReportedAndCopyingGoesOnToTheEnd) {
  EXPECT_FALSE(Expand("# x\n#includes y\nlast\n"));
  EXPECT_EQ(written_, "last\n");
  const std::string top = dir_ / "top.asm";
  EXPECT_EQ(rig_.TakeOutput(), "Error #103 in " + top +
                                   ", line 0: Unrecognized preprocessor directive \"#\"\n"
                                   "Error #103 in " +
                                   top + ", line 0: Unrecognized preprocessor directive \"#includes\"\n");
}

TEST_F(Expansion, TheSameFileInOtherCaseIsIncludedOnlyOnce) {
  WriteFile(dir_ / "a.inc", "a\n");
  const std::string upper = dir_.path() + "/A.INC";
  EXPECT_FALSE(Expand("#include " + dir_ / "a.inc" + "\n#include " + upper + "\nnot copied\n"));
  EXPECT_EQ(written_, "a\n");
  EXPECT_NE(rig_.TakeOutput().find("Error #105"), std::string::npos);
}

// Each line that holds the character is visited once, in order, wherever
// the character stands in it; empty, too long and commented-out places are
// passed over.
struct HoldingCase {
  const char* name;
  std::string source;
  std::vector<std::string> visited;
};

class LinesHolding : public Expansion, public ::testing::WithParamInterface<HoldingCase> {};

TEST_P(LinesHolding, VisitsEveryLineThatHoldsTheCharacterOnce) {
  ASSERT_TRUE(Expand(GetParam().source));
  std::vector<std::string> visited;
  rig_.assembler.Preprocessor().Prepared().ForEachHolding('.', [&](const CPreprocessor::PreparedLine line) {
    visited.emplace_back(line.text);
    return true;
  });
  EXPECT_EQ(visited, GetParam().visited);
}

INSTANTIATE_TEST_SUITE_P(Rows, LinesHolding,
                         ::testing::Values(HoldingCase{"none", "a\nb\n", {}},
                                           HoldingCase{"firstAndLastCharacter", ".a\nb\nc.\n", {".a", "c."}},
                                           HoldingCase{"severalInOneLine", "x\n.a.b.\n\n\n.c\n", {".a.b.", ".c"}},
                                           HoldingCase{"afterEmptyLines", "\n\n;.\n\n.q\n", {".q"}},
                                           HoldingCase{"pastATooLongLine", std::string(1100, '.') + "\n.z\n", {".z"}},
                                           HoldingCase{"commentOnly", "a ; .b\n", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Expansion, VisitingLinesHoldingACharacterStopsWhenAsked) {
  ASSERT_TRUE(Expand(".1\n.2\n.3\n"));
  int visits = 0;
  rig_.assembler.Preprocessor().Prepared().ForEachHolding(
      '.', [&](const CPreprocessor::PreparedLine) { return ++visits < 2; });
  EXPECT_EQ(visits, 2);
}

// Held-back text: pieces of files are read back from them when written,
// with the rules of a text read, and in their order.
class Deferred : public ::testing::Test {
 protected:
  std::string Written(DeferredText& text, bool& ok) {
    const int fd = ::open((dir_ / "out.tmp").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TextWriter writer;
    writer.Attach(fd);
    ok = text.MoveTo(writer);
    ::close(fd);
    return ReadFile(dir_ / "out.tmp");
  }
  void AddPieces(DeferredText& text) {
    text.AddFromFile(0, 0, 4);
    text.AddFromFile(0, 4, 5);  // joins the piece before it
    text.AddFromFile(1, 0, 6);
    text.AddFromFile(0, 9, 10);
  }
  TempDir dir_;
};

TEST_F(Deferred, PiecesComeOutInOrderAsTextAndAFileCutShortFails) {
  WriteFile(dir_ / "src.asm", std::string("one\ntwo\r\nth\0x\r\nfour", 19));
  WriteFile(dir_ / "inc.asm", "other\n");
  DeferredText text;
  text.KeepFile(0, UniqueFile(::open((dir_ / "src.asm").c_str(), O_RDONLY)));
  text.KeepFile(1, UniqueFile(::open((dir_ / "inc.asm").c_str(), O_RDONLY)));
  AddPieces(text);
  bool ok = false;
  EXPECT_EQ(Written(text, ok), "one\ntwo\nother\nth\nfour\n");
  EXPECT_TRUE(ok);

  WriteFile(dir_ / "src.asm", "one\n");  // cut short in place
  AddPieces(text);
  EXPECT_EQ(Written(text, ok).substr(0, 4), "one\n");
  EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace torvik::test
