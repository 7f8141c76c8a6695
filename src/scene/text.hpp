// The scene text as the reader sees it: bytes by offset, either held (the
// text of a pipe or a terminal) or read a page at a time from a file, so a
// file of any size costs the reader the same few pages. Internal to the
// scene folder.
#pragma once

#include <string>
#include <vector>

namespace fotolume {

class SceneText {
public:
    // Bytes the pages of a file hold, and how many pages are kept.
    static constexpr long PAGE = 1L << 16;
    static constexpr int PAGES = 4;

    explicit SceneText(std::string text);  // held whole
    SceneText(int fd, long size);          // a file of `size` bytes; fd not owned
    SceneText(const SceneText&) = delete;
    SceneText& operator=(const SceneText&) = delete;

    long size() const { return size_; }
    // The byte at `i`, which lies in [0, size()).
    char operator[](long i) const {
        if (static_cast<unsigned long>(i - hotStart_) < hotSize_) return hot_[i - hotStart_];
        return fetch(i);
    }
    // The bytes from `at` to the end of its page (of the text, when held),
    // in one piece.
    const char* bytes(long at) const {
        (void)(*this)[at];  // fetches its page
        return hot_ + (at - hotStart_);
    }
    std::string substr(long at, long count) const;
    // Held text, for a memory stream over it (nullptr for a file).
    char* held() { return fd_ < 0 ? &held_[0] : nullptr; }
    // Whether a page of the file could not be read whole (it shrank, or a
    // read failed): the text then ends where the read did (size() shrinks).
    bool failed() const { return failed_; }

private:
    char fetch(long i) const;

    std::string held_;
    int fd_ = -1;
    mutable long size_ = 0;  // shrinks when the file does while it is read
    long fileSize_ = 0;      // as the file said at the start: the pages' extent
    struct Page {
        long start = -1;
        unsigned long used = 0;  // when it was last fetched, for replacing the oldest
        std::vector<char> bytes;
    };
    mutable Page pages_[PAGES];
    mutable unsigned long clock_ = 0;
    // The page the last byte came from, for the quick test above.
    mutable const char* hot_ = nullptr;
    mutable long hotStart_ = 0;
    mutable unsigned long hotSize_ = 0;
    mutable bool failed_ = false;
};

}  // namespace fotolume
