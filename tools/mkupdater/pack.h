// Compressing the records of an updater: every file that fits a memory bound is compressed
// whole by libdeflate (its strongest level by default), on all cores at once; larger files are
// streamed through zlib. Records are written in walk order whatever the number of threads, and
// each file's stream depends on its bytes and the level alone, so the same folder always gives
// the same updater. The memory held at once is bounded (kInFlightLimit).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "meter.h"
#include "patch_build.h"
#include "tree.h"

namespace mkupdater {

constexpr int kStrongestLevel = 12;                     // libdeflate's; zlib's 9 for streamed files
constexpr std::uint64_t kWholeFileLimit = 32ull << 20;  // larger files are streamed
constexpr std::uint64_t kInFlightLimit = 160ull << 20;  // files read and streams made, not yet written

// Writes a record for each entry (files from root/rel, or their data when inMemory) at level
// 0-12. threads: 0 for one per core. 0, or an exit code with the message printed. *peak
// receives the most bytes held at once for files in flight. Entries with a patchBase are
// written by the calling thread, as patches where they pay (told to *patches when given).
int PackRecords(std::FILE* out, const std::string& root, const std::vector<Entry>& entries, int level,
                unsigned threads, Meter* meter, const std::string& outName, std::uint64_t* peak,
                PatchSummary* patches = nullptr);

}  // namespace mkupdater
