// Program driver: checks the command line and runs reading, rendering and
// writing in order.
#pragma once

namespace fotolume {

// Exit statuses: 0 success, 1 a file or scene problem, 2 a command-line problem.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_INPUT = 1;
constexpr int EXIT_USAGE = 2;

// Reads an image size as atoi does (leading white space, optional sign,
// digits up to the first other character; no digits gives 0), but saturates
// instead of overflowing.
long long parseSize(const char* text);

// The whole program: returns the process exit status.
int runFotolume(int argc, char** argv);

}  // namespace fotolume
