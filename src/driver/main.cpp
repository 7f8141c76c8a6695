#include "driver/driver.hpp"
#include "image/image.hpp"
#include "os/os.hpp"

int main(int argc, char** argv) {
    fotolume::standardOutputClosed = fotolume::os::guardStandardDescriptors().output;
    fotolume::installOutOfMemoryHandler();
    return fotolume::runFotolume(argc, argv);
}
