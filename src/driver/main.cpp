#include <unistd.h>

#include <new>

#include "driver/driver.hpp"
#include "image/image.hpp"

namespace {

// Called by every failed allocation. Throwing is not safe when memory is
// this short (the exception itself may not fit), so the run ends here: the
// image's temporary file goes, the target stays as it was.
void outOfMemory() {
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
