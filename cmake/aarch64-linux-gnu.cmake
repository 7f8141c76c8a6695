# Cross-building for 64-bit ARM Linux with Debian's cross compiler; the
# arm64 libraries (libpng, zlib, GoogleTest) come from their Debian packages
# unpacked into FOTOLUME_SYSROOT (tools/setup does it), and the programs run
# under qemu's user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

if(NOT FOTOLUME_SYSROOT)
  set(FOTOLUME_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/aarch64-root")
endif()
get_filename_component(FOTOLUME_SYSROOT "${FOTOLUME_SYSROOT}" ABSOLUTE)
set(FOTOLUME_SYSROOT "${FOTOLUME_SYSROOT}" CACHE PATH "Unpacked arm64 packages")
set(CMAKE_FIND_ROOT_PATH "${FOTOLUME_SYSROOT}" /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# The static emulator, which also runs the static program in an empty root.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)
