// The symbol table: labels, assignments and external symbols of one module.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Limits.h"
#include "Memory.h"

namespace torvik {

class CAssembler;

struct SymbolEntry {
  // A local label in its expanded form; the text is kept by the table for
  // the rest of the run.
  std::string_view name;
  std::int32_t value = 0;  // reduced to the range -65535..65535
  std::int32_t line = 0;
  bool external = false;
  bool relocatable = false;
  bool isPublic = false;
  std::int32_t boundExternal = -1;  // index of the external it is relative to
};

// Records are appended in definition order and never change afterwards.
// Lookups go through a hash index built alongside the records, so a lookup
// costs the same whatever the number of symbols.
class CSymTable {
 public:
  explicit CSymTable(CAssembler& owner);

  void Define(std::string_view name, std::int32_t value, bool external, bool relocatable, bool isPublic,
              std::optional<std::string_view> binding);

  // Value and IsRelocatable expand local names; the others take the name
  // exactly as given.
  std::int32_t Value(std::string_view name);
  bool IsRelocatable(std::string_view name);
  bool Exists(std::string_view name) const { return IndexOf(name) >= 0; }
  bool IsExternal(std::string_view name) const;
  // Name of the external symbol that `name` is bound to, if any.
  std::optional<std::string_view> ExternalOf(std::string_view name) const;
  int IndexOf(std::string_view name) const;

  int CountPublic();
  bool NextPublic(std::string& name, std::int32_t& value);

  // The record a (possibly local) name denotes, reporting as Value does
  // when there is none.
  const SymbolEntry* Resolve(std::string_view name);
  // The same without any report.
  const SymbolEntry* Find(std::string_view name) const;
  // The name of the external symbol a record is bound to, if any.
  std::optional<std::string_view> BoundExternalOf(const SymbolEntry& entry) const;

  int Count() const { return static_cast<int>(entries_.size()); }
  int ExternalCount() const { return externalCount_; }
  const SymbolEntry& Entry(int index) const { return entries_[static_cast<std::size_t>(index)]; }

 private:
  // The stored form of a name: the name itself, or a local name under the
  // top-level label, built in `buffer`. Nullopt when a local name cannot be
  // expanded, with the error code in `problem`.
  std::optional<std::string_view> StoredName(std::string_view name, std::string& buffer, int& problem) const {
    problem = 0;
    if (name.empty() || name.front() != '@') return name;
    return StoredLocalName(name, buffer, problem);
  }
  std::optional<std::string_view> StoredLocalName(std::string_view name, std::string& buffer, int& problem) const;
  // The same, reporting the problem.
  std::optional<std::string_view> Expand(std::string_view name, std::string& buffer);
  std::size_t SlotOf(std::string_view name) const;
  std::size_t SlotOf(std::string_view name, std::uint32_t hash) const;
  void GrowIndex();

  CAssembler& owner_;
  std::vector<SymbolEntry> entries_;
  std::vector<std::int32_t> index_;    // open addressing; -1 marks a free slot
  std::vector<std::uint32_t> hashes_;  // of each entry's name, for growing the index
  int publicCursor_ = 0;
  int externalCount_ = 0;
  mutable std::string expandBuffer_;  // the expanded form of the name last looked up
  std::string defineBuffer_;          // the same for the name being defined
  // The names of the records, one after another at addresses that never move.
  ReservedText names_{static_cast<std::size_t>(kMaxSymbols) * kMaxNameLength};
};

}  // namespace torvik
