// Shared fixtures of the native tests: a fresh temporary folder and a clean host platform.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "doubles.h"

std::string MakeTempFolder();
void RemoveTree(const std::string& path);
// Files and folders under CP932 paths, as the updater names them.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& data);
bool PathExists(const std::string& path);
using Names = std::vector<std::string>;
Names ListTree(const std::string& root);                           // sorted, relative, '/' ends folders
void MakeFolders(const std::string& base, const Names& relative);  // in order; "" is base itself
// Makes base and, below it, each '/'-separated relative name with its folders on the way: a
// name ending in '/' is a folder, any other a file holding data.
void MakeTree(const std::string& base, const Names& relative, const std::string& data = "x");
std::uint64_t WriteTime(const std::string& path);  // the last-write FILETIME, 0 when unknown
void SetWriteTime(const std::string& path, std::uint64_t filetime);
// Every file and folder below root; each file with its size, last-write time and a hash of its
// bytes.
std::string Snapshot(const std::string& root);
std::string CurrentFolder();
std::string Rnd(std::size_t n, unsigned seed);  // n bytes of repeatable noise
Names BoxTexts();                               // the texts of the message boxes shown so far

// The exit code when f ended the process through plat::Exit, else kReturned.
constexpr int kReturned = INT_MIN;
int ExitCodeOf(const std::function<void()>& f);

// A payload container: records, then (unless end is false) the end marker and padding.
constexpr std::uint64_t kFileTime = 0x01D710B41567C980ull;  // 2021-03-04T05:06:07Z
struct Entry {
  std::string name, data;
  bool folder = false;
};
inline Entry Dir(const std::string& name) { return {name, "", true}; }
std::string Payload(const std::vector<Entry>& entries, bool end = true);
// Writes a two-byte stub, the payload and its trailer (by default the payload's real offset)
// as the running executable.
void InstallUpdater(const std::string& exe, const std::string& payload, std::int64_t trailer = -1);

// 512 bytes of PE headers, all an executable needs for a signing tool and for the updater's
// reader: DOS header (PE header at 0x40), "PE\0\0", COFF header, an optional header of the
// given magic (0x10B PE32, 0x20B PE32+) with 16 data directories, the security one (4) set to
// the certificate table's file offset and size.
std::string PeStub(std::uint16_t magic = 0x10B, std::uint32_t tableOffset = 0, std::uint32_t tableSize = 0);

// PeStub with a resource section holding the updater's marker (KOVELA_STUB, "kovela-updater
// <version>"): 1024 bytes that mkupdater takes for updater.exe.
std::string UpdaterStub(const std::string& version = KOVELA_VERSION);

// Runs a mkupdater command with stdout and stderr captured into *out and *err when given.
int RunTool(int (*command)(int, char**), std::vector<std::string> args, std::string* out = nullptr,
            std::string* err = nullptr);

// A clean host platform, shell, configuration and update state.
void ResetHost();

// A fresh temporary folder, current during the test, and a clean host platform, shell,
// configuration and update state; plain file names are looked up.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;    // a fresh temporary folder, removed afterwards
  std::string start_;  // the current folder before the test
};
