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

std::optional<LinkInput> ReadInput(const std::string& path, const Placement& placement, Reporter& report) {
  const auto bytes = ReadBinaryFile(path);
  if (!bytes) {
    report.Error("cannot read \"" + path + "\"");
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
