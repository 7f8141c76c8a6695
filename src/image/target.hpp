// How an image name can be written: the descriptor it names, the file its
// links lead to, whether that file can be replaced by a rename, and the
// temporary files killed runs left beside it. Used by ImageFile.
#pragma once

#include <string>

namespace fotolume {

// The descriptor a name stands for ("-", /dev/stdout, /dev/stderr,
// /dev/fd/N, /proc/self/fd/N), or -1. Such a name is written in place
// through the descriptor, whatever it is open on (a pipe, a socket, a
// file the shell opened), never reopened.
int namedDescriptor(const std::string& name);

// The path a chain of symbolic links ends at (the path itself when it is
// no link); the last link's target need not exist. Empty, with errno set to
// ELOOP, for a chain longer than the kernel follows.
std::string followLinks(std::string path);

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

// Whether the folder lies on a network file system (NFS, SMB, FUSE such as
// sshfs, ...), or its kind cannot be told.
bool onNetworkFileSystem(const std::string& folder);

// The prefix of the temporary files for `target`: "DIR/.NAME.fotolume-"
// (NAME cut to 200 bytes), followed by six letters and digits.
std::string temporaryPrefix(const std::string& target);

}  // namespace fotolume
