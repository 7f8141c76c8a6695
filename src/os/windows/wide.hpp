// What the Windows implementation shares within itself: UTF-8 paths as
// the system's wide strings, its error codes as errno values, and files
// opened as the C runtime's descriptors.
#pragma once

#include <windows.h>

#include <string>

#include "os/os.hpp"

namespace fotolume::os {

std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
int errnoOf(DWORD error);
FileInfo describeHandle(HANDLE handle);
// A file opened with every sharing (others may read, write, rename or
// delete it, as on POSIX systems) as a binary descriptor with `flags`;
// -1 and `error` set when it cannot be.
int openHandle(const std::string& path, DWORD access, DWORD disposition, int flags, int& error);

}  // namespace fotolume::os
