// Patches for mkupdater build --base --patches: a changed file carried as copies out of the
// installed file and literal bytes (src/payload/patch.h), where that is clearly smaller than the
// whole file.
//
// Matching: the base is indexed at content-defined anchors (the positions where a hash of the
// 32 bytes starting there has its low bits clear, one in 64 on average, fewer for bases above
// 1 GiB), so data that moved or shifted is found wherever it now lies; every anchor of the new
// file is looked up, each hit checked byte for byte and grown forwards and backwards. Both
// files are read through windows of a few MiB. Memory: 8 bytes per anchor of the base (at most
// 128 MiB, reached at 1 GiB and held from there), the windows, and the patch being made.
// The result depends on the two files alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "delta.h"
#include "meter.h"
#include "payload/container.h"
#include "tree.h"

namespace mkupdater {

struct Patch {
  std::vector<std::uint8_t> body;  // the record's body: header and instruction stream
  std::uint64_t copied = 0, literal = 0;
};

// Who hears how far a patch has got (the chunk callback of WriteFileRecord): the work done
// (both files hashed, the base indexed, the new file scanned) as a share of `share` bytes,
// about every MiB of it.
struct PatchProgress {
  void (*tell)(void* context, std::uint64_t done);
  void* context;
  std::uint64_t share;
};

// A patch that makes newPath from basePath. 1 with *patch filled when it pays (it copies at
// least a fifth of the new file and is smaller than it, and fits the memory bound), 0 when the
// whole file should travel, -1 when a file cannot be read (*why says so). always: the patch is
// made whole and 1 returned whether it pays or not.
int MakePatch(const std::string& basePath, const std::string& newPath, Patch* patch, std::string* why,
              bool always = false, PatchProgress progress = {});

// A patch record (CP932 name) for a result of resultSize bytes with its last-write time.
int WritePatchRecord(std::FILE* out, const std::string& name, std::uint64_t resultSize,
                     std::uint64_t filetime, const std::vector<std::uint8_t>& body);

// What a build carried as patches.
struct PatchSummary {
  std::vector<std::string> patched;  // UTF-8 names
  std::uint64_t wholeBytes = 0, patchBytes = 0;
};

// Writes entry e (its base at e.patchBase) as a patch record when one pays, else as a whole
// file streamed at level (0-9). The meter moves from *doneBefore over e.size while the patch is
// made; a whole file after it is more work, which adds e.size to the meter's total and to
// *doneBefore. 0, or an exit code with the message printed.
int PackPatchOrFile(std::FILE* out, const std::string& root, const Entry& e, int level, Meter* meter,
                    std::uint64_t* doneBefore, const std::string& outName, PatchSummary* summary);

// Marks every changed file of the delta but the start-up files to travel as a patch of the
// base's file of the same name.
void MarkPatches(const std::string& base, const Delta& delta, std::vector<Entry>* entries);
void PrintPatches(const PatchSummary& summary);

// mkupdater list's line for a patch record (the source stands after its time field, and then
// after the record): p, size, packed size, time, name, and the base's size and SHA-256. 0, or -1
// when the record is cut short.
int ListPatch(payload::Source* src, const payload::Record& rec, std::uint64_t filetime);
// The refusal of extract and verify when a patch record's base is missing or another file.
int FailPatchBase(const char* file, const std::string& record, const char* base);
// --base <folder> taken out of the arguments: the folder as the seam names it (code page 932,
// absolute), "" when not given; false when it is given wrong.
bool TakePatchBase(int* argc, char** argv, std::string* base);
// A warning line on stderr when the install.env text (code page 932) sets no CHKREGVER: an
// update with --base fits only installations of the base's release.
void WarnWithoutVersionGate(const std::string& env, const std::string& envPath);

}  // namespace mkupdater
