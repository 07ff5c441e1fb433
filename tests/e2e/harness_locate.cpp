#include "harness_locate.h"

#include <cstring>

#include "harness.h"

namespace e2e {

namespace {

std::string KeyPath(const std::string& g, const std::string& l) { return "Software\\" + g + "\\" + l; }

struct OwnedSearch {
  DWORD pid;
  HWND owner;
  const char* title;
  HWND found;
};

BOOL CALLBACK FindOwned(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<OwnedSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (pid != s->pid || std::strcmp(cls, "#32770") != 0 || !IsWindowVisible(w)) return TRUE;
  if (GetWindow(w, GW_OWNER) != s->owner) return TRUE;
  if (s->title && WindowText(w) != s->title) return TRUE;
  s->found = w;
  return FALSE;
}

struct ChildSearch {
  const std::string* text;
  bool found;
};

BOOL CALLBACK FindChildText(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<ChildSearch*>(lp);
  if (WindowText(w) == *s->text) {
    s->found = true;
    return FALSE;
  }
  return TRUE;
}

std::string Narrow(const WCHAR* w, int n) {
  if (n <= 0) return "";
  int size = WideCharToMultiByte(932, 0, w, n, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(932, 0, w, n, &s[0], size, nullptr, nullptr);
  return s;
}

// Reads a template's name-or-ordinal field; ordinals of the predefined classes are named.
std::string ReadNameOrOrdinal(const WORD*& p, bool isClass) {
  if (*p == 0xFFFF) {
    WORD ordinal = p[1];
    p += 2;
    if (isClass) {
      static const char* const kAtoms[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
      if (ordinal >= 0x80 && ordinal <= 0x85) return kAtoms[ordinal - 0x80];
    }
    return "#" + std::to_string(ordinal);
  }
  const WCHAR* s = reinterpret_cast<const WCHAR*>(p);
  int n = 0;
  while (s[n]) ++n;
  p += n + 1;
  std::string out = Narrow(s, n);
  if (isClass)
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

const WORD* AlignDword(const WORD* p, const BYTE* base) {
  std::size_t off = reinterpret_cast<const BYTE*>(p) - base;
  return reinterpret_cast<const WORD*>(base + ((off + 3) & ~std::size_t(3)));
}

}  // namespace

RegScope::RegScope(HKEY r, const std::string& g, const std::string& l) : root(r), global(g), local(l) {}

RegScope::~RegScope() {
  RegDeleteKeyA(root, KeyPath(global, local).c_str());
  RegDeleteKeyA(root, ("Software\\" + global).c_str());  // fails while other keys remain
}

bool RegScope::Put(const std::string& name, const std::string& value) {
  HKEY k;
  if (RegCreateKeyExA(root, KeyPath(global, local).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
  return r == ERROR_SUCCESS;
}

FileScope::FileScope(const std::string& p, const std::string& content) : path(p) {
  // Make the missing folders from the top down.
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (IsDBCSLeadByteEx(932, static_cast<BYTE>(p[i]))) {
      ++i;  // its trail byte may be 0x5C
      continue;
    }
    if (p[i] != '\\' || i < 3) continue;
    std::string folder = p.substr(0, i);
    if (CreateDirectoryA(folder.c_str(), nullptr)) madeFolders.push_back(folder);
  }
  if (std::FILE* f = std::fopen(p.c_str(), "wb")) {
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }
}

FileScope::~FileScope() {
  DeleteFileA(path.c_str());
  for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it) RemoveDirectoryA(it->c_str());
}

HWND WaitForOwned(DWORD pid, HWND owner, DWORD ms, const char* title) {
  for (DWORD waited = 0;; waited += 50) {
    OwnedSearch s{pid, owner, title, nullptr};
    EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&s));
    if (s.found) {
      Sleep(200);  // let it paint
      return s.found;
    }
    if (waited >= ms) return nullptr;
    Sleep(50);
  }
}

bool WaitGone(HWND w, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    if (!IsWindow(w) || !IsWindowVisible(w)) return true;
    Sleep(50);
  }
  return false;
}

std::string WindowText(HWND w) {
  char t[2048] = {};
  if (w) GetWindowTextA(w, t, sizeof t);
  return t;
}

std::string BoxText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

std::string FieldText(HWND dialog, int id) {
  char t[2048] = {};
  SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof t, reinterpret_cast<LPARAM>(t));
  return t;
}

void TypeInto(HWND dialog, int id, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool HasChildText(HWND w, const std::string& text) {
  ChildSearch s{&text, false};
  EnumChildWindows(w, FindChildText, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

DialogTemplate ReadDialogTemplate(const std::string& exe, const char* name) {
  DialogTemplate t;
  HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!m) return t;
  HRSRC r = FindResourceA(m, name, reinterpret_cast<LPCSTR>(RT_DIALOG));
  HGLOBAL g = r ? LoadResource(m, r) : nullptr;
  const BYTE* base = g ? static_cast<const BYTE*>(LockResource(g)) : nullptr;
  if (base) {
    const auto* head = reinterpret_cast<const DLGTEMPLATE*>(base);
    t.found = true;
    t.style = head->style;
    t.exStyle = head->dwExtendedStyle;
    t.x = head->x, t.y = head->y, t.cx = head->cx, t.cy = head->cy;
    const WORD* p = reinterpret_cast<const WORD*>(base + 18);
    ReadNameOrOrdinal(p, false);  // menu
    ReadNameOrOrdinal(p, true);   // class
    t.title = ReadNameOrOrdinal(p, false);
    if (t.style & DS_SETFONT) {
      t.pointSize = *p++;
      t.font = ReadNameOrOrdinal(p, false);
    }
    for (int i = 0; i < head->cdit; ++i) {
      p = AlignDword(p, base);
      const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
      TemplateItem it;
      it.style = item->style;
      it.exStyle = item->dwExtendedStyle;
      it.x = item->x, it.y = item->y, it.cx = item->cx, it.cy = item->cy;
      it.id = static_cast<short>(item->id);
      p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + 18);
      it.cls = ReadNameOrOrdinal(p, true);
      it.text = ReadNameOrOrdinal(p, false);
      WORD extra = *p++;
      p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
      t.items.push_back(it);
    }
  }
  FreeLibrary(m);
  return t;
}

}  // namespace e2e
