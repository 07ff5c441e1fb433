// Walking the folder to pack, in the same order on every host.
#include "tree.h"

#include <algorithm>

#include "host.h"
#include "payload/container.h"
#include "tool.h"
#include "update/stage.h"

namespace mkupdater {

int StartupRank(const Entry& e) {
  if (e.folder || e.rel.find('/') != std::string::npos) return 3;
  if (e.name == "install.env") return 0;
  if (e.name == "insttscr.rct") return 1;
  if (payload::NameContainsNoCase(e.name.c_str(), ".txt")) return 2;
  return 3;
}

namespace {

int WalkFrom(const std::string& root, const std::string& rel, std::vector<Entry>* out) {
  std::string dir = rel.empty() ? root : root + "/" + rel;
  std::vector<host::DirEntry> listed;
  if (host::ListFolder(dir, &listed) != 0)
    return Fail(kUsageError, "cannot read folder '%s': %s", dir.c_str(), host::LastError().c_str());
  // Byte order of the UTF-8 names, on every host: the same folder gives the same updater.
  std::sort(listed.begin(), listed.end(),
            [](const host::DirEntry& a, const host::DirEntry& b) { return a.name < b.name; });
  std::vector<Entry> files, folders;
  for (const host::DirEntry& d : listed) {
    const std::string& n = d.name;
    std::string r = rel.empty() ? n : rel + "/" + n;
    Entry e{r, "", d.folder, d.size, d.time, false, {}, {}};
    if (!e.folder && !d.regular)
      return Fail(kUsageError, "'%s' is neither a file nor a folder; move it out of '%s'", r.c_str(),
                  root.c_str());
    if (n.find('\\') != std::string::npos || n.find(':') != std::string::npos)
      return Fail(kUsageError, "'%s': names with '\\' or ':' cannot be stored; rename it", r.c_str());
    std::string cp;
    if (!Utf8ToCp932(r, &cp))
      return Fail(kUsageError, "'%s': the name has no code page 932 form; rename it", r.c_str());
    std::replace(cp.begin(), cp.end(), '/', '\\');  // ASCII '/' never is a trail byte
    e.name = cp;
    if (e.name.size() > 259)
      return Fail(kUsageError, "'%s': the name is longer than 259 bytes in code page 932; shorten it",
                  r.c_str());
    if (!payload::IsSafeEntryName(e.name.c_str(), e.folder))
      return Fail(kUsageError, "'%s': the updater would refuse this name; rename it", r.c_str());
    if (update::IsReservedName(e.name.c_str()))
      return Fail(kUsageError,
                  "'%s': the updater keeps names ending in .kovela-new or .kovela-old, and "
                  "kovela-update.*, for staging an update; rename it",
                  r.c_str());
    if (!e.folder && e.size > 0x7FFFFFFF)
      return Fail(kUsageError, "'%s': files of 2 GiB or more cannot be stored; split it", r.c_str());
    (e.folder ? folders : files).push_back(e);
  }
  // A folder's files first, then its subfolders, each subfolder's record before its content.
  for (Entry& f : files) out->push_back(f);
  for (Entry& f : folders) {
    out->push_back(f);
    if (int r = WalkFrom(root, f.rel, out)) return r;
  }
  return 0;
}

}  // namespace

int Walk(const std::string& root, std::vector<Entry>* out) { return WalkFrom(root, "", out); }

}  // namespace mkupdater
