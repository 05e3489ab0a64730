// The two passes over the intermediate file. Pass 1 defines labels and
// assignments and sizes every statement; pass 2 emits the same statements.
// Both move the location counter by the same amounts, so labels hold the
// addresses at which pass 2 emits.
#include <limits>

#include "Assembler.h"
#include "Intermediate.h"
#include "Statement.h"

namespace torvik {

// Names that `.ext` declares anywhere before the end directive. An operand
// that names one takes an extra byte already in pass 1, also when the
// declaration comes after the use.
void CAssembler::CollectDeclaredExternals(const CPreprocessor::PreparedLines& lines) {
  declaredExternals_.clear();
  // Only a line with a '.' can hold a directive.
  lines.ForEachHolding('.', [this](const CPreprocessor::PreparedLine raw) {
    const LineFields fields = SplitLine(raw.text);
    if (fields.assignment) return true;
    return ForEachStatement(fields.statements, [this](std::string_view statement) {
      if (statement.empty() || statement.front() != '.') return true;
      const DirectiveHead head = ParseDirectiveHead(statement.substr(1));
      if (!head.hasArgument) return true;
      if (EqualsIgnoringCase(head.name, "ext")) declaredExternals_.insert(CollectExternalName(head.argument).name);
      // More names than the symbol table holds cannot all be defined, and
      // pass 1 fails; the rest need not be known.
      return !EqualsIgnoringCase(head.name, "end") &&
             declaredExternals_.size() <= static_cast<std::size_t>(kMaxSymbols);
    });
  });
}

void CAssembler::FirstPass(const CPreprocessor::PreparedLines& lines) {
  statements_.clear();
  statements_.reserve(lines.size());
  keepingSizes_ = true;
  for (const CPreprocessor::PreparedLine raw : lines) {
    ++lineCounter_;
    if (raw.tooLong) {
      ErrorNum(kErrLineTooLong, static_cast<std::int32_t>(kLineReadLimit));
      continue;
    }
    if (raw.text.empty()) continue;  // most lines of a source hold only a comment
    const std::optional<LineFields> fields = DefineLabelField(raw.text);
    if (!fields) return;
    if (fields->assignment) continue;
    if (!RunStatements(fields->statements, true)) return;
  }
  ++lineCounter_;  // the read that finds the end of the file
}

// DefineLabelField for a line with a label field.
std::optional<LineFields> CAssembler::DefineLabel(std::string_view line) {
  const std::size_t labelEnd = CollectLabel(line);
  if (labelEnd == 0) {
    Error(kErrLabelRequired, "");
    return std::nullopt;
  }
  const LineFields fields = SplitLine(line, labelEnd);
  if (fields.assignment) {
    DefineAssignment(fields.label, fields.expression);
  } else {
    symbols_.Define(fields.label, locationCounter_, false, true, fields.isPublic, std::nullopt);
    if (fields.label.front() != '@') topLabel_.assign(fields.label);
  }
  return fields;
}

// The label that begins the line: label characters up to the end of the
// label field, at most kMaxNameLength of them, and not beginning with a
// digit. Reports what stops it early; returns where it ends.
std::size_t CAssembler::CollectLabel(std::string_view line) {
  if (IsAsciiDigit(line.front())) {
    Error(kErrLabelStartsWithDigit, "");
    return 0;
  }
  std::size_t end = 0;
  while (end < line.size() && end < kMaxNameLength && IsLabelChar(line[end])) ++end;
  if (end < line.size() && !EndsLabelField(line[end])) {
    if (end == kMaxNameLength) {
      ErrorNum(kErrLabelTooLong, static_cast<std::int32_t>(kMaxNameLength));
    } else {
      ErrorNum(kErrBadLabelCharacter, static_cast<std::int8_t>(line[end]));
    }
  }
  return end;
}

void CAssembler::SecondPass(const CPreprocessor::PreparedLines& lines) {
  nextStatement_ = 0;
  nextRepeat_ = 0;
  for (const CPreprocessor::PreparedLine raw : lines) {
    ++lineCounter_;
    if (raw.tooLong || raw.text.empty()) continue;
    const LineFields fields = SplitLine(raw.text);
    if (fields.assignment) continue;
    if (!fields.label.empty() && fields.label.front() != '@') {
      topLabel_.assign(fields.label.substr(0, kMaxNameLength));
    }
    if (!RunStatements(fields.statements, false)) return;
  }
  ++lineCounter_;
}

void CAssembler::DefineAssignment(std::string_view label, std::string_view expression) {
  const Evaluation evaluation = EvaluateTracked(expression);
  const std::int32_t value = evaluation.value;
  // A symbol can be bound to one external only.
  if (evaluation.external && evaluation.bound) Error(kErrTwoExternals, "");
  std::optional<std::string> external;
  if (!evaluation.standIn.CanStandInFor(ProbeStandIn::Probe::ExternalNames, reportSerial_)) {
    external = FirstExternalName(expression);
  } else if (evaluation.external || evaluation.bound) {
    external = std::string(evaluation.external ? evaluation.externalName : evaluation.boundTarget);
  }
  const bool relocatable = CheckRelocatable(expression, std::nullopt, &evaluation);
  symbols_.Define(label, value, false, relocatable, false,
                  external ? std::optional<std::string_view>(*external) : std::nullopt);
}

// A statement without a row joins the one before it when it has its size:
// sources hold long runs of directives of size 0.
[[gnu::always_inline]] inline void CAssembler::KeepSize(std::int64_t size, const std::optional<InstructionMatch>& match,
                                                        std::string_view statement) {
  // Past the code's capacity, or after an error, pass 2 fails or does not
  // run at all: pass 1 stops keeping what it found, whose store would
  // otherwise grow with every statement of any source.
  if (HasErrors() || locationCounter_ > kMaxCodeBytes) {
    keepingSizes_ = false;
    return;
  }
  if (!match && !statements_.empty()) {
    SizedStatement& last = statements_.back();
    if (last.row < 0 && last.size == size && last.repeats < UINT16_MAX) {
      ++last.repeats;
      return;
    }
  }
  SizedStatement sized{size};
  if (match) {
    sized.row = static_cast<std::int16_t>(match->row);
    sized.operandOffset = static_cast<std::uint16_t>(match->OperandOffset(statement));
    sized.operandLength = static_cast<std::uint16_t>(match->operand.size());
  }
  statements_.push_back(sized);
}

// Pass 2 must emit exactly what pass 1 sized, or every later address would
// be wrong without a word said. Statements pass 1 no longer kept lie past
// the code's capacity, which pass 2 reports.
[[gnu::always_inline]] inline void CAssembler::CheckStatementSize(std::int64_t size) {
  if (nextStatement_ >= statements_.size()) {
    if (keepingSizes_) Error(kErrSizeChanged, "");
    return;
  }
  const SizedStatement& sized = statements_[nextStatement_];
  if (sized.size != size) Error(kErrSizeChanged, "");
  if (nextRepeat_ < sized.repeats) {
    ++nextRepeat_;
  } else {
    ++nextStatement_;
    nextRepeat_ = 0;
  }
}

[[gnu::always_inline]] inline std::optional<InstructionMatch> CAssembler::PassOneMatch(
    std::string_view statement) const {
  if (nextStatement_ >= statements_.size()) return std::nullopt;
  const SizedStatement& sized = statements_[nextStatement_];
  if (sized.row < 0 || sized.operandOffset + sized.operandLength > statement.size()) return std::nullopt;
  return InstructionMatch{sized.row, statement.substr(sized.operandOffset, sized.operandLength)};
}

bool CAssembler::RunStatements(std::string_view statements, bool firstPass) {
  return ForEachStatement(statements, [&](std::string_view statement) {
    if (statement.empty()) return true;
    std::int64_t size = 0;
    std::optional<InstructionMatch> match;
    if (statement.front() == '.') {
      size = Directive(statement.substr(1), firstPass, !firstPass);
      if (size < 0) return false;
    } else if (firstPass) {
      size = instructions_.Size(statement, match);
    } else {
      size = instructions_.Encode(statement, PassOneMatch(statement));
    }
    if (firstPass) {
      if (keepingSizes_) KeepSize(size, match, statement);
    } else {
      CheckStatementSize(size);
    }
    AdvanceLocation(size);
    return true;
  });
}

void CAssembler::AdvanceLocation(std::int64_t size) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  locationCounter_ = static_cast<std::int32_t>(std::min(kMax, std::int64_t{locationCounter_} + size));
}

}  // namespace torvik
