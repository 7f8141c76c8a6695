#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "driver/driver.hpp"
#include "image/image.hpp"

namespace {

// Called by every failed allocation. On the main thread the run ends here
// (the image's temporary file goes, the target stays as it was); a render
// thread instead gives up and leaves its work to the others (the exception
// comes from the runtime's emergency reserve, which does not need memory).
void outOfMemory() {
    if (fotolume::allocationMayFail) throw std::bad_alloc();  // that thread gives up its part
    fotolume::discardPendingImage();
    static const char message[] = "Memoria insuficiente\n";
    if (write(STDERR_FILENO, message, sizeof message - 1) < 0) {
        // nothing more can be said
    }
    _exit(fotolume::EXIT_FAILURE_INPUT);
}

// A standard descriptor closed at start (`2>&-`) would be the number the
// image file gets, and every message would land in the image: each one
// missing is opened on /dev/null instead, lowest first, as open() numbers
// them (on the root folder where there is no /dev/null: reads and writes
// then fail, harmlessly).
void guardStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened < 0) opened = open("/", O_RDONLY | O_DIRECTORY);
        if (opened != fd) _exit(fotolume::EXIT_FAILURE_INPUT);  // nothing safe to write to
    }
}

}  // namespace

int main(int argc, char** argv) {
    guardStandardDescriptors();
    std::set_new_handler(outOfMemory);
    return fotolume::runFotolume(argc, argv);
}
