#include "Objectfile.h"

#include <algorithm>

#include "Files.h"
#include "Symtable.h"

namespace torvik {

namespace {

// Appends to bytes sized in advance; grows them should the size fall short.
class ByteSink {
 public:
  explicit ByteSink(std::size_t size) : bytes_(size) {}
  void U8(unsigned value) {
    Room(1);
    bytes_[at_++] = static_cast<std::uint8_t>(value & 0xFF);
  }
  // The low 16 bits of a value, least significant byte first.
  void U16(std::int64_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    Room(2);
    bytes_[at_] = static_cast<std::uint8_t>(bits & 0xFF);
    bytes_[at_ + 1] = static_cast<std::uint8_t>((bits >> 8) & 0xFF);
    at_ += 2;
  }
  template <typename Bytes>
  void Append(const Bytes& bytes) {
    Room(bytes.size());
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
    at_ += bytes.size();
  }
  void Name(std::string_view name) {
    U8(static_cast<unsigned>(name.size()));
    Append(name);
    U8(0);
  }
  std::vector<std::uint8_t> Take() {
    bytes_.resize(at_);
    return std::move(bytes_);
  }

 private:
  void Room(std::size_t count) {
    if (bytes_.size() - at_ < count) bytes_.resize(at_ + count);
  }
  std::vector<std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// Reads fields of an object file, remembering the first place it fell short.
class FieldReader {
 public:
  explicit FieldReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  bool U8(std::uint8_t& value, const char* what) {
    if (!Need(1, what)) return false;
    value = bytes_[pos_++];
    return true;
  }
  bool U16(std::uint16_t& value, const char* what) {
    if (!Need(2, what)) return false;
    value = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool Bytes(std::size_t count, std::vector<std::uint8_t>& out, const char* what) {
    if (!Need(count, what)) return false;
    out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
               bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + count));
    pos_ += count;
    return true;
  }
  bool Name(std::string& name, const char* what) {
    const std::size_t start = pos_;
    std::uint8_t length = 0;
    if (!U8(length, what)) return false;
    if (length == 0 || length > kMaxNameLength) return Fail(start, std::string("bad name length in ") + what);
    if (!Need(std::size_t{length} + 1, what)) return false;
    name.assign(reinterpret_cast<const char*>(&bytes_[pos_]), length);
    if (name.find('\0') != std::string::npos) return Fail(pos_, std::string("NUL inside name in ") + what);
    if (bytes_[pos_ + length] != 0) return Fail(pos_ + length, std::string("name not terminated in ") + what);
    pos_ += std::size_t{length} + 1;
    return true;
  }
  // Addresses of 16-bit fields, each inside the code of `codeSize` bytes.
  bool Addresses(std::uint16_t count, std::vector<std::uint16_t>& out, const char* what, std::size_t codeSize) {
    out.resize(count);
    for (auto& address : out) {
      const std::size_t at = pos_;
      if (!U16(address, what)) return false;
      if (address + 2u > codeSize) {
        return Fail(at, std::string(what) + " " + std::to_string(address) + " outside the code");
      }
    }
    return true;
  }
  bool Fail(std::size_t offset, std::string message) {
    if (error_.empty()) {
      errorOffset_ = offset;
      error_ = std::move(message);
    }
    return false;
  }
  std::size_t Position() const { return pos_; }
  std::size_t Size() const { return bytes_.size(); }
  const std::string& Error() const { return error_; }
  std::size_t ErrorOffset() const { return errorOffset_; }

 private:
  bool Need(std::size_t count, const char* what) {
    if (bytes_.size() - pos_ >= count) return true;
    return Fail(pos_, std::string("file ends inside ") + what);
  }

