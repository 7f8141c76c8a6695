#include <unistd.h>

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

}  // namespace

int main(int argc, char** argv) {
    std::set_new_handler(outOfMemory);
    return fotolume::runFotolume(argc, argv);
}
