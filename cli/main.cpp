// The kelvorin program. Until the windows exist it runs the batch mode.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "BatchMode.h"
#include "NumericError.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return kelvorin::RunBatch(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    } catch (const kelvorin::NumericErrorException& error) {
        std::cout.flush();
        std::cerr << "Error: " << error.what() << '\n';
        return 1;
    }
}
