// mkupdater on Linux: builds, lists, extracts and checks updaters; converts title images.
#include "cli.h"

int main(int argc, char** argv) { return mkupdater::Main(argc, argv); }
