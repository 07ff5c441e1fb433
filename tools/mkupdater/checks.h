// The checks that build makes before it writes anything (and verify on a built updater). Each
// prints its findings in lint's form ("<file>: error|warning: what, and what to do") and
// returns the number of errors, so that one run reports them all.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tree.h"

namespace mkupdater {

// The menu paints the title picture unscaled at the left of a client area 268 pixels high,
// centred by that height; the button column begins right of a 256-pixel picture. A larger one
// is cut off at the top and bottom and runs under the buttons.
constexpr int kMenuPictureWidth = 256;
constexpr int kMenuPictureHeight = 256;

// The file given as --out: not a folder, and in a folder that exists.
int CheckOutput(const std::string& path);
// The file given as --stub: kovela-updater's bare updater.exe of this version.
int CheckStubFile(const std::string& path);
// The program part of a built updater, the first programLength bytes of f.
int CheckUpdaterProgram(std::FILE* f, std::uint64_t programLength, const std::string& path);
// insttscr.rct decodes with the updater's own decoder; a warning when the menu cannot show it
// whole.
int CheckTitlePicture(const std::string& path);
// The top-level texts the menu offers (names holding ".txt") saved as UTF-8 are stored as code
// page 932, as install.env is: the updater opens them with the system's text viewer, which
// reads code page 932 on a Japanese system. One that cannot be converted is stored as it is,
// with a warning.
void StoreTextsAsCp932(const std::string& folder, std::vector<Entry>* entries);
// "" when a picture of that size fits the menu, else what to do about it.
std::string TitleSizeAdvice(long width, long height);

}  // namespace mkupdater
