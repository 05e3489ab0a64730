#include "Harness.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

#include "Assembler.h"
#include "Files.h"
#include "Intermediate.h"
#include "Messages.h"
#include "Objectfile.h"

namespace torvik::fuzz {

// The shipped table, embedded at build time (torvik_embed_table in
// Harness.cmake writes it out as a byte array).
extern const unsigned char kShippedTable[];
extern const std::size_t kShippedTableSize;

namespace {

namespace fs = std::filesystem;

constexpr const char* kTable = kInstructionTableName;
constexpr const char* kSource = "prog.asm";
constexpr const char* kInclude = "inc.asm";
constexpr const char* kBinary = "data.bin";
constexpr const char* kObject = "prog.otk";
constexpr const char* kIntermediate = kIntermediateName;
constexpr std::string_view kSeparator = "\n;--\n";
// What a failed run must leave in the place of the object file.
constexpr std::string_view kOlderObject = "an older object file";

constexpr std::size_t kMaxPrintedLine = 255;

// A source that uses labels of every kind, assignments, externals, every
// directive and instructions of every row kind (plain, immediate, 16-bit,
// relative, bit, indexed).
constexpr std::string_view kFixedSource =
    "        .ext print\n"
    "        .ext far\n"
    "base    = $100\n"
    "bound   = far + 2\n"
    "start:: nop\n"
    "        ld a,5\n"
    "        ld hl,start\n"
    "        ld hl,print\n"
    "        call print\n"
    "        jp bound\n"
    "        ld bc,base+1\n"
    "@loop:  dec a \\ jr nz,@loop\n"
    "        djnz $\n"
    "        bit 3,a\n"
    "        set 7,(hl)\n"
    "        ld (ix+5),a\n"
    "        ld b,(iy-3)\n"
    "        out (12),a\n"
    "        rst $38\n"
    "        im 1\n"
    "        ld a,'x'\n"
    "        ex af,af'\n"
    "        ld (start),hl\n"
    "next:   .db 1,\"ab\",-1,'x'\n"
    "        .dw start,$,next-start\n"
    "        .dbs 2\n"
    "        .dws 1\n"
    "        .pad $40\n"
    "        halt\n"
    "        .end here\n"
    "        ignored\n";

std::string workspace;
std::string inputName = "(input)";

[[noreturn]] void Fail(const std::string& what, const std::string& output) {
  std::fprintf(stderr, "fuzz check failed for %s: %s\n--- output ---\n%s--- end ---\n", inputName.c_str(), what.c_str(),
               output.c_str());
  std::fflush(stderr);
  std::abort();
}

void WriteBytes(const char* name, std::string_view bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s in %s\n", name, workspace.c_str());
    std::abort();
  }
}

std::string ReadBytes(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Removes everything but the table that an earlier run left.
void ClearWorkspace() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(".", ec)) {
    if (entry.path().filename() == kTable) continue;
    fs::remove_all(entry.path(), ec);
  }
}

std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    const auto end = output.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(output.substr(start));
      break;
    }
    lines.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The code of a diagnostic line "Error #N in ..." or -1.
int CodeOf(std::string_view line, std::string_view prefix) {
  if (!StartsWith(line, prefix)) return -1;
  int code = 0;
  std::size_t i = prefix.size();
  if (i >= line.size()) return -1;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) code = code * 10 + (line[i] - '0');
  if (!StartsWith(line.substr(i), " in ")) return -1;
  return code;
}

std::string ExpandedDirectly();

