// Libraries: `ar` archives of object files, in the common format and in
// GNU's (whose "//" member holds the long names and whose "/" member is a
// symbol table, skipped here, since the object files name their symbols).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torvik::tools {

// An archive past this size is refused before its members are looked at.
inline constexpr std::size_t kMaxArchiveBytes = std::size_t{64} << 20;

struct ArchiveMember {
  std::string name;
  std::size_t offset = 0;  // of the member's data in the archive
  std::vector<std::uint8_t> bytes;
};

struct ArchiveReadResult {
  bool ok = false;
  std::vector<ArchiveMember> members;  // in archive order, symbol tables left out
  std::string error;
  std::size_t errorOffset = 0;
};

// True when the bytes begin with the archive's magic line.
bool IsArchive(const std::vector<std::uint8_t>& bytes);

ArchiveReadResult ReadArchive(const std::vector<std::uint8_t>& bytes);

}  // namespace torvik::tools
