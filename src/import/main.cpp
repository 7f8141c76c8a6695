#include "import/import.hpp"

int main(int argc, char** argv) { return fotolume::import::runImport(argc, argv); }