  const std::vector<std::uint8_t>& bytes_;
  std::size_t pos_ = 0;
  std::size_t errorOffset_ = 0;
  std::string error_;
};

bool ReadModule(FieldReader& in, ObjectModule& module) {
  std::uint16_t codeSize = 0;
  if (!in.U16(codeSize, "code size")) return false;
  if (codeSize > kMaxCodeBytes) return in.Fail(0, "code size exceeds " + std::to_string(kMaxCodeBytes) + " bytes");
  if (!in.Bytes(codeSize, module.code, "code")) return false;

  std::uint16_t relocCount = 0;
  if (!in.U16(relocCount, "relocation count")) return false;
  if (!in.Addresses(relocCount, module.relocations, "relocation address", codeSize)) return false;

  std::uint16_t externalCount = 0;
  if (!in.U16(externalCount, "external count")) return false;
  module.externals.resize(externalCount);
  for (auto& external : module.externals) {
    std::uint16_t refCount = 0;
    if (!in.Name(external.name, "external symbol name")) return false;
    if (!in.U16(refCount, "reference count")) return false;
    if (!in.Addresses(refCount, external.addresses, "reference address", codeSize)) return false;
  }

  std::uint16_t publicCount = 0;
  if (!in.U16(publicCount, "public count")) return false;
  module.publics.resize(publicCount);
  for (auto& symbol : module.publics) {
    if (!in.Name(symbol.name, "public symbol name")) return false;
    if (!in.U16(symbol.value, "public symbol value")) return false;
  }

  std::uint16_t lineCount = 0;
  if (!in.U16(lineCount, "line record count")) return false;
  module.lines.resize(lineCount);
  for (auto& line : module.lines) {
    if (!in.U16(line.line, "line record")) return false;
    const std::size_t at = in.Position();
    if (!in.U16(line.address, "line record")) return false;
    if (line.address >= codeSize) {
      return in.Fail(at, "line record address " + std::to_string(line.address) + " outside the code");
    }
  }
  if (in.Position() != in.Size()) return in.Fail(in.Position(), "unexpected bytes after the line table");
  return true;
}

}  // namespace

CObjectFile::CObjectFile() { Reset(); }

void CObjectFile::Reset() {
  refLists_.assign(1, ReferenceList{});
  lineRecords_.clear();
  // Room for the most there may be, so neither list is copied as it grows;
  // pages are only touched as records arrive.
  lineRecords_.reserve(kMaxLineRecords);
  code_.clear();
  code_.reserve(kMaxCodeBytes);
  overflowed_ = false;
}

CObjectFile::EmitResult CObjectFile::EmitByte(std::uint8_t byte) {
  if (overflowed_) return EmitResult::Dropped;
  if (IsFull()) {
    overflowed_ = true;
    return EmitResult::Overflowed;
  }
  code_.push_back(byte);
  return EmitResult::Stored;
}

void CObjectFile::AddLineRecord(std::int32_t address, std::int32_t line) {
  if (static_cast<int>(lineRecords_.size()) < kMaxLineRecords) lineRecords_.push_back({address, line});
}

void CObjectFile::AddLocalReloc(std::int32_t address) {
  auto& list = refLists_.front().addresses;
  if (static_cast<int>(list.size()) < kMaxAddressesPerList) list.push_back(address);
}

CObjectFile::RefResult CObjectFile::AddExternalRef(std::string_view name, std::int32_t address) {
  for (std::size_t i = 1; i < refLists_.size(); ++i) {
    if (refLists_[i].name == name) {
      auto& list = refLists_[i].addresses;
      if (static_cast<int>(list.size()) >= kMaxAddressesPerList) return RefResult::Dropped;
      list.push_back(address);
      return RefResult::Added;
    }
  }
  if (static_cast<int>(refLists_.size()) - 1 >= kMaxExternalSymbols) return RefResult::TooManyExternals;
  refLists_.push_back(ReferenceList{std::string(name), {address}});
  return RefResult::Added;
}

std::vector<std::uint8_t> CObjectFile::Serialize(CSymTable& symbols) const {
  ObjectModule module;
  module.code = code_;
  for (const auto address : LocalRelocations().addresses) {
    module.relocations.push_back(static_cast<std::uint16_t>(address));
  }
  for (std::size_t i = 0; i < ExternalCount(); ++i) {
    ObjectModule::External external{External(i).name, {}};
    for (const auto address : External(i).addresses) external.addresses.push_back(static_cast<std::uint16_t>(address));
    module.externals.push_back(std::move(external));
  }
  symbols.CountPublic();
  std::string name;
  std::int32_t value = 0;
  while (symbols.NextPublic(name, value)) module.publics.push_back({name, static_cast<std::uint16_t>(value)});
  module.lines.reserve(lineRecords_.size());
  for (const auto& record : lineRecords_) {
    module.lines.push_back({static_cast<std::uint16_t>(record.line), static_cast<std::uint16_t>(record.address)});
  }
  return Serialize(module);
}

std::vector<std::uint8_t> CObjectFile::Serialize(const ObjectModule& module) {
  // The exact size, so the bytes are written without reallocating.
  std::size_t size = 10 + module.code.size() + 2 * module.relocations.size() + 4 * module.lines.size();
  for (const auto& external : module.externals) size += 4 + external.name.size() + 2 * external.addresses.size();
  for (const auto& symbol : module.publics) size += 4 + symbol.name.size();
  ByteSink out(size);
  out.U16(static_cast<std::int64_t>(module.code.size()));
  out.Append(module.code);
  out.U16(static_cast<std::int64_t>(module.relocations.size()));
  for (const auto address : module.relocations) out.U16(address);
  out.U16(static_cast<std::int64_t>(module.externals.size()));
  for (const auto& external : module.externals) {
    out.Name(external.name);
    out.U16(static_cast<std::int64_t>(external.addresses.size()));
    for (const auto address : external.addresses) out.U16(address);
  }
  out.U16(static_cast<std::int64_t>(module.publics.size()));
  for (const auto& symbol : module.publics) {
    out.Name(symbol.name);
    out.U16(symbol.value);
  }
  out.U16(static_cast<std::int64_t>(module.lines.size()));
  for (const auto& line : module.lines) {
    out.U16(line.line);
    out.U16(line.address);
  }
  return out.Take();
}

bool CObjectFile::Write(const std::string& path, CSymTable& symbols) const {
  return WriteFileAtomically(path, Serialize(symbols));
}

ObjectReadResult CObjectFile::Parse(const std::vector<std::uint8_t>& bytes) {
  ObjectReadResult result;
  FieldReader in(bytes);
  result.ok = ReadModule(in, result.module);
  if (!result.ok) {
    result.error = in.Error();
    result.errorOffset = in.ErrorOffset();
  }
  return result;
}

}  // namespace torvik
