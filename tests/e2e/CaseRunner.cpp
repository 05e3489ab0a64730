// End-to-end cases: each *.case file under tests/e2e holds one or more
// cases. A case writes its input files into a fresh directory, runs the real
// binary there and compares standard output, exit status, object bytes and
// the files left behind. Blocks before the first "=== case" are shared by
// every case of the file.
//
//   === case NAME            starts a case
//   === file NAME [noeol]    a text file (lines as written; noeol: no final newline)
//   === hexfile NAME         a file given as hex bytes
//   === copy PATH [NAME]     a file of the source tree (PATH relative to its root)
//   === table [PATH]         the instruction table to use instead of the shipped one:
//                            the block's lines, or the file PATH of the source tree
//   === setup                shell commands run in the directory before the run
//   === run ARG...           the arguments (default: prog.asm prog.otk)
//   === argv0 NAME           the program name to pass instead of bin/Torvik
//   === env NAME=VALUE...    environment variables of the run ({DIR}: the case's directory)
//   === stdout               the whole expected standard output
//   === messages             the expected numbered messages alone: the lines of
//                            standard output that begin "Error #" or "Warning #",
//                            in order (none, when the block is empty). Most cases
//                            use it; those about the run itself, its progress
//                            lines and its command line compare the whole output.
//   === status N             the expected exit status (default 0)
//   === object NAME          the expected bytes of a file, in hex
//   === oracle               Z80 source for GNU as whose bytes must equal the code section
//   === absent NAME...       files that must not exist afterwards
//   === present NAME...      files that must exist afterwards
//   === notwindows REASON    the case is skipped, with REASON, when the Windows
//                            assembler runs (through TORVIK_TEST_LAUNCHER)
//
// {HERE} in files, arguments and expected output is the case's directory as
// the program sees it: on Windows with a drive letter and backslashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "Objectfile.h"
#include "Process.h"

namespace torvik::test {
namespace {

struct Block {
  std::string kind;
  std::vector<std::string> words;  // after the kind
  std::string text;                // the lines, each with its newline
};

struct Case {
  std::string name;  // file path and case name
  std::vector<Block> blocks;
};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::vector<Case> ParseCaseFile(const std::filesystem::path& path, const std::string& label) {
  std::istringstream in(ReadFile(path.string()));
  std::vector<Block> common;
  std::vector<Case> cases;
  std::vector<Block>* current = &common;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("=== ", 0) == 0) {
      auto words = Words(line.substr(4));
      if (words.empty()) continue;
      if (words[0] == "case") {
        cases.push_back({label + "/" + (words.size() > 1 ? words[1] : std::to_string(cases.size())), common});
        current = &cases.back().blocks;
        continue;
      }
      Block block;
      block.kind = words[0];
      block.words.assign(words.begin() + 1, words.end());
      current->push_back(std::move(block));
      continue;
    }
    if (current->empty()) continue;  // comments before the first block
    current->back().text += line + "\n";
  }
  if (cases.empty() && !common.empty()) cases.push_back({label, common});
  // Blank lines that separate cases belong to no block.
  for (auto& c : cases) {
    for (auto& block : c.blocks) {
      while (block.text.size() >= 2 && block.text.compare(block.text.size() - 2, 2, "\n\n") == 0) block.text.pop_back();
      if (block.text == "\n") block.text.clear();
    }
  }
  return cases;
}

std::vector<Case> AllCases() {
  std::vector<Case> all;
  const std::filesystem::path root = SourceDir() + "/tests/e2e";
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() == ".case") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    auto label = std::filesystem::relative(file, root).replace_extension("").string();
    for (auto& c : ParseCaseFile(file, label)) all.push_back(std::move(c));
  }
  return all;
}

// The directory the running executable reports as its own: on Linux the
// binary's real place; on Windows the link's, as started.
std::string ExecutableDirectory(const std::string& directory) {
  if (ThroughLauncher()) return AsSeenByProgram(directory + "/bin/");
  return std::filesystem::canonical(TorvikBinary()).parent_path().string() + "/";
}

std::string Substitute(std::string text, const std::string& directory) {
  const std::map<std::string, std::string> values = {{"{TABLE}", "bin/tkinstr.tab"},
                                                     {"{EXEDIR}", ExecutableDirectory(directory)},
                                                     {"{DIR}", directory},
                                                     {"{HERE}", AsSeenByProgram(directory)}};
  for (const auto& [key, value] : values) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

// The numbered messages of a run's output, each line with its newline.
std::string NumberedMessages(const std::string& out) {
  std::istringstream in(out);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Error #", 0) == 0 || line.rfind("Warning #", 0) == 0) kept += line + "\n";
  }
  return kept;
}

