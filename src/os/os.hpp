// The operating system, as the rest of the program needs it. It uses
// nothing of the program's own.
#pragma once

namespace fotolume::os {

// Which of the standard descriptors (0, 1, 2) were closed when the program
// started (`>&-`).
struct ClosedAtStart {
    bool input = false, output = false, error = false;
};

// A standard descriptor closed at start would be the number the next file
// opened gets, and every message would land in it: each one missing is
// opened on /dev/null instead, lowest first, as open() numbers them (on the
// root folder where there is no /dev/null: reads and writes then fail,
// harmlessly). Ends the process when not even that can be done. Returns
// what was closed, so that a mode whose output is standard output can
// refuse to run with nobody to read it.
ClosedAtStart guardStandardDescriptors();

}  // namespace fotolume::os
