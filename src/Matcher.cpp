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

bool IsWildcard(char c) { return c == '*' || c == '!' || c == '@'; }

std::size_t SkipBlanks(std::string_view text, std::size_t pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  return pos;
}

}  // namespace

bool CInstruction::Fits(std::string_view pattern, std::string_view statement, std::size_t start,
                        std::string_view& operand) {
  operand = {};
  std::size_t j = start;
  std::size_t l = 0;
  while (l < pattern.size()) {
    const char c = pattern[l];
    if (IsWildcard(c)) {
      if (l + 1 == pattern.size()) {
        // A wildcard that ends the pattern takes the rest of the statement.
        operand = statement.substr(j);
        return true;
      }
      // Capture up to the first occurrence of the pattern's next character,
      // which is then compared like any other.
      const std::size_t stop = std::min(statement.find(pattern[l + 1], j), statement.size());
      operand = statement.substr(j, stop - j);
      j = stop;
      ++l;
      continue;
    }
    if (j >= statement.size() || AsciiUpper(statement[j]) != c) return false;
    ++j;
    ++l;
  }
  return SkipBlanks(statement, j) == statement.size();
}

std::span<const int> CInstruction::Candidates(const MnemonicRows& entry, std::string_view operand) const {
  const PrefixNode* node = &entry.nodes.front();
  for (const char c : operand) {
    const char upper = AsciiUpper(c);
    int child = node->firstChild;
    while (child >= 0 && entry.nodes[static_cast<std::size_t>(child)].character != upper) {
      child = entry.nodes[static_cast<std::size_t>(child)].nextSibling;
    }
    if (child < 0) break;
    node = &entry.nodes[static_cast<std::size_t>(child)];
  }
  return std::span<const int>(entry.candidates).subspan(static_cast<std::size_t>(node->candidateStart),
                                                         static_cast<std::size_t>(node->candidateCount));
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
    owner_.Error(404, mnemonic);
    return std::nullopt;
  }
  std::string_view operand;
  for (const int row : Candidates(*rows, statement.substr(p))) {
    if (Fits(Row(row).pattern, statement, p, operand)) {
      const InstructionMatch match{row, operand};
      matches_.Insert(statement, {static_cast<std::int16_t>(row), static_cast<std::uint16_t>(match.OperandOffset(statement)),
                                  static_cast<std::uint16_t>(operand.size())});
      return match;
    }
  }
  owner_.Error(405, mnemonic);
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
