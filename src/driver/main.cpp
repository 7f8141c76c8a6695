#include <cstdio>
#include <new>

#include "driver/driver.hpp"

int main(int argc, char** argv) {
    try {
        return fotolume::runFotolume(argc, argv);
    } catch (const std::bad_alloc&) {
        // The vectors' storage is the only allocation that can still fail
        // once the image buffers exist.
        std::fprintf(stderr, "Memoria insuficiente\n");
        return fotolume::EXIT_FAILURE_INPUT;
    }
}
