// Replacing a file on Windows: where a name leads, what keeps it from
// being replaced, and the temporaries of runs that were killed.
#include <windows.h>
// (first: the other system headers need its types)
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "os/windows/wide.hpp"

namespace fotolume::os {

// A link is replaced by the image, not followed (links are rare here, and
// renaming over one needs no privilege the link's target would).
std::string followLinks(const std::string& path) { return path; }

// The folder's permissions are the system's access lists, which only the
// creation of the temporary file tells: it reports a refusal itself.
Obstacle replacementObstacle(const std::string&, bool, int&) { return Obstacle::None; }

bool onNetworkFileSystem(const std::string& folder) {
    wchar_t root[MAX_PATH + 1];
    if (!GetVolumePathNameW(widen(folder).c_str(), root, MAX_PATH + 1)) return true;
    const UINT type = GetDriveTypeW(root);
    return type == DRIVE_REMOTE || type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR;
}

namespace {

bool sixLetters(const std::string& name, std::size_t from) {
    if (name.size() != from + 6) return false;
    for (std::size_t i = from; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

// One link, nothing or an image's first bytes, and a lock we can take (a
// live run holds its file locked from the moment it keeps it).
bool abandoned(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION about{};
    if (!GetFileInformationByHandle(handle, &about) || about.nNumberOfLinks != 1) return false;
    char head[8] = {};
    DWORD got = 0;
    OVERLAPPED start{};
    if (!ReadFile(handle, head, sizeof head, &got, &start) && GetLastError() != ERROR_HANDLE_EOF)
        return false;
    const bool image = std::memcmp(head, "P6\n", std::min<DWORD>(got, 3)) == 0 ||
                       std::memcmp(head, "\x89PNG\r\n\x1a\n", std::min<DWORD>(got, 8)) == 0;
    OVERLAPPED whole{};
    if (!image || !LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                              MAXDWORD, MAXDWORD, &whole))
        return false;
    UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
    return true;
}

}  // namespace

std::vector<std::pair<std::string, bool>> removeStaleTemporaries(const std::string& prefix,
                                                                 bool networked, long long) {
    std::vector<std::pair<std::string, bool>> found;
    const std::size_t cut = prefix.find_last_of(SEPARATORS);
    const std::string folder = cut == std::string::npos ? "." : prefix.substr(0, cut);
    const std::string start = prefix.substr(cut == std::string::npos ? 0 : cut + 1);
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW(widen(prefix + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        const std::string name = narrow(entry.cFileName);
        if (name.compare(0, start.size(), start) != 0 || !sixLetters(name, start.size())) continue;
        const std::string path = folder + SEPARATOR + name;
        const HANDLE handle = CreateFileW(widen(path).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        const bool stale = abandoned(handle);
        CloseHandle(handle);
        if (stale && networked)
            found.emplace_back(path, false);
        else if (stale && removeFile(path))
            found.emplace_back(path, true);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

}  // namespace fotolume::os
