#include "Inputs.h"

#include "Archive.h"
#include "Files.h"
#include "ToolSupport.h"

namespace torvik::tools {

namespace {

bool ReadMembers(const std::vector<std::uint8_t>& bytes, LinkInput& library, Reporter& report) {
  const ArchiveReadResult archive = ReadArchive(bytes);
  if (!archive.ok) {
    report.Error("\"" + library.name + "\" is not a valid library: " + archive.error + " (at byte offset " +
                 std::to_string(archive.errorOffset) + ")");
    return false;
  }
  bool ok = true;
  for (const ArchiveMember& member : archive.members) {
    const std::string name = library.name + "(" + member.name + ")";
    auto module = ParseObjectFile(member.bytes, name, report);
    if (module) library.members.push_back({name, std::move(*module)});
    ok = module.has_value() && ok;
  }
  return ok;
}

}  // namespace

std::optional<LinkInput> ReadInput(const std::string& path, const Placement& placement, Reporter& report,
                                   FileIdentity* identity) {
  // A library may be larger than any object file; what is not a library is
  // held to the object file's bound once its first line has told.
  const auto bytes = ReadInputFile(path, kMaxArchiveBytes, report, identity);
  if (!bytes) return std::nullopt;
  if (!IsArchive(*bytes) && bytes->size() > kMaxObjectFileBytes) {
    report.Error("\"" + path + "\" is too large (" + std::to_string(bytes->size()) + " bytes; at most " +
                 std::to_string(kMaxObjectFileBytes) + " are read)");
    return std::nullopt;
  }
  LinkInput input{path, {}, placement, IsArchive(*bytes), {}};
  if (input.isLibrary) {
    if (!ReadMembers(*bytes, input, report)) return std::nullopt;
    return input;
  }
  auto module = ParseObjectFile(*bytes, path, report);
  if (!module) return std::nullopt;
  input.module = std::move(*module);
  return input;
}

}  // namespace torvik::tools
