#include "Startup.h"

int main(int argc, char** argv) { return kelvorin::RunProgram(argc, argv); }
