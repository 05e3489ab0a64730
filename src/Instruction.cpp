// Loading the instruction table file.
#include "Instruction.h"

#include <algorithm>
#include <cctype>

#include "Assembler.h"

namespace torvik {

namespace {

bool IsFormatSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A whitespace-delimited word, as the "%s" conversion reads one.
bool ScanWord(std::string_view line, std::size_t& pos, std::string_view& word) {
  while (pos < line.size() && IsFormatSpace(line[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && !IsFormatSpace(line[pos])) ++pos;
  word = line.substr(start, pos - start);
  return pos > start;
}

// An integer as the "%i" conversion reads one: decimal, hexadecimal after
// 0x, octal after a leading 0.
bool ScanInteger(std::string_view line, std::size_t& pos, std::int32_t& value) {
  std::size_t p = pos;
  while (p < line.size() && IsFormatSpace(line[p])) ++p;
  const std::size_t number = p;  // its sign or first digit
  if (p < line.size() && (line[p] == '+' || line[p] == '-')) ++p;
  int base = 10;
  if (p < line.size() && line[p] == '0') {
    const bool hexPrefix = p + 2 < line.size() && (line[p + 1] == 'x' || line[p + 1] == 'X') &&
                           std::isxdigit(static_cast<unsigned char>(line[p + 2]));
    base = hexPrefix ? 16 : 8;
  }
  std::size_t end = number;
  value = ConvertNumber(line, number, base, end);
  if (end == number) return false;
  pos = end;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Opcode bytes from pairs of hex digits; stops at the first pair that holds
// no digit. Bytes past the row's room are cut off.
int ParseOpcode(std::string_view text, std::array<std::uint8_t, kMaxOpcodeBytes>& opcode) {
  int count = 0;
  for (std::size_t at = 0; at < text.size(); at += 2) {
    const int high = HexDigit(text[at]);
    if (high < 0) break;
    const int low = at + 1 < text.size() ? HexDigit(text[at + 1]) : -1;
    const int value = low < 0 ? high : high * 16 + low;
    if (count == kMaxOpcodeBytes) break;
    opcode[static_cast<std::size_t>(count++)] = static_cast<std::uint8_t>(value);
  }
  return count;
}

}  // namespace

std::optional<std::uint8_t> InstructionEntry::FirstEmittedByte() const {
  if (opcodeCount <= 0) return std::nullopt;
  return opcode[static_cast<std::size_t>(opcodeCount - 1)];
}

int CInstruction::ParseRow(std::string_view line, InstructionEntry& row, int& argument) {
  std::size_t pos = 0;
  std::string_view mnemonic;
  std::string_view pattern;
  std::string_view opcodeText;
  argument = 0;
  if (!ScanWord(line, pos, mnemonic) || !ScanWord(line, pos, pattern) || !ScanWord(line, pos, opcodeText) ||
      !ScanInteger(line, pos, row.length) || !ScanInteger(line, pos, row.spareValue)) {
    return 401;
  }
  row.mnemonic.assign(mnemonic);
  row.pattern.assign(pattern);
  if (row.length < 1 || row.length > kMaxInstructionLength) {
    argument = kMaxInstructionLength;
    return 402;
  }
  row.opcodeCount = ParseOpcode(opcodeText, row.opcode);
  if (!row.pattern.empty() && row.pattern.front() == '"') row.pattern.clear();
  const int operandBytes = row.OperandBytes();
  if (operandBytes < 0 || operandBytes > 2 || (row.IsRelativeRow() && operandBytes > 1)) return 408;
  return 0;
}

void CInstruction::Load(const std::string& path) {
  owner_.Message("Loading instruction table \"%s\"", path);
  TextReader in;
  if (in.Open(path) != TextReader::OpenResult::Ok) {
    owner_.Error(400, path);
    return;
  }
  rows_.reserve(kMaxTableRows);
  std::string spill;
  std::string_view line;
  bool newline = false;
  for (;;) {
    const auto status = in.ReadLineView(line, spill, kLineReadLimit, newline);
    if (status == TextReader::Status::End) return;
    if (status == TextReader::Status::Error) {
      owner_.Error(400, path);
      return;
    }
    owner_.NextLine();
    if (line.size() >= kLineReadLimit) {
      owner_.ErrorNum(403, static_cast<std::int32_t>(kLineReadLimit));
      return;
    }
    line = line.substr(0, line.find(';'));
    if (line.empty()) continue;

    InstructionEntry row;
    int argument = 0;
    const int code = ParseRow(line, row, argument);
    if (code != 0) {
      if (argument != 0) {
        owner_.ErrorNum(code, argument);
      } else {
        owner_.Error(code, "");
      }
      continue;
    }
    if (RowCount() == kMaxTableRows) {
      owner_.ErrorNum(406, kMaxTableRows + 1);
      return;
    }
    AddRow(std::move(row));
  }
}

// Rows of one mnemonic mostly stand together, so the last one's list is
// tried before the index.
void CInstruction::AddRow(InstructionEntry row) {
  if (lastAdded_ == nullptr || rows_.empty() || !EqualsIgnoringCase(row.mnemonic, rows_.back().mnemonic)) {
    lastAdded_ = &byMnemonic_[UpperCased(row.mnemonic)];
  }
  lastAdded_->rows.push_back(RowCount());
  rows_.push_back(std::move(row));
}

void CInstruction::BuildTree(MnemonicRows& entry) const {
  auto& nodes = entry.nodes;
  nodes.assign(1, PrefixNode{});
  std::vector<int> parent{-1};
  std::vector<std::vector<int>> ending(1);  // the rows whose prefix ends at each node
  for (const int row : entry.rows) {
    int node = 0;
    for (const char c : Row(row).pattern) {
      if (c == '*' || c == '!' || c == '@') break;
      auto& children = nodes[static_cast<std::size_t>(node)].children;
      const auto child =
          std::find_if(children.begin(), children.end(), [c](const auto& link) { return link.first == c; });
      if (child != children.end()) {
        node = child->second;
        continue;
      }
      const int created = static_cast<int>(nodes.size());
      children.emplace_back(c, created);
      nodes.emplace_back();
      parent.push_back(node);
      ending.emplace_back();
      node = created;
    }
    ending[static_cast<std::size_t>(node)].push_back(row);
  }
  // A parent is made before its children, so its candidates are complete
  // when a child merges them with its own rows, both in table order.
  for (std::size_t node = 0; node < nodes.size(); ++node) {
    const auto& own = ending[node];
    auto& candidates = nodes[node].candidates;
    if (parent[node] < 0) {
      candidates = own;
      continue;
    }
    const auto& inherited = nodes[static_cast<std::size_t>(parent[node])].candidates;
    candidates.resize(inherited.size() + own.size());
    std::merge(inherited.begin(), inherited.end(), own.begin(), own.end(), candidates.begin());
  }
}

}  // namespace torvik
