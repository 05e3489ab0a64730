// One assembly run: the table, the preprocessor, both passes and the
// object file, in that order.
#include "Assembler.h"

#include "Intermediate.h"

namespace torvik {

CAssembler::CAssembler(CObjectFile& image, MessageSink& out)
    : instructions_(*this), symbols_(*this), preprocessor_(*this), image_(image), out_(out) {}

CAssembler::CAssembler(CObjectFile& image, std::ostream& out)
    : instructions_(*this),
      symbols_(*this),
      preprocessor_(*this),
      image_(image),
      streamSink_(std::in_place, out),
      out_(*streamSink_) {}

bool CAssembler::Assemble(const std::string& tablePath, const std::string& sourcePath, const std::string& objectPath,
                          bool strictWarnings) {
  // Problems in the table are printed under the table's name, not counted.
  fileNameOverride_ = tablePath;
  instructions_.Load(tablePath);
  errorCount_ = warningCount_ = 0;
  fileNameOverride_.clear();
  lineCounter_ = 0;

  Message("Assembling \"%s\"", sourcePath);
  IntermediateFile intermediate;
  if (!intermediate.Create()) {
    Error(kErrCannotOpenFile, kIntermediateName);
    return false;
  }
  // A source that is the intermediate file itself would be emptied by the
  // expansion; refuse it before anything is written.
  if (IdentityOfPath(sourcePath) == intermediate.Identity()) {
    Error(kErrCannotOpenFile, sourcePath);
    return false;
  }
  if (!intermediate.Truncate()) {
    Error(kErrCannotOpenFile, kIntermediateName);
    return false;
  }
  preprocessor_.Forbid(intermediate.Identity());
  intermediateIdentity_ = intermediate.Identity();
  // The passes take the lines from memory, so the file only receives them
  // when the run stops before the passes and leaves it for inspection; a
  // run that goes on deletes it unread.
  preprocessor_.DeferWriting(true);
  preprocessor_.Process(sourcePath, intermediate.Writer(), true);
  if (HasErrors()) {
    if (!FillIntermediate(intermediate)) Error(kErrCannotOpenFile, kIntermediateName);
    return false;
  }

  // The file must still be there and be the one this run holds.
  if (!intermediate.StillNamed()) {
    FillIntermediate(intermediate);
    Error(kErrCannotOpenFile, kIntermediateName);
    return false;
  }
  const CPreprocessor::PreparedLines lines = preprocessor_.Prepared();
  CollectDeclaredExternals(lines);
  Message("First pass...");
  locationCounter_ = 0;
  topLabel_.clear();
  FirstPass(lines);

  if (!HasErrors()) {
    lineCounter_ = 0;
    if (!intermediate.StillNamed()) {
      FillIntermediate(intermediate);
      Error(kErrCannotOpenFile, kIntermediateName);
      return false;
    }
    Message("Second pass...");
    locationCounter_ = 0;
    topLabel_.clear();
    image_.Reset();
    SecondPass(lines);
  }
  intermediate.Remove();
  Message("Assembly complete - " + std::to_string(errorCount_) + " error(s), " + std::to_string(warningCount_) +
          " warning(s)");
  if (errorCount_ != 0 || (strictWarnings && warningCount_ != 0)) return false;
  return WriteObject(objectPath);
}

// The object file takes the place of whatever stood at its path, but never
// that of a file the run read.
bool CAssembler::WriteObject(const std::string& objectPath) {
  std::vector<FileIdentity> inputs = preprocessor_.Inputs();
  inputs.insert(inputs.end(), binaryInputs_.begin(), binaryInputs_.end());
  const std::vector<std::uint8_t> bytes = image_.Serialize(symbols_);
  const OutputFile object{objectPath, bytes};
  switch (WriteOutputs(std::span(&object, 1), inputs).status) {
    case OutputStatus::Written: return true;
    case OutputStatus::NamesAnInput: Error(kErrOutputIsInput, objectPath); return false;
    case OutputStatus::CannotWrite: break;
  }
  Error(kErrCannotOpenFile, objectPath);
  return false;
}

bool CAssembler::FillIntermediate(IntermediateFile& intermediate) {
  return preprocessor_.WriteDeferred(intermediate.Writer()) && intermediate.FinishWriting();
}

}  // namespace torvik
