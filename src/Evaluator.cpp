// The expression evaluator and the operand probes. Expressions are read
// strictly left to right, without precedence; parentheses are the only
// grouping. Besides the value, the evaluator tracks how the value depends on
// the module's base address and on external symbols, because the object
// format can only add the module's base and external addresses to a 16-bit
// field: the operand probes record one directly named external symbol and
// one symbol bound to an external, so an expression may add at most one of
// each.
#include "Assembler.h"

namespace torvik {

namespace {

// The second relocation probe evaluates as if the code were moved by this.
constexpr std::int32_t kRelocationProbeOffset = 9;

std::int32_t Wrapped(std::int64_t value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

bool IsArithmetic(Operation op) { return op == Operation::Assign || op == Operation::Add || op == Operation::Subtract; }

// How the base address enters a combination.
void CombineRelocation(Operation op, Evaluation& result, const Evaluation& operand) {
  switch (op) {
    case Operation::Assign:
      result.relocation = operand.relocation;
      result.nonlinear = operand.nonlinear;
      return;
    case Operation::Add:
      result.relocation += operand.relocation;
      result.nonlinear = result.nonlinear || operand.nonlinear;
      return;
    case Operation::Subtract:
      result.relocation -= operand.relocation;
      result.nonlinear = result.nonlinear || operand.nonlinear;
      return;
    default:
      if (result.relocation != 0 || operand.relocation != 0 || operand.nonlinear) result.nonlinear = true;
      result.relocation = 0;
  }
}

}  // namespace

// Notes in `result` the external symbols an operand names; a second one
// of a kind cannot be recorded, so it ends the evaluation (reported).
bool CAssembler::Link(const Evaluation& operand, Evaluation& result) {
  if ((operand.external && result.external) || (operand.bound && result.bound)) {
    Error(kErrTwoExternals, "");
    return false;
  }
  if (operand.external) {
    result.external = true;
    result.externalName = operand.externalName;
  }
  if (operand.bound) {
    result.bound = true;
    result.boundTarget = operand.boundTarget;
  }
  return true;
}

struct CAssembler::Level {
  enum class End { Text, Closed, Aborted };
  Evaluation result;
  End end = End::Text;
  std::size_t closeAt = 0;  // just after the closing ')', in this level's text

