#include "driver/driver.hpp"

int main(int argc, char** argv) { return fotolume::runFotolume(argc, argv); }
