// The object image filled in pass 2, and the object file written from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Limits.h"

namespace torvik {

class CSymTable;

struct ReferenceList {
  std::string name;  // the external symbol; unused for the local relocations
  std::vector<std::int32_t> addresses;
};

struct LineRecord {
  std::int32_t address = 0;
  std::int32_t line = 0;
};

// Everything an object file carries, also as read back from a file.
struct ObjectModule {
  struct Symbol {
    std::string name;
    std::uint16_t value = 0;
  };
  struct Line {
    std::uint16_t line = 0;
    std::uint16_t address = 0;
  };
  struct External {
    std::string name;
    std::vector<std::uint16_t> addresses;
  };
  std::vector<std::uint8_t> code;
  std::vector<std::uint16_t> relocations;
  std::vector<External> externals;
  std::vector<Symbol> publics;
  std::vector<Line> lines;
};

// The largest object file the writer can produce: every list of the image
// and the symbol table at its capacity, every name at its longest.
inline constexpr std::size_t kMaxObjectFileBytes = [] {
  constexpr std::size_t kCount = 2;                      // a u16 count before each list
  constexpr std::size_t kName = 1 + kMaxNameLength + 1;  // length, characters, NUL
  constexpr auto size = [](int capacity) { return static_cast<std::size_t>(capacity); };
  constexpr std::size_t kAddresses = 2 * size(kMaxAddressesPerList);
  return kCount + size(kMaxCodeBytes) +                                        // code
         kCount + kAddresses +                                                 // local relocations
         kCount + size(kMaxExternalSymbols) * (kName + kCount + kAddresses) +  // external symbols
         kCount + size(kMaxSymbols) * (kName + 2) +                            // public symbols
         kCount + size(kMaxLineRecords) * 4;                                   // line table
}();

// Outcome of reading an object file: the module, or what is wrong and where.
struct ObjectReadResult {
  bool ok = false;
  ObjectModule module;
  std::size_t errorOffset = 0;
  std::string error;
};

class CObjectFile {
 public:
  enum class EmitResult { Stored, Overflowed, Dropped };
  enum class RefResult { Added, TooManyExternals, Dropped };

  CObjectFile();

  // Empties the image before pass 2.
  void Reset();

  // Appends one byte. The byte that would be the (kMaxCodeBytes + 1)th is
  // refused with Overflowed; every byte after it is dropped.
  EmitResult EmitByte(std::uint8_t byte);
  bool IsFull() const { return static_cast<int>(code_.size()) == kMaxCodeBytes; }
  bool HasOverflowed() const { return overflowed_; }
  int Room() const { return kMaxCodeBytes - static_cast<int>(code_.size()); }

  void AddLineRecord(std::int32_t address, std::int32_t line);
  void AddLocalReloc(std::int32_t address);
  RefResult AddExternalRef(std::string_view name, std::int32_t address);

  const std::vector<std::uint8_t>& Code() const { return code_; }
  const ReferenceList& LocalRelocations() const { return refLists_.front(); }
  // External reference lists, in the order of first reference.
  std::size_t ExternalCount() const { return refLists_.size() - 1; }
  const ReferenceList& External(std::size_t i) const { return refLists_[i + 1]; }
  const std::vector<LineRecord>& LineRecords() const { return lineRecords_; }

  // The object file's bytes for this image and the table's public symbols.
  std::vector<std::uint8_t> Serialize(CSymTable& symbols) const;
  // Writes the file whole or not at all; false when it could not be.
  bool Write(const std::string& path, CSymTable& symbols) const;

  // Reads an object file's bytes, checking every count against what is left.
  static ObjectReadResult Parse(const std::vector<std::uint8_t>& bytes);
  static std::vector<std::uint8_t> Serialize(const ObjectModule& module);

 private:
  std::vector<ReferenceList> refLists_;
  std::vector<LineRecord> lineRecords_;
  std::vector<std::uint8_t> code_;
  bool overflowed_ = false;
};

}  // namespace torvik
