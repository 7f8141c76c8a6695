#include "scene/text.hpp"

#include <algorithm>

#include "os/os.hpp"
#include "scene/scene.hpp"

namespace fotolume {

std::atomic<long long> sceneBytesRead{0}, sceneBytesTotal{0};

SceneText::SceneText(std::string text) : held_(std::move(text)) {
    size_ = static_cast<long>(held_.size());
    hot_ = held_.data();
    hotSize_ = held_.size();
    sceneBytesRead = 0;
    sceneBytesTotal = size_;
}

SceneText::SceneText(int fd, long size) : fd_(fd), size_(size), fileSize_(size) {
    sceneBytesRead = 0;
    sceneBytesTotal = size;
}

std::string SceneText::substr(long at, long count) const {
    std::string text;
    for (long i = at; i < at + count && i < size_; ++i) text += (*this)[i];
    return text;
}

char SceneText::fetch(long i) const {
    if (fd_ < 0 || i < 0 || i >= fileSize_) return '\0';
    const long start = i / PAGE * PAGE;
    Page* page = &pages_[0];
    for (Page& candidate : pages_) {
        if (candidate.start == start) {
            page = &candidate;
            break;
        }
        if (candidate.used < page->used) page = &candidate;
    }
    if (page->start != start) {
        // Reading goes back a page at times (to place a diagnostic): the
        // furthest page counts.
        if (start > sceneBytesRead.load(std::memory_order_relaxed))
            sceneBytesRead.store(start, std::memory_order_relaxed);
        const long length = std::min(PAGE, fileSize_ - start);
        page->bytes.resize(static_cast<std::size_t>(length));
        const long long read = os::readAt(fd_, page->bytes.data(), length, start);
        const long got = read > 0 ? static_cast<long>(read) : 0;
        if (got < length) {
            // The file shrank while it was read: the text ends where the
            // file now does (reading on through the missing stretch, every
            // backward look would cross all of it). The page keeps its
            // length, blanks in place of what is gone, for whoever holds
            // its bytes.
            failed_ = true;
            std::fill(page->bytes.begin() + got, page->bytes.end(), ' ');
            size_ = std::min(size_, start + got);
        }
        page->start = start;
    }
    page->used = ++clock_;
    hot_ = page->bytes.data();
    hotStart_ = start;
    hotSize_ = page->bytes.size();
    return hot_[i - start];
}

}  // namespace fotolume
