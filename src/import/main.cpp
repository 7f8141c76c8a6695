#include <cstdio>
#include <new>

#include "import/import.hpp"
#include "os/os.hpp"

int main(int argc, char** argv) {
    // Rows written to a closed standard output would reach nobody: said
    // before the model is read (rows go to --into's scene instead).
    const bool outputClosed = fotolume::os::guardStandardDescriptors().output;
    try {
        return fotolume::import::runImport(argc, argv, outputClosed);
    } catch (const std::bad_alloc&) {
        // Unwound: a scene being written for --into keeps its old text.
        std::fputs("fotolume-import: out of memory\n", stderr);
        return 1;
    }
}