  // Ends the level as `how` tells, with every token before that read.
  void Finish(End how) {
    result.standIn.complete = true;
    end = how;
  }
  void Abort() {
    result = Evaluation{};
    end = End::Aborted;
  }
};

// One operand as read from the text, and how the level goes on after it.
struct CAssembler::Operand {
  enum class Then {
    Combine,      // combine it with the pending operation and read on
    CombineLast,  // combine it and end the level: a group took the rest of the text
    Skip,         // there is no operand (reported); read on
    End,          // end the level here: the text ended inside a character constant
    Abort,        // the group it begins was aborted
  };
  Evaluation evaluation;
  Then then = Then::Combine;
  std::size_t next = 0;  // where the text goes on
};

CAssembler::Level CAssembler::EvaluateLevel(std::string_view text, std::int32_t offset, bool nested) {
  using Then = Operand::Then;
  Level level;
  Evaluation& result = level.result;  // it also collects the external symbols named
  Operation pending = Operation::Assign;
  // Each token is followed by its blanks, so only those that begin the
  // text are left to pass; blanks alone are no expression.
  std::size_t pos = SkipBlanks(text, 0);
  if (pos == text.size() && pos > 0) Error(kErrInvalidExpression, text);
  while (pos < text.size()) {
    const ExprToken token = NextToken(text, pos);
    if (token.kind == ExprToken::Kind::Operator) {
      pending = token.op;
      pos = SkipBlanks(text, token.end);
      continue;
    }
    if (token.kind == ExprToken::Kind::Close) {
      if (nested) {
        level.closeAt = token.end;
        level.Finish(Level::End::Closed);
      } else {
        Error(kErrNoOpeningParenthesis, "");
        level.Finish(Level::End::Text);
        result.standIn.complete = false;  // the tokens after it are not read
      }
      return level;
    }
    const Operand operand = ReadOperand(text, pos, token, offset);
    if (operand.then == Then::End) break;
    if (operand.then == Then::Abort || (operand.then != Then::Skip && !Combine(result, pending, operand))) {
      level.Abort();
      return level;
    }
    if (operand.then == Then::CombineLast) break;
    pos = SkipBlanks(text, operand.next);
  }
  level.Finish(Level::End::Text);
  return level;
}

// Reads the operand that `token`, at `pos`, begins: a symbol, a number,
// '$', a character constant or a group in parentheses. Inline, as is
// Combine: a level runs both for every operand.
inline CAssembler::Operand CAssembler::ReadOperand(std::string_view text, std::size_t pos, const ExprToken& token,
                                                   std::int32_t offset) {
  Operand operand;
  operand.next = token.end;
  Evaluation& evaluation = operand.evaluation;
  switch (token.kind) {
    case ExprToken::Kind::Identifier:
      ReadSymbol(text.substr(token.begin, token.end - token.begin), offset, evaluation);
      break;
    case ExprToken::Kind::Number: evaluation.value = token.value; break;
    case ExprToken::Kind::Location:
      evaluation.value = Wrapped(std::int64_t{locationCounter_} + offset);
      evaluation.relocation = 1;
      break;
    case ExprToken::Kind::CharConstant:
      if (token.badEscape) Error(kErrBadEscape, std::string_view(&token.escapeChar, token.escapeChar == '\0' ? 0 : 1));
      if (token.unterminated) Error(kErrBadCharacterConstant, "");
      if (token.endsEvaluation) operand.then = Operand::Then::End;
      evaluation.value = token.value;
      break;
    case ExprToken::Kind::Open: {
      const Level group = EvaluateLevel(text.substr(pos + 1), offset, true);
      if (group.end == Level::End::Aborted) {
        operand.then = Operand::Then::Abort;
        break;
      }
      evaluation = group.result;
      if (group.end == Level::End::Text) operand.then = Operand::Then::CombineLast;
      operand.next = pos + 1 + group.closeAt;
      break;
    }
    case ExprToken::Kind::Operator:  // taken by the level
    case ExprToken::Kind::Close:
    case ExprToken::Kind::Invalid:
    case ExprToken::Kind::End:
      Error(kErrInvalidExpression, text);
      operand.then = Operand::Then::Skip;
      break;
  }
  return operand;
}

// A symbol as an operand: its value, moved by `offset` when it moves with
// the code, and the external it is or is bound to.
void CAssembler::ReadSymbol(std::string_view name, std::int32_t offset, Evaluation& operand) {
  const SymbolEntry* entry = symbols_.Resolve(name);
  if (entry == nullptr) return;
  operand.value = entry->value;
  if (entry->relocatable) {
    operand.value = Wrapped(std::int64_t{operand.value} + offset);
    operand.relocation = 1;
  }
  operand.external = entry->external;
  if (operand.external) operand.externalName = entry->name;
  if (const auto target = symbols_.BoundExternalOf(*entry)) {
    operand.bound = true;
    operand.boundTarget = *target;
  }
}

// Combines an operand with the value so far by the pending operation: notes
// the externals it names, reports a group left open, applies the operation.
// False when the evaluation must end: a second external of a kind, or an
// external address used other than by adding it (both reported).
inline bool CAssembler::Combine(Evaluation& result, Operation pending, const Operand& read) {
  const Evaluation& operand = read.evaluation;
  const bool linkedBefore = result.external || result.bound;
  if (!Link(operand, result)) return false;
  if (read.then == Operand::Then::CombineLast) Error(kErrNoClosingParenthesis, "");
  result.standIn.divides = result.standIn.divides || operand.standIn.divides || pending == Operation::Divide;
  bool divisionByZero = false;
  const std::int32_t value = ApplyOperation(pending, result.value, operand.value, divisionByZero);
  if (divisionByZero) {
    Error(kErrDivisionByZero, "");
  } else {
    CombineRelocation(pending, result, operand);
    result.value = value;
  }
  // An external address can only be added: not combined otherwise, not
  // subtracted, and not replaced by a following operand.
  const bool linked = result.external || result.bound;
  const bool operandLinked = operand.external || operand.bound;
  if ((linked && !IsArithmetic(pending)) || (operandLinked && pending == Operation::Subtract) ||
      (linkedBefore && pending == Operation::Assign)) {
    Error(kErrExternalNotAdded, "");
    return false;
  }
  return true;
}

Evaluation CAssembler::EvaluateTracked(std::string_view text, std::int32_t offset) {
  const int printedBefore = errorCount_ + warningCount_;
  Evaluation evaluation = EvaluateLevel(text, offset, false).result;
  evaluation.standIn.quiet = errorCount_ + warningCount_ == printedBefore;
  evaluation.standIn.reportMark = reportSerial_;
  return evaluation;
}

std::int32_t CAssembler::Evaluate(std::string_view text, std::int32_t offset) {
  return EvaluateTracked(text, offset).value;
}

template <typename Visit>
void CAssembler::ForEachIdentifier(std::string_view text, Visit visit) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (IsBlank(text[pos])) {
      ++pos;
      continue;
    }
    const ExprToken token = NextToken(text, pos);
    if (token.kind == ExprToken::Kind::Identifier && visit(text.substr(token.begin, token.end - token.begin))) return;
    if (token.endsEvaluation) return;
    pos = token.end;
  }
}

