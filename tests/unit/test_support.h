// Shared fixtures of the native tests: a fresh temporary folder and a clean host platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

std::string MakeTempFolder();
void RemoveTree(const std::string& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& data);
bool PathExists(const std::string& path);
std::vector<std::string> ListTree(const std::string& root);  // sorted, relative, '/' ends folders

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;    // a fresh temporary folder, removed afterwards
  std::string start_;  // the current folder before the test
};
