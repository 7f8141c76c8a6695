// The operating system, as the rest of the program needs it: files read
// and replaced, the terminal, the process, interruption and watching a
// file. One implementation for POSIX systems (os/posix) and one for
// Windows (os/windows); it uses nothing of the program's own. Paths are
// UTF-8 on every system; errors are errno values.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace fotolume::os {

constexpr int STANDARD_INPUT = 0, STANDARD_OUTPUT = 1, STANDARD_ERROR = 2;

// What parts a path's folders: the one written between them, and every
// one a path may hold.
#ifdef _WIN32
constexpr const char* NULL_DEVICE = "NUL";
constexpr char SEPARATOR = '\\';
constexpr const char* SEPARATORS = "\\/";
#else
constexpr const char* NULL_DEVICE = "/dev/null";
constexpr char SEPARATOR = '/';
constexpr const char* SEPARATORS = "/";
#endif

// Runs `body` with the program's arguments as UTF-8 (Windows passes them
// in the system's code page otherwise).
int withUtf8Arguments(int argc, char** argv, int (*body)(int, char**));

// Which of the standard descriptors were closed when the program started
// (`>&-`).
struct ClosedAtStart {
    bool input = false, output = false, error = false;
};

// A standard descriptor closed at start would be the number the next file
// opened gets, and every message would land in it: each one missing is
// opened on the null device instead, lowest first. Ends the process when
// not even that can be done. Standard output is switched to binary where
// the system would otherwise turn line ends into two bytes.
ClosedAtStart guardStandardDescriptors();

// What a path (links followed) or an open file is.
enum class Kind { Missing, Regular, Folder, Other };
struct FileInfo {
    Kind kind = Kind::Missing;
    int error = 0;  // why it could not be described (ENOENT when missing)
    long long size = 0;
    unsigned long long device = 0, inode = 0;  // together: the file itself
    long long modified = 0;                    // nanoseconds, to what the system keeps
    bool onlySeconds = false;                  // the system keeps no finer time
    bool same(const FileInfo& other) const {
        return kind != Kind::Missing && other.kind != Kind::Missing && device == other.device &&
               inode == other.inode;
    }
};
FileInfo describe(const std::string& path);
FileInfo describeOpen(int fd);

// The text of an errno value, worded the same on every system.
std::string errorText(int error);

// Opens a file for reading without waiting for a writer (a fifo), in
// blocking mode once open; -1 and `error` set when it cannot be.
int openForReading(const std::string& path, int& error);
std::FILE* streamOf(int fd, const char* mode);  // closes fd when it fails
std::FILE* openFile(const std::string& path, const char* mode);
int duplicate(int fd);
int descriptorOf(std::FILE* stream);
void closeFile(int fd);
int closeChecked(int fd);  // the errno value of a failed close, or 0
// Bytes read at `offset` (short only at the end or on an error), or -1.
long long readAt(int fd, void* into, std::size_t size, long long offset);
long long readSome(int fd, void* into, std::size_t size);
// Every byte written, or the errno value of the failure.
int writeAll(int fd, const void* bytes, std::size_t size);
bool isWritable(const std::string& path);
bool removeFile(const std::string& path);

// A descriptor the name stands for ("-", /dev/stdout, /dev/stderr,
// /dev/fd/N where the system has them), else -1; and whether it is open.
int namedDescriptor(const std::string& name);
bool isOpen(int fd);
// Opens a file to be written over in place (a device, a pipe, a file that
// cannot be replaced); -1 and `error` set when it cannot be.
int openForWriting(const std::string& path, bool truncate, int& error);
// The file the path's symbolic links lead to; "" after a loop.
std::string followLinks(const std::string& path);
// What keeps a file (existing or not) from being replaced by another file
// renamed over it, though it may be written: a folder that may not be
// written (`error` says why), another user's file in a sticky folder, a
// file mounted on it.
enum class Obstacle { None, Folder, StickyFolder, Mounted };
Obstacle replacementObstacle(const std::string& target, bool exists, int& error);
bool onNetworkFileSystem(const std::string& folder);
// The folder part of a path ("." when it has none).
std::string folderOf(const std::string& path);

// A temporary file of this run's, beside the image it will replace: named
// `prefix` and six letters, locked while this run has it open (no
// clean-up takes it), with the mode of the file it replaces (`model`, ""
// for a new file). Registered for removal on interruption from the moment
// it exists. fd -1 and `error` set when it could not be made.
struct Temporary {
    int fd = -1;
    std::string path;
    int error = 0;
};
Temporary createTemporary(const std::string& prefix, const std::string& model);
// Forces the data to the disk, then puts the temporary file's name in
// place of the target's (the previous file stays whole until then); the
// errno value of a failure, or 0. The descriptor stays open.
int durable(int fd);
int replaceWith(const std::string& temporary, const std::string& target);
// Closes and removes the temporary file; no longer removed on interruption.
void discardTemporary(Temporary& temporary);
void forgetTemporary();  // it has its final name
// Removes the registered temporary file. Safe in a signal handler.
void removePendingTemporary();

// Temporary files named `prefix` and six letters that no live run holds
// (an image's start or nothing, ours, one link, not locked): removed, or
// only listed (`networked`: another machine's lock cannot be seen).
// `owner` -1 is this user. Each one's path, and whether it was removed.
std::vector<std::pair<std::string, bool>> removeStaleTemporaries(const std::string& prefix,
                                                                 bool networked,
                                                                 long long owner = -1);

// Interruption (signals, console closing and Ctrl-C) ends the process
// after removing the pending temporary file, with the status it would
// have had; a file-size limit becomes a write error.
void removeTemporaryOnInterruption();
// A peer closing a socket is a write error, not the end of the process.
void ignoreBrokenPipes();

bool isTerminal(int fd);
int terminalColumns();  // of standard error; 80 when it cannot be told
int processorsAvailable();
long long processId();
std::string programFolder();  // where the running program is, with its separator; or ""
bool isExecutable(const std::string& path);
#ifdef _WIN32
constexpr const char* PROGRAM_SUFFIX = ".exe";
#else
constexpr const char* PROGRAM_SUFFIX = "";
#endif
std::string realPath(const std::string& path);  // "" when it cannot be resolved
// Runs the program in place of this one with the same standard streams;
// returns only when it could not be started (Windows: when it ended, its
// status is this process's).
void becomeProgram(const std::string& program, char** argv);
// Writes without the library and ends at once: for running out of memory.
[[noreturn]] void dieWith(const char* message, std::size_t size, int status);
// Raises the limit on open descriptors as far as allowed; the limit.
long long raiseDescriptorLimit();

// Waits, without spinning, until something in the folder may have
// changed or `milliseconds` have passed (at most a tenth of a second where
// the system cannot tell of changes).
class FolderWatch {
public:
    explicit FolderWatch(const std::string& folder);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;
    void wait(int milliseconds);

private:
    long long handle_ = -1;
};

// A stream that reads `size` bytes of `text` (which must outlive it), or
// nullptr.
std::FILE* readerOf(char* text, std::size_t size);

// Text printed to a stream and then taken back as a string.
class MemoryStream {
public:
    MemoryStream();
    ~MemoryStream();
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    std::FILE* stream() const { return stream_; }  // nullptr when none could be made
    std::string take();                            // closes the stream

private:
    std::FILE* stream_ = nullptr;
    char* text_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace fotolume::os
