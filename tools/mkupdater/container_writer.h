// Writing the payload container that the updater reads (see src/payload/container.h for
// the layout). Used by mkupdater and by the test programs that build damaged containers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bytes.h"

namespace mkupdater {

// A folder record for a CP932 name such as "data\bgm".
int WriteFolderRecord(std::FILE* out, const std::string& name);
// A file record: the stream `in` (exactly `size` bytes) deflated at `level` (0-9) into one
// zlib stream. 0, or -1 with errno-style failure (read, write, too large).
// progress (when given) hears the bytes read so far after every chunk.
int WriteFileRecord(std::FILE* out, const std::string& name, std::FILE* in, std::uint64_t size,
                    std::uint64_t filetime, int level,
                    void (*progress)(void* context, std::uint64_t read) = nullptr, void* context = nullptr);
int WriteFileRecord(std::FILE* out, const std::string& name, const std::vector<std::uint8_t>& data,
                    std::uint64_t filetime, int level);
// A file record of size bytes whose zlib stream (n bytes at z) is made already.
int WriteCompressedRecord(std::FILE* out, const std::string& name, std::uint64_t size, std::uint64_t filetime,
                          const std::uint8_t* z, std::size_t n);
// End marker, padding and the trailer holding the payload's offset. The padding (two to nine
// zero bytes) makes out, counted from its start, a multiple of 8 bytes long: signing tools
// pad to that before they append the certificate table, and with nothing to pad the trailer
// stays right before the table, where the updater looks for it.
int WriteEnd(std::FILE* out, std::uint32_t payloadOffset);

// Raw pieces for hand-made (also damaged) containers; the integers through bytes.h.
std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data, int level);

}  // namespace mkupdater
