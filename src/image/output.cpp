#include <cerrno>
#include <cstdio>
#include <string>

#include "image/image.hpp"
#include "image/target.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

constexpr std::size_t BUFFER_SIZE = 1 << 16;

}  // namespace

void discardPendingImage() { os::removePendingTemporary(); }

bool ImageFile::open(const char* name) {
    name_ = name;
    buffer_.reserve(BUFFER_SIZE);
    os::removeTemporaryOnInterruption();
    const int error = openTarget();
    if (fd_ >= 0) return true;
    std::printf("Can't open file %s \n", name);
    std::fflush(stdout);
    std::fprintf(stderr, "Can't write file %s: %s%s\n", printable(name_).c_str(),
                 reason_.empty() ? os::errorText(error).c_str() : reason_.c_str(),
                 hadTarget_ ? "; the existing file was left unchanged" : "");
    return false;
}

// Opens what the name leads to; returns the errno of a failure.
int ImageFile::openTarget() {
    if (name_.empty()) return ENOENT;
    const int named = os::namedDescriptor(name_);
    if (named >= 0) {
        if (!os::isOpen(named)) return EBADF;
        fd_ = named;
        return 0;
    }
    int error = 0;
    const os::FileInfo info = os::describe(name_);
    if (info.kind == os::Kind::Missing) {
        if (info.error != ENOENT) return info.error;  // a link loop (ELOOP) among others
    } else if (info.kind == os::Kind::Folder) {
        return EISDIR;
    } else if (info.kind == os::Kind::Other) {
        // A pipe, FIFO, socket or device: written in place, never removed.
        fd_ = os::openForWriting(name_, false, error);
        ownsFd_ = fd_ >= 0;
        return error;
    }
    target_ = os::followLinks(name_);
    if (target_.empty()) return ELOOP;
    hadTarget_ = os::describe(target_).kind != os::Kind::Missing;
    if (hadTarget_ && !os::isWritable(target_)) return errno;  // read-only stays so
    const std::string why = whyNotReplaceable(target_, hadTarget_);
    if (why.empty()) return openTemporary();
    if (!hadTarget_) {
        reason_ = why;
        return EACCES;
    }
    // Writing in place is allowed where replacing is not.
    fd_ = os::openForWriting(target_, true, error);
    if (fd_ < 0) return error;
    ownsFd_ = true;
    inPlace_ = true;
    std::fprintf(stderr,
                 "fotolume: warning: %s cannot be replaced safely (%s), so it is written in "
                 "place: a failure could leave it incomplete\n",
                 printable(name_).c_str(), why.c_str());
    return 0;
}

// A new temporary file beside the target, locked while this run lives, with
// the mode of the file it replaces.
int ImageFile::openTemporary() {
    removeStaleTemporaries(target_, os::onNetworkFileSystem(os::folderOf(target_)));
    temporary_ = os::createTemporary(temporaryPrefix(target_), hadTarget_ ? target_ : "");
    fd_ = temporary_.fd;
    ownsFd_ = fd_ >= 0;
    return temporary_.error;
}

// The buffer never grows past its first reservation: an allocation while
// writing would be one more way to run out of memory late in a render.
bool ImageFile::write(const void* data, std::size_t size) {
    if (error_ != 0) return false;
    if (buffer_.size() + size > BUFFER_SIZE && !flush()) return false;
    if (size >= BUFFER_SIZE) return writeAll(data, size);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
}

bool ImageFile::flush() {
    const bool ok = writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool ImageFile::writeAll(const void* data, std::size_t size) {
    error_ = os::writeAll(fd_, data, size);
    return error_ == 0;
}

bool ImageFile::commit() {
    if (error_ == 0) flush();
    // The data must be on the disk before the name points at it, or a crash
    // right after could leave an empty image in place of the old one.
    const bool replacing = !temporary_.path.empty();
    if (error_ == 0 && replacing) error_ = os::durable(fd_);
    // The temporary file stays open, and so locked, until it has its final
    // name: another run must never take it for a stale one.
    if (error_ == 0 && replacing) error_ = os::replaceWith(temporary_.path, target_);
    if (error_ == 0 && replacing) {
        temporary_.path.clear();
        os::forgetTemporary();
    }
    if (ownsFd_) {
        // After the rename the data is on the disk already (flushed above).
        const int closing = os::closeChecked(fd_);
        if (closing != 0 && error_ == 0 && !replacing) error_ = closing;
        ownsFd_ = false;
    }
    temporary_.fd = -1;
    fd_ = -1;
    if (error_ != 0) {
        const char* outcome = inPlace_             ? "; the image left in place is incomplete"
                              : temporary_.path.empty() ? ""
                              : hadTarget_         ? "; the existing file was left unchanged"
                                                   : "; the incomplete image was removed";
        // Removed before anything is said: a broken standard error must
        // not stop the clean-up.
        discard();
        std::fprintf(stderr, "Can't write file %s: %s%s\n", printable(name_).c_str(),
                     os::errorText(error_).c_str(), outcome);
        return false;
    }
    return true;
}

void ImageFile::discard() {
    if (!temporary_.path.empty()) {
        os::discardTemporary(temporary_);
    } else if (ownsFd_) {
        os::closeFile(fd_);
    }
    ownsFd_ = false;
    temporary_.fd = -1;
    fd_ = -1;
}

ImageFile::~ImageFile() { discard(); }

}  // namespace fotolume
