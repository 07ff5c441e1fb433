// mkupdater's container commands.
#pragma once

#include <cstdint>
#include <string>

namespace mkupdater {

int RunBuildCommand(int argc, char** argv);
int RunListCommand(int argc, char** argv);
int RunExtractCommand(int argc, char** argv);
int RunVerifyCommand(int argc, char** argv);

// Exit codes: 1 for a wrong call or a refused input folder, 2 for a damaged container or
// a failed read or write.
constexpr int kUsageError = 1;
constexpr int kDataError = 2;

// UTF-8 <-> CP932; false when the text has no form in the other encoding.
bool Utf8ToCp932(const std::string& in, std::string* out);
bool Cp932ToUtf8(const std::string& in, std::string* out);

// FILETIME <-> "2021-03-04T05:06:07Z".
std::string FormatFiletime(std::uint64_t filetime);

}  // namespace mkupdater
