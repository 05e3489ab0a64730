// --help and --version on every companion tool: standard output, exit 0,
// and the same usage line that a wrong command line draws on standard error.
#include <gtest/gtest.h>

#include "ToolTestSupport.h"

namespace torvik::tools::test {
namespace {

// The line of `text` that begins with `start`, with its newline; "" if none.
std::string LineStarting(const std::string& text, const std::string& start) {
  const auto at = text.starts_with(start) ? 0 : text.find("\n" + start);
  if (at == std::string::npos) return "";
  const auto begin = at == 0 ? 0 : at + 1;
  return text.substr(begin, text.find('\n', begin) + 1 - begin);
}

class HelpAndVersion : public ::testing::TestWithParam<const char*> {};

TEST_P(HelpAndVersion, AnswerOnStandardOutput) {
  const std::string tool = GetParam();
  if (!torvik::test::FileExists(ToolPath(tool))) GTEST_SKIP() << tool << " is not built here";
  TempDir dir;
  const auto version = RunTool(tool, {"--version"}, dir.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, tool + " (Torvik) " OTK_VERSION "\n");
  EXPECT_EQ(version.err, "");

  const auto help = RunTool(tool, {"--help", "ignored.otk"}, dir.path());
  const auto wrong = RunTool(tool, {}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(wrong.status, 2);
  const std::string usage = LineStarting(wrong.err, "usage: " + tool + " ");
  EXPECT_NE(usage, "") << wrong.err;
  EXPECT_TRUE(help.out.starts_with(usage)) << help.out;
  EXPECT_NE(help.out.find(tool + " --help | --version\n"), std::string::npos) << help.out;
}

INSTANTIATE_TEST_SUITE_P(Tools, HelpAndVersion, ::testing::Values("otkdump", "otklink", "otkdeps", "otkrun"));

}  // namespace
}  // namespace torvik::tools::test
