// Entry point of updater.exe.
#include <windows.h>

#include "shell/startup.h"

namespace {

constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

template <typename F>
F Kernel32Function(const char* name) {
  HMODULE k = GetModuleHandleW(L"kernel32.dll");
  return k ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(k, name))) : nullptr;
}

// An updater is run from a downloads folder, where a DLL with a system name may wait for any
// program that looks there first. The image imports only DLLs that Windows always takes from
// the system folder; everything loaded later, by this program or by a system DLL on its
// behalf, is confined to the system folder too. Both calls are looked up, as systems before
// Windows 8 (without its update) lack the first, and the program must still start there.
void RestrictDllSearch() {
  if (auto set = Kernel32Function<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories")) set(kSearchSystem32);
  if (auto set = Kernel32Function<BOOL(WINAPI*)(LPCWSTR)>("SetDllDirectoryW"))
    set(L"");  // not the current folder
}

}  // namespace

extern "C" int WinMainCRTStartup();

// The image's entry point (see cmake/win32.cmake): the search is restricted before the C and
// C++ runtimes start, then their usual start-up runs and calls WinMain.
extern "C" __attribute__((force_align_arg_pointer)) int UpdaterEntry() {
  RestrictDllSearch();
  return WinMainCRTStartup();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return shell::RunUpdater(); }
