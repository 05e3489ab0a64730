// The assembler: one run from table and source to object file, with its
// diagnostics, the scanning of statements in both passes, the expression
// evaluator and its operand probes, and the directives.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Expression.h"
#include "Files.h"
#include "Instruction.h"
#include "Messages.h"
#include "Objectfile.h"
#include "Preprocessor.h"
#include "Statement.h"
#include "Symtable.h"

namespace torvik {

class IntermediateFile;

// What lets an evaluation stand in for the operand probes, which would
// otherwise read its text again: the scans for the external symbols it
// names, and the relocation probe's two evaluations, one at the code's
// place and one as if the code were moved by a few bytes.
struct ProbeStandIn {
  enum class Probe { ExternalNames, PlacedValue, MovedValue };

  // Every token of the text was read.
  bool complete = false;
  // A division was made: its divisor may be 0 at one offset and not another.
  bool divides = false;
  // Set by EvaluateTracked: the evaluation printed nothing, and the number
  // of reports made when it ended.
  bool quiet = false;
  std::uint64_t reportMark = 0;

  // Whether the evaluation can stand in for `probe` now that `reportsMade`
  // reports have been made. The scans find what an evaluation that read
  // every token found. An evaluation at the code's place that printed
  // nothing, with no report since, is what the probe's own would be, and
  // printing nothing either; so is the moved one, derived from it, as long
  // as no division may turn out differently.
  bool CanStandInFor(Probe probe, std::uint64_t reportsMade) const {
    if (probe == Probe::ExternalNames) return complete;
    const bool silent = quiet && reportMark == reportsMade;
    return probe == Probe::PlacedValue ? silent : silent && !divides;
  }
};

// The value of an expression together with how it depends on where this
// module's code is placed and on external symbols.
struct Evaluation {
  std::int32_t value = 0;
  // How often the module's base address enters the value: 0 for a
  // constant, 1 for an address that moves with the code.
  int relocation = 0;
  // A relocatable value was combined by an operation other than adding or
  // subtracting, which no relocation can express.
  bool nonlinear = false;
  // The expression names an external symbol, or a symbol bound to one,
  // and the names of those externals.
  bool external = false;
  bool bound = false;
  std::string_view externalName;
  std::string_view boundTarget;
  ProbeStandIn standIn;
};

// Where a run's messages go, one whole line at a time.
class MessageSink {
 public:
  virtual void WriteLine(std::string_view line) = 0;

 protected:
  ~MessageSink() = default;
};

// Messages into a stream, for the tools and the tests.
class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void WriteLine(std::string_view line) override { out_ << line << '\n'; }

 private:
  std::ostream& out_;
};

class CAssembler {
 public:
  CAssembler(CObjectFile& image, MessageSink& out);
  CAssembler(CObjectFile& image, std::ostream& out);

  // One whole run; true exactly when the object file was written.
  bool Assemble(const std::string& tablePath, const std::string& sourcePath, const std::string& objectPath,
                bool strictWarnings);

  // Diagnostics.
  void Error(int code, std::string_view argument);
  void ErrorNum(int code, std::int32_t value);
  // An error about a given line of a given file, whatever line is current.
  void ErrorNumAt(std::string_view file, std::int32_t line, int code, std::int32_t value);
  void Warning(int code, std::string_view argument);
  void Message(std::string_view format, std::string_view argument = {});
  void NextLine() { ++lineCounter_; }
  const std::string& CurrentFileName() const;
  std::int32_t CurrentLine() const;
  std::int32_t LocationCounter() const { return locationCounter_; }
  bool HasErrors() const { return errorCount_ != 0; }
  const std::string& CurrentLabel() const { return topLabel_; }
  int ErrorCount() const { return errorCount_; }
  int WarningCount() const { return warningCount_; }

  // Expressions and probes. A probe given `recordAt` records what it finds
  // in the object image at that address.
  std::int32_t Evaluate(std::string_view text, std::int32_t offset = 0);
  Evaluation EvaluateTracked(std::string_view text, std::int32_t offset = 0);
  // `placed` may give the evaluation of `text` at offset 0, made before.
  bool CheckRelocatable(std::string_view text, std::optional<std::int32_t> recordAt,
                        const Evaluation* placed = nullptr);
  bool HasExternal(std::string_view text, std::optional<std::int32_t> recordAt);
  bool HasBoundExternal(std::string_view text, std::optional<std::int32_t> recordAt);
  std::optional<std::string> FirstExternalName(std::string_view text);
  // The two external probes for a text already evaluated: taken from the
  // evaluation when it read the whole text, else from scanning the text.
  struct Links {
    bool external = false;
    bool bound = false;
    bool Any() const { return external || bound; }
  };
  Links ExternalLinks(std::string_view text, const Evaluation& evaluation, std::optional<std::int32_t> recordAt);
  // Pass 1: whether the operand will name an external symbol in pass 2,
  // counting names the module declares external further on.
  bool NamesExternalForSizing(std::string_view text);

  // Pass 1's first step on a prepared line, taken by the passes and by the
  // tools that walk a source as pass 1 does: splits the line and defines
  // its label at the location counter, or the symbol it assigns. Nullopt
  // when the line has a label field but no label (reported), which ends
  // pass 1; otherwise the statements are sized next.
  // Inline, as most lines have no label field.
  std::optional<LineFields> DefineLabelField(std::string_view line) {
    if (!HasLabelField(line)) return SplitLine(line);
    return DefineLabel(line);
  }

