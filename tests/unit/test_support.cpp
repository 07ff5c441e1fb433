#include "test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "config/config.h"
#include "platform/host_control.h"
#include "shell/shell.h"

std::string MakeTempFolder() {
  char tmpl[] = "/tmp/kovela-test-XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "";
}

void RemoveTree(const std::string& path) {
  if (path.size() < 6 || path.rfind("/tmp/", 0) != 0) return;
  std::string cmd = "rm -rf '" + path + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", path.c_str());
}

// Test paths are CP932 like the updater's own; the host platform's mapping names the files.
std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(host::ToHostPath(path.c_str()), std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& data) {
  std::ofstream f(host::ToHostPath(path.c_str()), std::ios::binary);
  f << data;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return stat(host::ToHostPath(path.c_str()).c_str(), &st) == 0;
}

static void Collect(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
  DIR* d = opendir(host::ToHostPath((root + "/" + rel).c_str()).c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string n = host::FromHostPath(e->d_name);
    if (n == "." || n == "..") continue;
    std::string r = rel.empty() ? n : rel + "/" + n;
    struct stat st;
    stat(host::ToHostPath((root + "/" + r).c_str()).c_str(), &st);
    if (S_ISDIR(st.st_mode)) {
      out->push_back(r + "/");
      Collect(root, r, out);
    } else {
      out->push_back(r);
    }
  }
  closedir(d);
}

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> out;
  Collect(root, "", &out);
  std::sort(out.begin(), out.end());
  return out;
}

void HostTest::SetUp() {
  char cwd[4096];
  start_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
  host::Reset();
  shell::ResetForTests();
  config::ResetForTests();
  dir_ = MakeTempFolder();
  ASSERT_FALSE(dir_.empty());
  host::SetTempFolder(dir_ + "/tmp/");
  mkdir((dir_ + "/tmp").c_str(), 0777);
}

void HostTest::TearDown() {
  if (chdir(start_.c_str()) != 0) std::perror("chdir");
  RemoveTree(dir_);
  host::Reset();
  shell::ResetForTests();
  config::ResetForTests();
}
