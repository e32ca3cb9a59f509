// The program's start: the batch mode for --batch (and --help), otherwise
// the desktop program with its six windows.
#pragma once

namespace kelvorin {

int RunProgram(int argc, char** argv);

}  // namespace kelvorin
