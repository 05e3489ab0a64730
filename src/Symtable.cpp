#include "Symtable.h"

#include <cstring>

#include "Assembler.h"
#include "Text.h"

namespace torvik {

namespace {

// The index starts small, so a short source does not pay for a full one,
// and doubles whenever it would be more than half full; a power of two.
constexpr std::size_t kFirstIndexSlots = 1024;
static_assert((kFirstIndexSlots & (kFirstIndexSlots - 1)) == 0);

}  // namespace

CSymTable::CSymTable(CAssembler& owner) : owner_(owner), index_(kFirstIndexSlots, -1) {
  entries_.reserve(kMaxSymbols);
  hashes_.reserve(kMaxSymbols);
}

std::size_t CSymTable::SlotOf(std::string_view name) const { return SlotOf(name, HashText(name)); }

std::size_t CSymTable::SlotOf(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = hash & mask;
  // The stored hashes spare comparing the names of most other entries.
  while (index_[slot] >= 0 && (hashes_[static_cast<std::size_t>(index_[slot])] != hash ||
                               entries_[static_cast<std::size_t>(index_[slot])].name != name)) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

// Doubles the index and puts every entry back, in definition order.
void CSymTable::GrowIndex() {
  index_.assign(index_.size() * 2, -1);
  const std::size_t mask = index_.size() - 1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    std::size_t slot = hashes_[i] & mask;
    while (index_[slot] >= 0) slot = (slot + 1) & mask;
    index_[slot] = static_cast<std::int32_t>(i);
  }
}

int CSymTable::IndexOf(std::string_view name) const {
  if (name.size() > kMaxNameLength) return -1;
  return index_[SlotOf(name)];
}

std::optional<std::string_view> CSymTable::StoredLocalName(std::string_view name, std::string& buffer,
                                                           int& problem) const {
  const std::string& top = owner_.CurrentLabel();
  if (name.size() + top.size() + 1 > kMaxNameLength) {
    problem = kErrLocalLabelTooLong;
    return std::nullopt;
  }
  if (top.empty()) {
    problem = kErrNoTopLevelLabel;
    return std::nullopt;
  }
  buffer.assign(1, '@');
  buffer += top;
  buffer += name;
  return std::string_view(buffer);
}

std::optional<std::string_view> CSymTable::Expand(std::string_view name, std::string& buffer) {
  int problem = 0;
  const auto stored = StoredName(name, buffer, problem);
  if (!stored) owner_.Error(problem, "");
  return stored;
}

void CSymTable::Define(std::string_view name, std::int32_t value, bool external, bool relocatable, bool isPublic,
                       std::optional<std::string_view> binding) {
  const bool local = !name.empty() && name.front() == '@';
  auto stored = Expand(name, defineBuffer_);
  if (!stored) return;
  if (local) isPublic = false;
  *stored = stored->substr(0, kMaxNameLength);

  if (value > 65535) owner_.Warning(kWarnSymbolTruncated, "");
  const std::int32_t reduced = value % 65536;

  // The slot that holds the name, or the free one where it will go.
  const std::uint32_t hash = HashText(*stored);
  std::size_t slot = SlotOf(*stored, hash);
  const int existing = index_[slot];
  if (existing >= 0) {
    if (Entry(existing).value == reduced) {
      owner_.Warning(kWarnDuplicateLabel, name);
    } else {
      owner_.Error(kErrDuplicateLabel, name);
    }
    return;
  }
  if (Count() == kMaxSymbols) {
    owner_.ErrorNum(kErrSymbolTableFull, kMaxSymbols);
    return;
  }

  SymbolEntry entry;
  entry.name = names_.Keep(*stored);
  entry.value = reduced;
  entry.line = owner_.CurrentLine();
  entry.external = external;
  entry.relocatable = relocatable;
  entry.isPublic = isPublic;
  entry.boundExternal = binding ? IndexOf(*binding) : -1;
  if (2 * (entries_.size() + 1) > index_.size()) {
    GrowIndex();
    slot = SlotOf(entry.name, hash);
  }
  index_[slot] = Count();
  hashes_.push_back(hash);
  externalCount_ += external ? 1 : 0;
  entries_.push_back(entry);
}

const SymbolEntry* CSymTable::Resolve(std::string_view name) {
  const auto stored = Expand(name, expandBuffer_);
  if (!stored) return nullptr;
  const int index = IndexOf(*stored);
  if (index < 0) {
    owner_.Error(kErrSymbolNotDefined, *stored);
    return nullptr;
  }
  return &Entry(index);
}

const SymbolEntry* CSymTable::Find(std::string_view name) const {
  int problem = 0;
  const auto stored = StoredName(name, expandBuffer_, problem);
  const int index = stored ? IndexOf(*stored) : -1;
  return index < 0 ? nullptr : &Entry(index);
}

std::int32_t CSymTable::Value(std::string_view name) {
  const SymbolEntry* entry = Resolve(name);
  return entry ? entry->value : 0;
}

bool CSymTable::IsRelocatable(std::string_view name) {
  const auto stored = Expand(name, expandBuffer_);
  if (!stored) return false;
  const int index = IndexOf(*stored);
  return index >= 0 && Entry(index).relocatable;
}

std::optional<std::string_view> CSymTable::BoundExternalOf(const SymbolEntry& entry) const {
  if (entry.boundExternal < 0) return std::nullopt;
  return Entry(entry.boundExternal).name;
}

bool CSymTable::IsExternal(std::string_view name) const {
  const int index = IndexOf(name);
  return index >= 0 && Entry(index).external;
}

std::optional<std::string_view> CSymTable::ExternalOf(std::string_view name) const {
  const int index = IndexOf(name);
  if (index < 0 || Entry(index).boundExternal < 0) return std::nullopt;
  return Entry(Entry(index).boundExternal).name;
}

int CSymTable::CountPublic() {
  int count = 0;
  for (const auto& entry : entries_) count += entry.isPublic ? 1 : 0;
  publicCursor_ = 0;
  return count;
}

bool CSymTable::NextPublic(std::string& name, std::int32_t& value) {
  while (publicCursor_ < Count()) {
    const SymbolEntry& entry = Entry(publicCursor_++);
    if (entry.isPublic) {
      name = entry.name;
      value = entry.value;
      return true;
    }
  }
  return false;
}

}  // namespace torvik
