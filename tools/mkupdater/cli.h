// mkupdater's entry: argv as UTF-8 strings on every host (main.cpp, main_win32.cpp).
#pragma once

namespace mkupdater {

int Main(int argc, char** argv);

}  // namespace mkupdater
