// How an image name can be written: whether the file it leads to can be
// replaced by a rename, the names of its temporary files, and those killed
// runs left beside it. Used by ImageFile.
#pragma once

#include <string>

namespace fotolume {

// Why a rename into `target` (an existing regular file, or a new name) is
// impossible although the folder or file may allow writing: "" when it is
// possible. `exists` says whether the target exists.
std::string whyNotReplaceable(const std::string& target, bool exists);

// Removes the temporary files beside `target` that runs killed outright
// (SIGKILL, a power cut) left behind, and only those: a name of the shape
// temporaryPrefix() and mkstemp make, a regular file of this user with one
// link holding nothing or an image's first bytes, that no live run holds
// locked. Says so on standard error, one line a file. With `networked`
// (the folder's locks may be local to each machine) nothing is removed: a
// line names each such file instead. `owner` is the user whose files may
// go (-1: this process's; another, for a test run without privileges).
void removeStaleTemporaries(const std::string& target, bool networked, long long owner = -1);

// The prefix of the temporary files for `target`: "DIR/.NAME.fotolume-"
// (NAME cut to 200 bytes), followed by six letters and digits.
std::string temporaryPrefix(const std::string& target);

}  // namespace fotolume
