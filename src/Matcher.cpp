// Finding the table row that fits a statement. Purely textual: the
// mnemonic is compared without regard to case, the operand character by
// character against the row's pattern, where a wildcard takes up an
// expression.
#include <algorithm>
#include <cstring>

#include "Assembler.h"
#include "Instruction.h"

namespace torvik {

namespace {

// A capture without the blanks around it; a blank inside a character
// constant stays. A capture of blanks only is kept as written, so that an
// untyped row's operand draws the evaluator's message as it always did.
std::string_view TrimCapture(std::string_view text) {
  if (text.empty() || (!IsBlank(text.front()) && !IsBlank(text.back()))) return text;
  const std::size_t begin = SkipBlanks(text, 0);
  if (begin == text.size()) return text;
  if (!IsBlank(text.back())) return text.substr(begin);
  std::size_t end = begin;
  bool quoted = false;
  for (std::size_t i = begin; i < text.size(); ++i) {
    if (quoted && text[i] == '\\' && i + 1 < text.size()) {
      end = ++i + 1;
      continue;
    }
    if (text[i] == '\'') quoted = !quoted;
    if (!IsBlank(text[i]) || quoted) end = i + 1;
  }
  return text.substr(begin, end - begin);
}

}  // namespace

// Blanks in the operand are passed over before each fixed pattern
// character; what a capture takes is trimmed once the row fits.
bool CInstruction::Fits(std::string_view pattern, std::string_view statement, std::size_t start, std::string_view& last,
                        std::string_view* each) {
  std::size_t j = start;
  std::size_t count = 0;
  const auto capture = [&](std::string_view text) {
    last = text;
    if (each != nullptr && count < kMaxTypedOperands) each[count] = text;
    ++count;
  };
  const auto trimmed = [&] {
    last = TrimCapture(last);
    if (each != nullptr) {
      for (std::size_t k = 0; k < std::min<std::size_t>(count, kMaxTypedOperands); ++k) each[k] = TrimCapture(each[k]);
    }
    return true;
  };
  last = {};
  for (std::size_t l = 0; l < pattern.size(); ++l) {
    const char c = pattern[l];
    if (IsCaptureCharacter(c)) {
      if (l + 1 == pattern.size()) {
        // A capture that ends the pattern takes the rest of the statement.
        capture(statement.substr(j));
        return trimmed();
      }
      // Capture up to the first occurrence of the pattern's next character,
      // which is then compared like any other.
      const std::size_t stop = std::min(statement.find(pattern[l + 1], j), statement.size());
      capture(statement.substr(j, stop - j));
      j = stop;
      continue;
    }
    if (j < statement.size() && AsciiUpper(statement[j]) == c) {
      ++j;
      continue;
    }
    j = SkipBlanks(statement, j);  // a pattern holds no blank
    if (j >= statement.size() || AsciiUpper(statement[j]) != c) return false;
    ++j;
  }
  return SkipBlanks(statement, j) == statement.size() && trimmed();
}

CInstruction::Captures CInstruction::CapturesOf(const InstructionEntry& row, std::string_view field) {
  Captures captures;
  if (row.operandCount == 1) {
    captures.text[0] = field;
    return captures;
  }
  std::string_view last;
  Fits(row.pattern, field, 0, last, captures.text.data());
  return captures;
}

// A node for each fixed character that begins a pattern, under the node of
// the characters before it. Each node keeps the rows whose prefix ends
// there, and then those of the nodes above it as well: a parent is made
// before its children, so its list is complete when a child merges it
// with its own rows, both in table order.
void CInstruction::BuildTree(MnemonicRows& entry) const {
  std::vector<PrefixNode>& nodes = entry.nodes;
  std::size_t prefixCharacters = 0;  // a node for each of them at most, and the root
  for (const int row : entry.rows) prefixCharacters += Row(row).pattern.size();
  nodes.reserve(prefixCharacters + 1);
  nodes.assign(1, PrefixNode{});
  const auto childOf = [&nodes](int node, char c) {
    int child = nodes[static_cast<std::size_t>(node)].firstChild;
    while (child >= 0 && nodes[static_cast<std::size_t>(child)].character != c) {
      child = nodes[static_cast<std::size_t>(child)].nextSibling;
    }
    if (child >= 0) return child;
    PrefixNode created;
    created.character = c;
    created.parent = node;
    created.nextSibling = nodes[static_cast<std::size_t>(node)].firstChild;
    nodes.push_back(std::move(created));
    child = static_cast<int>(nodes.size()) - 1;
    nodes[static_cast<std::size_t>(node)].firstChild = child;
    return child;
  };
  for (const int row : entry.rows) {
    int node = 0;
    for (const char c : Row(row).pattern) {
      if (IsCaptureCharacter(c)) break;
      node = childOf(node, c);
    }
    nodes[static_cast<std::size_t>(node)].candidates.push_back(row);
  }
  for (std::size_t n = 1; n < nodes.size(); ++n) {
    const std::vector<int>& inherited = nodes[static_cast<std::size_t>(nodes[n].parent)].candidates;
    const std::vector<int>& own = nodes[n].candidates;
    std::vector<int> merged(inherited.size() + own.size());
    std::merge(inherited.begin(), inherited.end(), own.begin(), own.end(), merged.begin());
    nodes[n].candidates = std::move(merged);
  }
}

// The rows that may fit an operand: those of the node that its upper-cased
// characters lead to, passing blanks as the walk of a pattern does.
std::span<const int> CInstruction::Candidates(const MnemonicRows& entry, std::string_view operand) const {
  const PrefixNode* node = &entry.nodes.front();
  for (const char c : operand) {
    if (IsBlank(c)) continue;
    const char upper = AsciiUpper(c);
    int child = node->firstChild;
    while (child >= 0 && entry.nodes[static_cast<std::size_t>(child)].character != upper) {
      child = entry.nodes[static_cast<std::size_t>(child)].nextSibling;
    }
    if (child < 0) break;
    node = &entry.nodes[static_cast<std::size_t>(child)];
  }
  return node->candidates;
}

std::size_t CInstruction::MnemonicSlot(std::string_view mnemonic) const {
  std::uint32_t hash = 2166136261u;
  for (const char c : mnemonic) hash = (hash ^ static_cast<unsigned char>(AsciiUpper(c))) * 16777619u;
  std::size_t slot = hash & (kMnemonicSlots - 1);
  while (mnemonicSlots_[slot] != 0 && !EqualsIgnoringCase(mnemonics_[mnemonicSlots_[slot] - 1u].name, mnemonic)) {
    slot = (slot + 1) & (kMnemonicSlots - 1);
  }
  return slot;
}

CInstruction::MnemonicRows* CInstruction::FindRows(std::string_view mnemonic) {
  const std::uint16_t place = mnemonicSlots_[MnemonicSlot(mnemonic)];
  return place == 0 ? nullptr : &mnemonics_[place - 1u];
}

CInstruction::MnemonicRows* CInstruction::RowsOf(std::string_view mnemonic) {
  MnemonicRows* rows = FindRows(mnemonic);
  if (rows != nullptr && rows->nodes.empty()) BuildTree(*rows);
  return rows;
}

std::optional<InstructionMatch> CInstruction::Match(std::string_view statement) {
  if (const auto fit = matches_.Find(statement)) {
    return InstructionMatch{fit->row, statement.substr(fit->operandOffset, fit->operandLength)};
  }
  std::size_t p = SkipBlanks(statement, 0);
  if (p == statement.size()) return std::nullopt;
  const std::size_t mnemonicEnd = std::min(statement.find(' ', p), statement.size());
  const std::string_view mnemonic = statement.substr(p, mnemonicEnd - p);
  p = SkipBlanks(statement, mnemonicEnd);

  const MnemonicRows* rows = RowsOf(mnemonic);
  if (rows == nullptr) {
    owner_.Error(kErrUnknownInstruction, mnemonic);
    return std::nullopt;
  }
  std::string_view captured;
  for (const int row : Candidates(*rows, statement.substr(p))) {
    if (Fits(Row(row).pattern, statement, p, captured)) {
      const std::string_view operand = Row(row).operandCount > 1 ? statement.substr(p) : captured;
      const InstructionMatch match{row, operand};
      matches_.Insert(statement,
                      {static_cast<std::int16_t>(row), static_cast<std::uint16_t>(match.OperandOffset(statement)),
                       static_cast<std::uint16_t>(operand.size())});
      return match;
    }
  }
  owner_.Error(kErrUnknownOperands, mnemonic);
  return std::nullopt;
}

std::optional<MatchCache::Fit> MatchCache::Find(std::string_view statement) const {
  if (statement.empty() || statement.size() > kLongestKept) return std::nullopt;
  const std::uint32_t hash = HashText(statement);
  const std::uint16_t slot = slots_[hash & (kSlots - 1)];
  if (slot == 0) return std::nullopt;
  const Place& place = places_[slot - 1u];
  if (place.hash != hash || place.length != statement.size() ||
      std::memcmp(place.text, statement.data(), statement.size()) != 0) {
    return std::nullopt;
  }
  return place.fit;
}

void MatchCache::Insert(std::string_view statement, const Fit& fit) {
  if (statement.empty() || statement.size() > kLongestKept) return;
  Place place{};
  place.hash = HashText(statement);
  place.length = static_cast<std::uint8_t>(statement.size());
  std::memcpy(place.text, statement.data(), statement.size());
  place.fit = fit;
  std::uint16_t& slot = slots_[place.hash & (kSlots - 1)];
  if (slot != 0) {
    places_[slot - 1u] = place;
    return;
  }
  if (places_.empty()) places_.reserve(kSlots);
  places_.push_back(place);
  slot = static_cast<std::uint16_t>(places_.size());
}

}  // namespace torvik
