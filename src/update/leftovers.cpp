// The deletion of leftovers after the update: [delfiles_afterinst].
#include <cstring>

#include "base/paths.h"
#include "config/config.h"
#include "platform/platform.h"
#include "update/stage.h"
#include "update/transfers.h"

namespace update {

void DeleteAfterInstallFiles(const char* installFolder) {
  for (const config::SectionLine* n = config::Section(config::SectionId::DelfilesAfterInst); n; n = n->next) {
    const char* pattern = n->text;
    if (!IsPatternInsideFolder(pattern)) continue;
    // Nothing is deleted through a link: a folder on the way that is one skips the line.
    char folderPart[plat::kMaxPath];
    std::size_t start, end;
    paths::LastComponent(pattern, &start, &end);
    if (start >= sizeof folderPart) continue;
    std::memcpy(folderPart, pattern, start ? start - 1 : 0);
    folderPart[start ? start - 1 : 0] = '\0';
    Path link;
    if (folderPart[0] && FindLink(installFolder, folderPart, 0, &link)) continue;
    paths::DeleteMatchingFiles(installFolder, pattern);
    const char* sep = paths::FindChar(pattern, '\\');
    if (!sep) continue;
    char first[plat::kMaxPath], folder[plat::kMaxPath];
    std::size_t len = static_cast<std::size_t>(sep - pattern);
    if (len >= sizeof first) continue;
    std::memcpy(first, pattern, len);
    first[len] = '\0';
    if (paths::JoinPath(folder, sizeof folder, installFolder, first) == 0) plat::RemoveFolder(folder);
  }
}

}  // namespace update