void CheckRun(bool written, const std::string& output) {
  if (output.empty() || output.back() != '\n') Fail("output does not end with a newline", output);
  const auto lines = Lines(output);
  bool assembling = false, firstPass = false, secondPass = false, summary = false;
  bool previousWasTableFull = false;  // that message ends with an empty line
  int errors = 0, warnings = 0, summaryErrors = -1, summaryWarnings = -1;
  for (const auto& line : lines) {
    if (line.size() > kMaxPrintedLine) Fail("a line longer than " + std::to_string(kMaxPrintedLine), output);
    const bool afterTableFull = previousWasTableFull;
    previousWasTableFull = false;
    if (StartsWith(line, "Loading instruction table \"")) {
      if (assembling) Fail("table loaded during the run", output);
    } else if (StartsWith(line, "Assembling \"")) {
      assembling = true;
    } else if (line == "First pass...") {
      if (!assembling || firstPass) Fail("first pass out of order", output);
      firstPass = true;
    } else if (line == "Second pass...") {
      if (!firstPass || secondPass) Fail("second pass out of order", output);
      if (errors != 0) Fail("second pass after errors in the first", output);
      secondPass = true;
    } else if (StartsWith(line, "Assembly complete - ")) {
      if (!firstPass || summary) Fail("summary out of order", output);
      if (std::sscanf(line.c_str(), "Assembly complete - %d error(s), %d warning(s)", &summaryErrors,
                      &summaryWarnings) != 2) {
        Fail("malformed summary", output);
      }
      summary = true;
    } else if (const int code = CodeOf(line, "Error #"); code >= 0) {
      if (FindMessage(kErrors, code) == nullptr) Fail("unknown error code " + std::to_string(code), output);
      if (assembling && !summary) ++errors;
      // After the summary only the object file can fail to be created.
      if (summary && code != kErrCannotOpenFile) Fail("error after the summary", output);
      previousWasTableFull = code == kErrSymbolTableFull;
    } else if (const int wcode = CodeOf(line, "Warning #"); wcode >= 0) {
      if (FindMessage(kWarnings, wcode) == nullptr) Fail("unknown warning code " + std::to_string(wcode), output);
      if (summary) Fail("warning after the summary", output);
      if (assembling) ++warnings;
    } else if (!(line.empty() && afterTableFull)) {
      Fail("unexpected line: " + line, output);
    }
  }
  if (!assembling) Fail("no Assembling line", output);
  if (summary && (errors != summaryErrors || warnings != summaryWarnings)) {
    Fail("the summary counts " + std::to_string(summaryErrors) + " error(s), " + std::to_string(summaryWarnings) +
             " warning(s) but " + std::to_string(errors) + " and " + std::to_string(warnings) + " were printed",
         output);
  }
  if (firstPass && errors == 0 && !secondPass) Fail("pass 2 skipped without an error", output);

  // The object file: written whole exactly when the run says so.
  const bool clean = summary && summaryErrors == 0 && summaryWarnings == 0;
  if (written && !clean) Fail("object written after a run that was not clean", output);
  if (!written && clean && lines.back().find("Cannot open file: \"prog.otk\"") == std::string::npos) {
    Fail("clean run wrote no object file", output);
  }
  const std::string object = ReadBytes(kObject);
  if (written) {
    const auto parsed = CObjectFile::Parse(std::vector<std::uint8_t>(object.begin(), object.end()));
    if (!parsed.ok) Fail("unreadable object file: " + parsed.error, output);
    if (parsed.module.code.size() > static_cast<std::size_t>(kMaxCodeBytes)) Fail("code too large", output);
  } else if (object != kOlderObject) {
    Fail("a failed run changed the older object file", output);
  }

  // The intermediate file stays exactly after a preprocessing error.
  const bool intermediateLeft = fs::exists(kIntermediate);
  if (firstPass && intermediateLeft) Fail("intermediate file left after the passes", output);
  if (!firstPass && !intermediateLeft) Fail("intermediate file removed after a preprocessing error", output);

  // Nothing else appeared.
  std::error_code ec;
  const std::set<std::string> allowed = {kTable, kSource, kInclude, kBinary, kObject, kIntermediate};
  for (const auto& entry : fs::directory_iterator(".", ec)) {
    const auto name = entry.path().filename().string();
    if (allowed.count(name) == 0) Fail("stray file " + name, output);
  }

  // The run holds the lines back until it knows it leaves the file; what
  // it left must be what an expansion written line by line gives.
  if (intermediateLeft && ReadBytes(kIntermediate) != ExpandedDirectly()) {
    Fail("the intermediate file left differs from the expansion", output);
  }
}

// The source expanded by a preprocessor that writes every line as it comes,
// into an anonymous file, refusing the intermediate file as a source as the
// run does.
std::string ExpandedDirectly() {
  const UniqueFile file = platform::OpenAnonymous();
  if (!file.IsOpen()) return {};
  std::ostringstream ignored;
  CObjectFile image;
  CAssembler assembler(image, ignored);
  assembler.Preprocessor().Forbid(IdentityOfPath(kIntermediate));
  {
    TextWriter writer;
    writer.Attach(file.Get());
    assembler.Preprocessor().Process(kSource, writer, true);
    writer.Flush();
  }
  std::string bytes;
  char chunk[4096];
  for (std::uint64_t at = 0;;) {
    const std::int64_t got = ReadAll(file.Get(), chunk, sizeof chunk, at);
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
  }
  return bytes;
}

void Run(const std::string& tablePath) {
  WriteBytes(kObject, kOlderObject);
  std::ostringstream out;
  bool written = false;
  {
    CObjectFile image;
    CAssembler assembler(image, out);
    written = assembler.Assemble(tablePath, kSource, kObject, true);
  }
  CheckRun(written, out.str());
}

void RemoveWorkspace() {
  if (workspace.empty()) return;
  std::error_code ec;
  fs::current_path(fs::temp_directory_path(ec), ec);
  fs::remove_all(workspace, ec);
}

}  // namespace

void PrepareWorkspace() {
  if (!workspace.empty()) return;
  std::string pattern = (fs::temp_directory_path() / "torvik-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) {
    std::perror("cannot prepare the fuzz workspace");
    std::abort();
  }
  workspace = pattern;
  std::atexit(RemoveWorkspace);
}

void SetInputName(const std::string& name) { inputName = name; }

void AssembleSource(const std::uint8_t* data, std::size_t size) {
  PrepareWorkspace();
  ClearWorkspace();
  // Written for every input: the table target in the same process writes
  // tables of its own under the same name.
  WriteBytes(kTable, std::string_view(reinterpret_cast<const char*>(kShippedTable), kShippedTableSize));
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const char* names[] = {kSource, kInclude, kBinary};
  for (std::size_t part = 0; part < 3; ++part) {
    const auto at = part < 2 ? input.find(kSeparator) : std::string_view::npos;
    if (at == std::string_view::npos) {
      WriteBytes(names[part], input);
      break;
    }
    WriteBytes(names[part], input.substr(0, at + 1));
    input.remove_prefix(at + kSeparator.size());
  }
  Run(kTable);
}

void AssembleTable(const std::uint8_t* data, std::size_t size) {
  PrepareWorkspace();
  ClearWorkspace();
  WriteBytes(kTable, std::string_view(reinterpret_cast<const char*>(data), size));
  WriteBytes(kSource, kFixedSource);
  Run(kTable);
}

}  // namespace torvik::fuzz
