// Statements that begin with '.': external declarations, data, padding,
// reserved space, binary inclusion and the end of the source.
#include <algorithm>
#include <climits>

#include "Assembler.h"
#include "Statement.h"

namespace torvik {

namespace {

constexpr std::string_view kDirectiveNames[] = {"ext",    "db",  "byte", "dw",    "word", "pad",
                                                "incbin", "end", "dbs",  "bytes", "dws",  "words"};

bool IsDirectiveName(std::string_view name) {
  for (const auto known : kDirectiveNames) {
    if (EqualsIgnoringCase(name, known)) return true;
  }
  return false;
}

bool NameIs(std::string_view name, std::string_view a, std::string_view b = {}) {
  return EqualsIgnoringCase(name, a) || (!b.empty() && EqualsIgnoringCase(name, b));
}

// Position of the double quote that closes a string whose body starts at
// `from`; a quote after a backslash does not close it.
std::size_t ClosingQuote(std::string_view text, std::size_t from) {
  for (std::size_t p = from; p < text.size(); ++p) {
    if (text[p] == '\\') {
      ++p;
    } else if (text[p] == '"') {
      return p;
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::int64_t CAssembler::Directive(std::string_view text, bool firstPass, bool emit) {
  const DirectiveHead head = ParseDirectiveHead(text);
  if (!head.hasArgument) {
    if (!IsDirectiveName(head.name)) {
      Error(kErrUnknownDirective, head.name);
    } else if (!EqualsIgnoringCase(head.name, "end")) {
      Error(kErrValueExpected, "");
    }
    return 0;
  }
  const std::string_view name = head.name;
  const std::string_view argument = head.argument;
  if (NameIs(name, "ext")) return DirectiveExternal(argument, firstPass);
  if (NameIs(name, "db", "byte")) return DirectiveBytes(argument, emit);
  if (NameIs(name, "dw", "word")) return DirectiveWords(argument, firstPass, emit);
  if (NameIs(name, "pad")) return DirectivePad(argument, emit);
  if (NameIs(name, "incbin")) return DirectiveBinary(argument, emit);
  if (NameIs(name, "dbs", "bytes")) return DirectiveReserve(argument, emit, 1);
  if (NameIs(name, "dws", "words")) return DirectiveReserve(argument, emit, 2);
  if (NameIs(name, "end")) return -1;
  Error(kErrUnknownDirective, name);
  return 0;
}

std::int64_t CAssembler::DirectiveExternal(std::string_view argument, bool firstPass) {
  const CollectedName collected = CollectExternalName(argument);
  switch (collected.error) {
    case kErrLabelTooLong: ErrorNum(kErrLabelTooLong, static_cast<std::int32_t>(kMaxNameLength)); break;
    case kErrLabelStartsWithDigit: Error(kErrLabelStartsWithDigit, ""); break;
    case kErrBadExternalCharacter:
      ErrorNum(kErrBadExternalCharacter, static_cast<std::int8_t>(collected.badChar));
      break;
    default: break;
  }
  if (firstPass) symbols_.Define(collected.name, 0, true, false, false, std::nullopt);
  return 0;
}

std::int32_t CAssembler::StringByte(std::string_view body, std::size_t& pos) {
  const char c = body[pos++];
  if (c != '\\') return static_cast<unsigned char>(c);
  const char escaped = body[pos++];
  if (const auto byte = EscapedByte(escaped)) return *byte;
  Error(kErrBadEscape, std::string_view(&escaped, 1));
  return static_cast<unsigned char>(escaped);
}

std::int64_t CAssembler::DirectiveBytes(std::string_view argument, bool emit) {
  std::int64_t count = 0;
  std::size_t pos = 0;
  for (;;) {
    pos = argument.find_first_not_of(' ', pos);
    if (pos == std::string_view::npos) break;
    std::size_t comma = 0;
    if (argument[pos] == '"') {
      const std::size_t close = ClosingQuote(argument, pos + 1);
      if (close == std::string_view::npos) {
        Error(kErrNoClosingQuote, "");
        break;
      }
      const std::string_view body = argument.substr(pos + 1, close - pos - 1);
      for (std::size_t p = 0; p < body.size();) {
        const std::int32_t byte = StringByte(body, p);
        ++count;
        if (emit) Emit(static_cast<std::uint8_t>(byte));
      }
      comma = argument.find(',', close + 1);
    } else {
      comma = argument.find(',', pos);
      const std::string_view item = argument.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
      ++count;
      const Evaluation value = EvaluateTracked(item);
      if (ExternalLinks(item, value, std::nullopt).Any()) {
        Error(kErrExternalInData, "");
      } else if (value.relocation != 0 || value.nonlinear) {
        // One byte of an address cannot be relocated.
        Error(kErrRelocatableAsByte, "");
      }
      if (value.value > 255) Warning(kWarnValueTruncated8, "");
      if (emit) Emit(static_cast<std::uint8_t>(value.value & 0xFF));
    }
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return count;
}

std::int64_t CAssembler::DirectiveWords(std::string_view argument, bool firstPass, bool emit) {
  std::int64_t count = 0;
  std::size_t pos = 0;
  while (pos < argument.size()) {
    const std::size_t comma = argument.find(',', pos);
    const std::string_view item = argument.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
    std::int32_t value = 0;
    // Words are evaluated only in pass 2, so they may name later symbols.
    if (!firstPass) {
      const Evaluation evaluation = EvaluateTracked(item);
      value = evaluation.value;
      CheckRelocatable(item, static_cast<std::int32_t>(locationCounter_ + count), &evaluation);
      if (ExternalLinks(item, evaluation, std::nullopt).Any()) Error(kErrExternalInData, "");
      if (value > 65535) Warning(kWarnValueTruncated16, "");
    }
    count += 2;
    if (emit) {
      Emit(static_cast<std::uint8_t>(value & 0xFF));
      Emit(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return count;
}

bool CAssembler::IsConstantArgument(std::string_view argument, const Evaluation& evaluation) {
  return !(CheckRelocatable(argument, std::nullopt, &evaluation) ||
           ExternalLinks(argument, evaluation, std::nullopt).Any());
}

std::int64_t CAssembler::DirectivePad(std::string_view argument, bool emit) {
  const Evaluation evaluation = EvaluateTracked(argument);
  const std::int32_t target = evaluation.value;
  if (!IsConstantArgument(argument, evaluation)) {
    Error(kErrPadNotConstant, "");
    return 0;
  }
  if (locationCounter_ > target) {
    Error(kErrPadBackwards, "");
    return 0;
  }
  const std::int64_t size = std::int64_t{target} - locationCounter_;
  if (emit) EmitFill(0xFF, size);
  return size;
}

std::int64_t CAssembler::DirectiveReserve(std::string_view argument, bool emit, int unit) {
  const Evaluation evaluation = EvaluateTracked(argument);
  const std::int32_t count = evaluation.value;
  if (!IsConstantArgument(argument, evaluation)) {
    Error(kErrSizeNotConstant, "");
    return 0;
  }
  if (count < 0) {
    Error(kErrNegativeSize, "");
    return 0;
  }
  const std::int64_t size = std::int64_t{count} * unit;
  if (emit) EmitFill(0xFF, size);
  return size;
}

std::int64_t CAssembler::DirectiveBinary(std::string_view argument, bool emit) {
  bool unterminated = false;
  const std::string name = BinaryFileName(argument, unterminated);
  if (unterminated) Error(kErrNoClosingQuote, "");
  // Opened without waiting, so that a pipe with no writer cannot hang the
  // run; only a regular file can be sized.
  const UniqueFile file = platform::Open(name, platform::OpenFor::ReadingWithoutWaiting);
  const auto status = file.IsOpen() ? platform::StatusOf(file.Get()) : std::nullopt;
  // The intermediate file holds this run's own expansion, not data; it
  // is empty while the passes run.
  const bool usable = status && status->kind == FileKind::Regular &&
                      !(intermediateIdentity_ && status->identity == *intermediateIdentity_);
  const auto found = usable ? platform::SizeBySeeking(file.Get()) : std::nullopt;
  if (!found || *found > INT32_MAX) {
    Error(kErrCannotOpenBinary, name);
    return 0;
  }
  const auto size = static_cast<std::int64_t>(*found);
  if (std::find(binaryInputs_.begin(), binaryInputs_.end(), status->identity) == binaryInputs_.end()) {
    binaryInputs_.push_back(status->identity);
  }
  if (emit) {
    // Read in pieces, and only as far as the code has room.
    std::uint8_t chunk[16 * 1024];
    for (std::int64_t remaining = size; remaining > 0 && !image_.HasOverflowed();) {
      const auto want = static_cast<std::size_t>(std::min<std::int64_t>(remaining, sizeof chunk));
      const std::int64_t got = ReadAll(file.Get(), chunk, want);
      for (std::int64_t i = 0; i < got && !image_.HasOverflowed(); ++i) Emit(chunk[i]);
      if (got != static_cast<std::int64_t>(want)) {
        Error(kErrCannotOpenBinary, name);
        break;
      }
      remaining -= got;
    }
  }
  return size;
}

void CAssembler::Emit(std::uint8_t byte) {
  if (image_.EmitByte(byte) == CObjectFile::EmitResult::Overflowed) ErrorNum(kErrCodeOverflow, kMaxCodeBytes);
}

void CAssembler::EmitFill(std::uint8_t byte, std::int64_t count) {
  for (; count > 0 && !image_.HasOverflowed(); --count) Emit(byte);
}

}  // namespace torvik
