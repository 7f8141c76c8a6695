// The program's words about its own use. Internal to the driver folder.
#pragma once

#include <string>

namespace fotolume {

// The usage message, as it always was, on standard output.
void printUsage();
void printHelp();
// Flushes standard output: a full disk or a closed pipe is an error, as for
// any other output. The exit status.
int finishText();
// The usage message, the problem and a pointer to --help; status 2.
int usageError(const std::string& problem);

}  // namespace fotolume
