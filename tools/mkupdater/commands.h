// mkupdater's container commands.
#pragma once

#include "tool.h"

namespace mkupdater {

int RunBuildCommand(int argc, char** argv);
int RunListCommand(int argc, char** argv);
int RunExtractCommand(int argc, char** argv);
int RunVerifyCommand(int argc, char** argv);
int RunInitCommand(int argc, char** argv);

}  // namespace mkupdater