std::string WithoutFinalNewline(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The code bytes GNU as produces for `source`.
std::string OracleBytes(const TempDir& dir, const std::string& source) {
  WriteFile(dir / "oracle.s", source);
  const auto as = RunProcess("/usr/bin/z80-unknown-coff-as", {"as", "-o", "oracle.o", "oracle.s"}, dir.path());
  if (as.status != 0) return "assembler failed: " + as.out + as.err;
  const auto copy = RunProcess("/usr/bin/z80-unknown-coff-objcopy",
                               {"objcopy", "-O", "binary", "oracle.o", "oracle.bin"}, dir.path());
  if (copy.status != 0) return "objcopy failed: " + copy.out + copy.err;
  return ReadFile(dir / "oracle.bin");
}

std::string CodeSection(const std::string& objectBytes) {
  const auto parsed = CObjectFile::Parse(std::vector<std::uint8_t>(objectBytes.begin(), objectBytes.end()));
  if (!parsed.ok) return "unreadable object: " + parsed.error;
  return std::string(parsed.module.code.begin(), parsed.module.code.end());
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class EndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EndToEnd, Case) {
  const Case& c = GetParam();
  for (const Block& block : c.blocks) {
    if (block.kind != "notwindows" || !ThroughLauncher()) continue;
    std::string reason;
    for (const auto& word : block.words) reason += (reason.empty() ? "" : " ") + word;
    GTEST_SKIP() << "not on Windows: " << reason;
  }
  TempDir dir;
  std::string table = DefaultTable();
  std::vector<std::string> args = {"prog.asm", "prog.otk"};
  std::string argv0 = "bin/Torvik";
  std::vector<std::string> environment;
  for (const Block& block : c.blocks) {
    if (block.kind == "file") {
      const bool noEol = block.words.size() > 1 && block.words[1] == "noeol";
      const std::string text = Substitute(block.text, dir.path());
      WriteFile(dir / block.words.at(0), noEol ? WithoutFinalNewline(text) : text);
    } else if (block.kind == "hexfile") {
      WriteFile(dir / block.words.at(0), FromHex(block.text));
    } else if (block.kind == "copy") {
      const std::string& from = block.words.at(0);
      const std::string name = block.words.size() > 1 ? block.words[1] : from.substr(from.find_last_of('/') + 1);
      WriteFile(dir / name, ReadFile(SourceDir() + "/" + from));
    } else if (block.kind == "table") {
      table = block.words.empty() ? block.text : ReadFile(SourceDir() + "/" + block.words[0]);
    } else if (block.kind == "run") {
      args.clear();
      for (const auto& word : block.words) args.push_back(Substitute(word, dir.path()));
    } else if (block.kind == "argv0") {
      argv0 = block.words.at(0);
    } else if (block.kind == "env") {
      for (const auto& word : block.words) environment.push_back(Substitute(word, dir.path()));
    }
  }
  const std::string program = InstallTorvik(dir, table);
  for (const Block& block : c.blocks) {
    if (block.kind != "setup") continue;
    const auto setup = RunProcess("/bin/sh", {"sh", "-c", block.text}, dir.path());
    ASSERT_EQ(setup.status, 0) << "setup failed: " << setup.out << setup.err;
  }

  std::vector<std::string> argv = {argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  const ProcessResult run = RunTorvik(dir / program, argv, dir.path(), 120, environment);

  int expectedStatus = 0;
  for (const Block& block : c.blocks) {
    if (block.kind == "stdout") {
      EXPECT_EQ(run.out, Substitute(block.text, dir.path()));
    } else if (block.kind == "messages") {
      EXPECT_EQ(NumberedMessages(run.out), Substitute(block.text, dir.path())) << run.out;
    } else if (block.kind == "status") {
      expectedStatus = std::stoi(block.words.at(0));
    } else if (block.kind == "object") {
      const std::string path = dir / block.words.at(0);
      ASSERT_TRUE(FileExists(path)) << block.words.at(0) << " was not written\n" << run.out;
      EXPECT_EQ(ToHex(ReadFile(path)), ToHex(FromHex(block.text))) << "bytes of " << block.words.at(0);
    } else if (block.kind == "oracle") {
      const std::string object = ReadFile(dir / args.at(1));
      EXPECT_EQ(ToHex(CodeSection(object)), ToHex(OracleBytes(dir, block.text))) << "code against GNU as";
    } else if (block.kind == "absent") {
      for (const auto& name : block.words) EXPECT_FALSE(FileExists(dir / name)) << name << " exists";
    } else if (block.kind == "present") {
      for (const auto& name : block.words) EXPECT_TRUE(FileExists(dir / name)) << name << " is missing";
    }
  }
  EXPECT_EQ(run.status, expectedStatus) << run.out;
  EXPECT_EQ(run.err, "");
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, ::testing::ValuesIn(AllCases()), CaseName);

}  // namespace
}  // namespace torvik::test
