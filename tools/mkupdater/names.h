// Names as Windows and code page 932 see them: advice for a name that has no code page 932
// form, and the form under which Windows takes two names for one file.
#pragma once

#include <string>

namespace mkupdater {

// For a UTF-8 name without a code page 932 form: which characters lack one and, when each has
// a look-alike there (〜 → ～, − → －, é → e, ...), the name to use instead.
std::string UnrepresentableAdvice(const std::string& utf8Name);

// A code page 932 name with its letters folded as Windows folds file names: ASCII, the
// full-width Latin letters, Greek and Cyrillic. Two names with the same fold are one file.
std::string FoldCase(const std::string& cp932);

}  // namespace mkupdater
