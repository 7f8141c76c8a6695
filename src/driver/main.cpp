#include "driver/driver.hpp"
#include "image/image.hpp"
#include "os/os.hpp"

namespace {

int start(int argc, char** argv) {
    fotolume::standardOutputClosed = fotolume::os::guardStandardDescriptors().output;
    fotolume::installOutOfMemoryHandler();
    return fotolume::runFotolume(argc, argv);
}

}  // namespace

int main(int argc, char** argv) { return fotolume::os::withUtf8Arguments(argc, argv, start); }
