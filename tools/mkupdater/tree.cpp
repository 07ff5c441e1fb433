// Walking the folder to pack, in the same order on every host.
#include "tree.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>

#include "host.h"
#include "names.h"
#include "payload/container.h"
#include "tool.h"
#include "update/plan.h"

namespace mkupdater {

int StartupRank(const Entry& e) {
  if (e.folder || e.rel.find('/') != std::string::npos) return 3;
  if (e.name == "install.env") return 0;
  if (e.name == "insttscr.rct") return 1;
  if (payload::NameContainsNoCase(e.name.c_str(), ".txt")) return 2;
  return 3;
}

namespace {

// The name's problem for the updater and for Windows, as "what, and what to do", or "".
std::string NameProblem(const Entry& e, const std::string& utf8Name) {
  if (utf8Name.find('\\') != std::string::npos || utf8Name.find(':') != std::string::npos)
    return "names with '\\' or ':' cannot be stored; rename it";
  if (e.name.empty()) return UnrepresentableAdvice(utf8Name);
  if (e.name.size() > 259) return "the name is longer than 259 bytes in code page 932; shorten it";
  if (!payload::IsSafeEntryName(e.name.c_str(), e.folder))
    return "the updater would refuse this name; rename it";
  if (!payload::IsStoredAsGiven(e.name.c_str(), e.folder)) {
    if (utf8Name.back() == '.' || utf8Name.back() == ' ')
      return "Windows drops a trailing dot or space, and the file would land under another name; rename it";
    if (utf8Name.find_first_of("<>\"|?*") != std::string::npos ||
        std::any_of(utf8Name.begin(), utf8Name.end(), [](char c) { return c > 0 && c < 0x20; }))
      return "Windows refuses the characters < > \" | ? * and control characters in names; rename it";
    return "this is a device name on Windows (CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an extension), "
           "not a file; rename it";
  }
  if (update::IsReservedName(e.name.c_str()))
    return "the updater keeps names ending in .kovela-new or .kovela-old, and kovela-update.*, for staging "
           "an update; rename it";
  if (!e.folder && e.size > 0x7FFFFFFF) return "files of 2 GiB or more cannot be stored; split it";
  return "";
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && EqualNoCase(s.substr(s.size() - tail.size()), tail);
}

bool Kept(const WalkOptions& o, const std::string& name, const std::string& rel) {
  return std::any_of(o.keep.begin(), o.keep.end(),
                     [&](const std::string& k) { return EqualNoCase(k, name) || EqualNoCase(k, rel); });
}

int WalkFrom(const std::string& root, const std::string& rel, std::vector<Entry>* out, int* errors,
             const WalkOptions& options) {
  std::string dir = rel.empty() ? root : root + "/" + rel;
  std::vector<host::DirEntry> listed;
  if (host::ListFolder(dir, &listed) != 0)
    return Fail(kUsageError, "cannot read folder '%s': %s", dir.c_str(), host::LastError().c_str());
  // Byte order of the UTF-8 names, on every host: the same folder gives the same updater.
  std::sort(listed.begin(), listed.end(),
            [](const host::DirEntry& a, const host::DirEntry& b) { return a.name < b.name; });
  std::vector<Entry> files, folders;
  std::map<std::string, std::string> folded;  // the names Windows takes for one, first come
  for (const host::DirEntry& d : listed) {
    const std::string& n = d.name;
    std::string r = rel.empty() ? n : rel + "/" + n;
    Entry e{r, "", d.folder, d.size, d.time, false, {}, {}};
    if (IsJunk(n, d.folder) && !Kept(options, n, r)) {
      if (options.leftOut) options.leftOut->push_back(d.folder ? r + "/" : r);
      continue;
    }
    if (!e.folder && !d.regular) {
      *errors +=
          Finding(true, root + "/" + r, "neither a file nor a folder; move it out of '%s'", root.c_str());
      continue;
    }
    std::string cp;
    if (Utf8ToCp932(r, &cp)) {                        // else the name is left empty: see NameProblem
      std::replace(cp.begin(), cp.end(), '/', '\\');  // ASCII '/' never is a trail byte
      e.name = cp;
    }
    const std::string problem = NameProblem(e, n);
    if (!problem.empty()) {
      *errors += Finding(true, root + "/" + r, "%s", problem.c_str());
      continue;
    }
    auto same = folded.emplace(FoldCase(e.name), r);
    if (!same.second) {
      *errors += Finding(true, root + "/" + r,
                         "differs from '%s' only in case, and Windows keeps both as one file; rename one",
                         same.first->second.c_str());
      continue;
    }
    (e.folder ? folders : files).push_back(e);
  }
  // A folder's files first, then its subfolders, each subfolder's record before its content.
  for (Entry& f : files) out->push_back(f);
  for (Entry& f : folders) {
    out->push_back(f);
    if (int r = WalkFrom(root, f.rel, out, errors, options)) return r;
  }
  return 0;
}

}  // namespace

bool IsJunk(const std::string& name, bool folder) {
  static const char* const kFolders[] = {".git", ".svn", ".hg", "__MACOSX"};
  static const char* const kFiles[] = {"Thumbs.db", "ehthumbs.db", "desktop.ini", ".DS_Store"};
  if (folder)
    return std::any_of(std::begin(kFolders), std::end(kFolders),
                       [&](const char* j) { return EqualNoCase(name, j); });
  return std::any_of(std::begin(kFiles), std::end(kFiles),
                     [&](const char* j) { return EqualNoCase(name, j); }) ||
         name.rfind("._", 0) == 0 || EndsWithNoCase(name, ".bak") || EndsWithNoCase(name, ".swp") ||
         (name.size() > 1 && name.back() == '~');
}

int Walk(const std::string& root, std::vector<Entry>* out, int* errors, const WalkOptions& options) {
  return WalkFrom(root, "", out, errors, options);
}

int Walk(const std::string& root, std::vector<Entry>* out) {
  int errors = 0;
  if (int r = WalkFrom(root, "", out, &errors, WalkOptions{{}, nullptr})) return r;
  return errors ? Fail(kUsageError, "'%s': %d name%s the updater cannot take (above)", root.c_str(), errors,
                       errors == 1 ? "" : "s")
                : 0;
}

}  // namespace mkupdater
