// What a program given as the stub is: kovela-updater's bare updater.exe of this version, or
// something an author took by mistake. Read from the file's headers and resources; nothing is
// run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace mkupdater {

enum class StubKind {
  Ours,            // kovela-updater's updater.exe of this mkupdater's version, nothing after it
  NotProgram,      // no Windows program headers (a picture, a text, a cut file)
  Foreign,         // a Windows program without the updater's marker (mkupdater.exe, any other)
  OtherVersion,    // the updater of another release (version says which)
  CarriesPayload,  // an updater built before: a payload follows the program
  Appended,        // other bytes follow the program (a signature, another tool's data)
};

struct StubInfo {
  StubKind kind;
  std::string version;  // the marker's version, when there is a marker
};

// Examines the first length bytes of f as a Windows program and its kovela-updater marker
// (the RCDATA resource KOVELA_STUB, "kovela-updater <version>", written by res/version.rc).
// Every read is checked against length; a malformed header makes it NotProgram.
StubInfo ExamineStub(std::FILE* f, std::uint64_t length);

// The refusal for a stub of that kind, as "what it is; what to do" (UTF-8), or "" for Ours.
// builtUpdater: the program part of a built updater (verify) rather than a --stub (build).
std::string StubProblem(const StubInfo& info, bool builtUpdater);

}  // namespace mkupdater
