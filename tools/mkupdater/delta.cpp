// Comparing two releases, and the deletion lines that make the install folder follow.
#include "delta.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "base/cp932.h"
#include "base/paths.h"
#include "config/config.h"
#include "host.h"
#include "tool.h"

namespace mkupdater {
namespace {

constexpr char kNoteStart[] = "// mkupdater build --base: ";
constexpr char kNoteEnd[] = "// mkupdater build --base: end of the files the release no longer has";

// Windows compares names without regard to case: ASCII and the full-width Latin letters here.
std::string FoldCase(const std::string& utf8) {
  std::string s = utf8;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 'a' && c <= 'z') s[i] = static_cast<char>(c - 32);
    // U+FF41..U+FF5A (EF BD 81..9A) -> U+FF21..U+FF3A (EF BC A1..BA)
    if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBD &&
        static_cast<unsigned char>(s[i + 2]) >= 0x81 && static_cast<unsigned char>(s[i + 2]) <= 0x9A) {
      s[i + 1] = static_cast<char>(0xBC);
      s[i + 2] = static_cast<char>(static_cast<unsigned char>(s[i + 2]) + 0x20);
    }
  }
  return s;
}

// 1 when the two files hold the same bytes, 0 when not, -1 when one cannot be read.
int SameContents(const std::string& a, const std::string& b) {
  File fa(host::Open(a, "rb")), fb(host::Open(b, "rb"));
  if (!fa || !fb) return -1;
  std::vector<char> ba(1 << 16), bb(1 << 16);
  for (;;) {
    std::size_t na = std::fread(ba.data(), 1, ba.size(), fa.get()),
                nb = std::fread(bb.data(), 1, bb.size(), fb.get());
    if (std::ferror(fa.get()) || std::ferror(fb.get())) return -1;
    if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) return 0;
    if (na == 0) return 1;
  }
}

// Why a [delfiles_afterinst] line could not name exactly this file, or nullptr when it can.
const char* WhyNotLiteral(const std::string& cp932) {
  if (cp932.find_first_of("*?<>\"|") != std::string::npos) return "a wildcard character";
  for (std::size_t at = 0; at <= cp932.size();) {  // every component, double-byte aware
    std::size_t end = at;
    while (end < cp932.size() && cp932[end] != '\\') {
      unsigned char c = static_cast<unsigned char>(cp932[end]);
      end += cp932::IsLeadByte(c) && end + 1 < cp932.size() ? 2 : 1;
    }
    const std::string part = cp932.substr(at, end - at);
    if (!part.empty() && (part.back() == '.' || part.back() == ' '))
      return "a trailing dot or blank, which Windows drops";
    for (std::size_t t = part.find('~'); t != std::string::npos; t = part.find('~', t + 1))
      if (t + 1 < part.size() && part[t + 1] >= '0' && part[t + 1] <= '9')
        return "'~' and a digit, which can also match another file's short 8.3 name";
    at = end + 1;
  }
  char line[config::kLineSize] = {};
  std::memcpy(line, cp932.data(), std::min(cp932.size(), sizeof line - 1));
  if (config::ClassifySectionLine(line, nullptr) != config::SectionLineKind::Text)
    return "a beginning that the section reader takes for a comment, header, '-' or EOF line";
  std::memset(line, 0, sizeof line);
  std::memcpy(line, cp932.data(), std::min(cp932.size(), sizeof line - 1));
  config::KeyLine k = config::ParseKeyLine(line);
  if (k.kind == config::KeyLineKind::Entry && config::FindKeySpec(k.key) >= 0)
    return "a first word that the key reader takes for a setting";
  return nullptr;
}

}  // namespace