void CAssembler::RecordExternalRef(std::string_view name, std::int32_t address) {
  if (image_.AddExternalRef(name, address) == CObjectFile::RefResult::TooManyExternals) {
    ErrorNum(kErrTooManyExternals, kMaxExternalSymbols);
  }
}

bool CAssembler::HasExternal(std::string_view text, std::optional<std::int32_t> recordAt) {
  bool found = false;
  ForEachIdentifier(text, [&](std::string_view name) {
    const SymbolEntry* entry = symbols_.Find(name);
    if (entry == nullptr || !entry->external) return false;
    if (recordAt) RecordExternalRef(entry->name, *recordAt);
    return found = true;
  });
  return found;
}

// A local symbol bound to an external counts under its short name too: the
// identifier is looked up as the evaluator looks it up.
bool CAssembler::HasBoundExternal(std::string_view text, std::optional<std::int32_t> recordAt) {
  bool found = false;
  ForEachIdentifier(text, [&](std::string_view name) {
    const SymbolEntry* entry = symbols_.Find(name);
    const auto bound = entry ? symbols_.BoundExternalOf(*entry) : std::nullopt;
    if (!bound) return false;
    if (recordAt) RecordExternalRef(*bound, *recordAt);
    return found = true;
  });
  return found;
}

std::optional<std::string> CAssembler::FirstExternalName(std::string_view text) {
  std::optional<std::string> first;
  ForEachIdentifier(text, [&](std::string_view name) {
    const SymbolEntry* entry = symbols_.Find(name);
    if (entry == nullptr) return false;
    // A symbol bound to an external passes its binding on.
    if (entry->external) {
      first = entry->name;
    } else if (const auto bound = symbols_.BoundExternalOf(*entry)) {
      first = std::string(*bound);
    }
    return first.has_value();
  });
  return first;
}

bool CAssembler::NamesExternalForSizing(std::string_view text) {
  if (declaredExternals_.empty() && symbols_.ExternalCount() == 0) return false;
  bool found = false;
  ForEachIdentifier(text, [&](std::string_view name) {
    const SymbolEntry* entry = symbols_.Find(name);
    found = entry ? entry->external : declaredExternals_.count(std::string(name)) != 0;
    return found;
  });
  return found;
}

CAssembler::Links CAssembler::ExternalLinks(std::string_view text, const Evaluation& evaluation,
                                            std::optional<std::int32_t> recordAt) {
  if (!evaluation.standIn.CanStandInFor(ProbeStandIn::Probe::ExternalNames, reportSerial_)) {
    return {HasExternal(text, recordAt), HasBoundExternal(text, recordAt)};
  }
  if (recordAt && evaluation.external) RecordExternalRef(evaluation.externalName, *recordAt);
  if (recordAt && evaluation.bound) RecordExternalRef(evaluation.boundTarget, *recordAt);
  return {evaluation.external, evaluation.bound};
}

// The expression is evaluated as placed and as if the code were moved by a
// few bytes; the difference shows how often the module's base enters the
// value. An evaluation that can stand in for either is taken instead; the
// moved one is then derived from the relocation count.
bool CAssembler::CheckRelocatable(std::string_view text, std::optional<std::int32_t> recordAt,
                                  const Evaluation* placed) {
  using Probe = ProbeStandIn::Probe;
  const bool reusable = placed && placed->standIn.CanStandInFor(Probe::PlacedValue, reportSerial_);
  const Evaluation first = reusable ? *placed : EvaluateTracked(text, 0);
  if (first.standIn.CanStandInFor(Probe::MovedValue, reportSerial_)) {
    if (!first.nonlinear && first.relocation == 0) return false;
    if (first.nonlinear || first.relocation != 1) Error(kErrCannotRelocate, "");
  } else {
    const std::int32_t moved = Evaluate(text, kRelocationProbeOffset);
    if (!first.nonlinear && moved == first.value) return false;
    const std::uint32_t shift = static_cast<std::uint32_t>(moved) - static_cast<std::uint32_t>(first.value);
    if (first.nonlinear || shift != static_cast<std::uint32_t>(kRelocationProbeOffset)) Error(kErrCannotRelocate, "");
  }
  if (recordAt) image_.AddLocalReloc(*recordAt);
  return true;
}

}  // namespace torvik
