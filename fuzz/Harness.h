// One assembly run per fuzz input, in a private working directory, with the
// checks every run must pass whatever its input: the exit result agrees
// with the object file and the summary, the object file is whole and
// readable, an older object file survives a failed run, the intermediate
// file is left exactly when preprocessing failed, no other file appears, and
// every printed line is a known progress line or a numbered diagnostic of a
// known code.
//
// The same functions serve the libFuzzer targets and the regression replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvik::fuzz {

// Creates a private temporary directory, makes it the current directory and
// writes the shipped instruction table into it. Called once per process;
// the directory is removed again when the process exits normally.
void PrepareWorkspace();

// The input is a source file, optionally followed by the line ";--" and an
// include file "inc.asm", and by another ";--" line and a binary file
// "data.bin". The source is assembled against the shipped table.
void AssembleSource(const std::uint8_t* data, std::size_t size);

// The input is the instruction table; a fixed source that uses every kind
// of statement is assembled against it.
void AssembleTable(const std::uint8_t* data, std::size_t size);

// Names the input being run in the message of a failed check.
void SetInputName(const std::string& name);

}  // namespace torvik::fuzz
