// mkupdater.exe: the arguments arrive as UTF-16 and go on as UTF-8, like every path inside
// the tool; what it prints is UTF-8 too, and the console is told so.
#include <windows.h>

#include <string>
#include <vector>

#include "cli.h"

int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &s[0], n, nullptr, nullptr);
    s.resize(s.size() - 1);
    args.push_back(s);
  }
  std::vector<char*> ptrs;
  for (std::string& s : args) ptrs.push_back(&s[0]);
  ptrs.push_back(nullptr);
  return mkupdater::Main(argc, ptrs.data());
}