int PlanDelta(const std::string& root, const std::string& base, std::vector<Entry>* entries, Delta* delta) {
  if (!host::IsFolder(base)) return Fail(kUsageError, "--base '%s' is not a folder", base.c_str());
  std::vector<Entry> old;
  if (int r = Walk(base, &old)) return r;
  std::map<std::string, const Entry*> before;  // case-folded name -> the base's entry
  for (const Entry& e : old) before[FoldCase(e.rel)] = &e;
  std::set<std::string> now;
  std::vector<Entry> kept;
  for (const Entry& e : *entries) {
    now.insert(FoldCase(e.rel));
    auto it = before.find(FoldCase(e.rel));
    const Entry* b = it == before.end() ? nullptr : it->second;
    if (b && b->folder != e.folder)
      return Fail(kUsageError,
                  "'%s' is a %s in the base and a %s now: the updater cannot replace one by the other; "
                  "rename it",
                  e.rel.c_str(), b->folder ? "folder" : "file", e.folder ? "folder" : "file");
    if (e.folder) {
      if (!b) delta->added.push_back(e.rel + "/");
      kept.push_back(e);  // kept for now; dropped below when nothing needs it
      continue;
    }
    int same = b && b->size == e.size ? SameContents(root + "/" + e.rel, base + "/" + b->rel) : 0;
    if (same < 0)
      return Fail(kDataError, "cannot compare '%s' with the base: %s", e.rel.c_str(),
                  host::LastError().c_str());
    if (!b) delta->added.push_back(e.rel);
    if (b && !same) delta->changed.push_back(e.rel);
    if (same && StartupRank(e) == 3) {
      ++delta->leftOut;
      continue;
    }
    kept.push_back(e);
  }
  // A folder stays when it is new or something packed lies below it (its content follows
  // it in walk order, so the check runs from the end).
  std::vector<bool> need(kept.size());
  for (std::size_t i = kept.size(); i-- > 0;) {
    const Entry& e = kept[i];
    need[i] = !e.folder || before.find(FoldCase(e.rel)) == before.end();
    for (std::size_t j = i + 1;
         !need[i] && j < kept.size() && kept[j].rel.compare(0, e.rel.size() + 1, e.rel + "/") == 0; ++j)
      need[i] = need[j];
  }
  std::vector<Entry> packed;
  for (std::size_t i = 0; i < kept.size(); ++i)
    if (need[i]) packed.push_back(kept[i]);
  *entries = packed;
  for (const Entry& e : old) {
    if (now.count(FoldCase(e.rel))) continue;
    if (e.folder) {
      // The updater removes only the folder a line names first, and only once it is empty.
      bool top = e.rel.find('/') == std::string::npos;
      bool holdsFolders = std::any_of(old.begin(), old.end(), [&](const Entry& o) {
        return o.folder && o.rel.compare(0, e.rel.size() + 1, e.rel + "/") == 0;
      });
      bool holdsFiles = std::any_of(old.begin(), old.end(), [&](const Entry& o) {
        return !o.folder && o.rel.compare(0, e.rel.size() + 1, e.rel + "/") == 0;
      });
      if (!top || holdsFolders || !holdsFiles) delta->staying.push_back(e.rel + "/");
      continue;
    }
    if (const char* why = WhyNotLiteral(e.name))
      return Fail(kUsageError,
                  "'%s' is gone from the new release, but no [delfiles_afterinst] line can name it "
                  "alone (%s); keep the file in the new release, or delete it with a pattern of your own",
                  e.rel.c_str(), why);
    delta->deleted.push_back(e.name);
  }
  return 0;
}

void AddDeletionLines(const Delta& delta, std::string* env) {
  const std::string nl = env->find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::string block = Format("%s%zu changed, %zu added, %zu deleted, %zu unchanged left out", kNoteStart,
                             delta.changed.size(), delta.added.size(), delta.deleted.size(), delta.leftOut) +
                      nl;
  for (const std::string& name : delta.deleted) block += name + nl;
  block += kNoteEnd + nl;
  // Where the section reader stops (a line beginning with EOF, a 0x1A byte, the end), and its
  // last [delfiles_afterinst] header before that.
  std::vector<std::string> lines = Lines(env->substr(0, env->find('\x1A')));
  std::size_t offset = 0, stop = std::string::npos, header = std::string::npos;
  for (const std::string& l : lines) {
    char line[config::kLineSize] = {};
    std::memcpy(line, l.data(), std::min(l.size(), sizeof line - 1));
    int id = -1;
    config::SectionLineKind kind = config::ClassifySectionLine(line, &id);
    if (kind == config::SectionLineKind::Eof) {
      stop = offset;
      break;
    }
    if (kind == config::SectionLineKind::Header &&
        id == static_cast<int>(config::SectionId::DelfilesAfterInst))
      header = offset + l.size();
    offset += l.size();
  }
  if (stop == std::string::npos) stop = offset;
  if (header != std::string::npos) {
    if (header > 0 && (*env)[header - 1] != '\n') block = nl + block;
    env->insert(header, block);
    return;
  }
  std::string section = "[delfiles_afterinst]" + nl + block + "-" + nl;
  if (stop > 0 && (*env)[stop - 1] != '\n') section = nl + section;
  env->insert(stop, section);
}

bool ReadDeltaNote(const std::string& env, std::string* summary, std::vector<std::string>* deleted) {
  std::vector<std::string> lines = Lines(env);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string l = lines[i];
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    if (l.compare(0, std::strlen(kNoteStart), kNoteStart) != 0 || l == kNoteEnd) continue;
    *summary = l.substr(std::strlen(kNoteStart));
    deleted->clear();
    for (++i; i < lines.size(); ++i) {
      l = lines[i];
      while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
      if (l == kNoteEnd) return true;
      deleted->push_back(l);
    }
    return true;
  }
  return false;
}

}  // namespace mkupdater
