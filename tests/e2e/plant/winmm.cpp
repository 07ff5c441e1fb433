// A stand-in winmm.dll that the end-to-end tests put beside the updater, as a downloads
// folder might hold one. Loaded into a process, it leaves "planted-dll-loaded" beside
// itself; its timeGetTime answers 4242.
#define WIN32_LEAN_AND_MEAN  // leaves out mmsystem.h and its import of timeGetTime
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  while (n > 0 && path[n - 1] != '\\') --n;
  if (n == 0 || n + 19 > MAX_PATH) return TRUE;
  lstrcpyA(path + n, "planted-dll-loaded");
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI timeGetTime() { return 4242; }