  // Directives: the text after the '.'; the size in bytes or -1 to end the pass.
  std::int64_t Directive(std::string_view text, bool firstPass, bool emit);

  // Emitting into the object image, reporting overflow once.
  void Emit(std::uint8_t byte);
  void EmitFill(std::uint8_t byte, std::int64_t count);

  // Parts of the run, exposed for tests.
  CSymTable& Symbols() { return symbols_; }
  CInstruction& Instructions() { return instructions_; }
  CPreprocessor& Preprocessor() { return preprocessor_; }
  CObjectFile& Image() { return image_; }
  void SetLocationCounter(std::int32_t value) { locationCounter_ = value; }
  void SetCurrentLabel(std::string_view label) { topLabel_ = label; }
  void SetLineCounter(std::int32_t value) { lineCounter_ = value; }
  void SetFileNameOverride(std::string_view name) { fileNameOverride_ = name; }

 private:
  // One level of evaluation: the whole text, or a group after its '('.
  struct Level;
  Level EvaluateLevel(std::string_view text, std::int32_t offset, bool nested);
  struct Operand;
  Operand ReadOperand(std::string_view text, std::size_t pos, const ExprToken& token, std::int32_t offset);
  void ReadSymbol(std::string_view name, std::int32_t offset, Evaluation& operand);
  bool Link(const Evaluation& operand, Evaluation& result);
  bool Combine(Evaluation& result, Operation pending, const Operand& read);
  void RecordExternalRef(std::string_view name, std::int32_t address);
  template <typename Visit>
  static void ForEachIdentifier(std::string_view text, Visit visit);

  // The passes over the intermediate file.
  void CollectDeclaredExternals(const CPreprocessor::PreparedLines& lines);
  void FirstPass(const CPreprocessor::PreparedLines& lines);
  std::optional<LineFields> DefineLabel(std::string_view line);
  std::size_t CollectLabel(std::string_view line);
  void SecondPass(const CPreprocessor::PreparedLines& lines);
  std::optional<InstructionMatch> PassOneMatch(std::string_view statement) const;
  void CheckStatementSize(std::int64_t size);
  // Runs the statements of a line; false when a directive ended the pass.
  bool RunStatements(std::string_view statements, bool firstPass);
  void AdvanceLocation(std::int64_t size);
  void DefineAssignment(std::string_view label, std::string_view expression);

  // Directive bodies.
  std::int64_t DirectiveExternal(std::string_view argument, bool firstPass);
  std::int64_t DirectiveBytes(std::string_view argument, bool emit);
  std::int64_t DirectiveWords(std::string_view argument, bool firstPass, bool emit);
  std::int64_t DirectivePad(std::string_view argument, bool emit);
  std::int64_t DirectiveBinary(std::string_view argument, bool emit);
  std::int64_t DirectiveReserve(std::string_view argument, bool emit, int unit);
  bool IsConstantArgument(std::string_view argument, const Evaluation& evaluation);
  std::int32_t StringByte(std::string_view body, std::size_t& pos);

  void Report(bool isError, int code, std::string_view argument);
  void Report(bool isError, int code, std::string_view argument, std::string_view file, std::int32_t lineNumber);
  // Writes the expanded lines into the intermediate file that the run
  // leaves behind; false when they could not all be written.
  bool FillIntermediate(IntermediateFile& intermediate);
  bool WriteObject(const std::string& objectPath);

  CInstruction instructions_;
  CSymTable symbols_;
  CPreprocessor preprocessor_;
  CObjectFile& image_;
  std::optional<StreamSink> streamSink_;  // when constructed over a stream
  MessageSink& out_;

  std::string fileNameOverride_;
  std::string topLabel_;
  std::int32_t lineCounter_ = 0;
  std::int32_t locationCounter_ = 0;
  int errorCount_ = 0;
  int warningCount_ = 0;
  std::uint64_t reportSerial_ = 0;  // reports made, printed or not
  std::string lastErrorLine_;
  std::string lastWarningLine_;

  // The intermediate file of the run, which no directive may read.
  std::optional<FileIdentity> intermediateIdentity_;
  // The binary files the directives read.
  std::vector<FileIdentity> binaryInputs_;
  // Names declared external anywhere before the end directive.
  std::unordered_set<std::string> declaredExternals_;
  // What pass 1 found for each statement: its size, checked against what
  // pass 2 emits, and the row an instruction fitted.
  // Kept small: pass 1 stores one per statement. The operand is kept as
  // its place within the statement, which pass 2 scans again.
  struct SizedStatement {
    std::int64_t size = 0;
    std::int16_t row = -1;  // -1 when no row fitted
    std::uint16_t operandOffset = 0;
    std::uint16_t operandLength = 0;
    std::uint16_t repeats = 0;  // statements after it of the same size, without a row
  };
  static_assert(kMaxTableRows <= INT16_MAX && kLineReadLimit <= UINT16_MAX);
  void KeepSize(std::int64_t size, const std::optional<InstructionMatch>& match, std::string_view statement);
  std::vector<SizedStatement> statements_;
  bool keepingSizes_ = true;  // pass 1 kept every statement's size
  std::size_t nextStatement_ = 0;
  std::uint16_t nextRepeat_ = 0;
};

}  // namespace torvik
