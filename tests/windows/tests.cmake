# The Windows build's tests, run under Wine: the unit tests that need no
# POSIX shell (GoogleTest built here from Debian's sources with the cross
# compiler, linked statically), and the program itself over every recorded
# image, its PNG, "-", awkward paths and its messages beside the Linux
# build's (a script on the host). The recorded results of pow, cos and tan
# are left out: MinGW's library gives others (pow differs in the last bit
# on about half the inputs), so an image may differ in a byte where a
# value lands on a byte's edge; the recorded images are checked instead.
set(FOTOLUME_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources (libgtest-dev)")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${FOTOLUME_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_executable(fotolume_tests ${FOTOLUME_SHELL_FREE_TESTS})
target_link_libraries(fotolume_tests PRIVATE fotolume_core gtest gtest_main)
target_link_options(fotolume_tests PRIVATE -static)
target_include_directories(fotolume_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(fotolume_tests PRIVATE FOTOLUME_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  FOTOLUME_BINARY="$<TARGET_FILE:fotolume>")
gtest_discover_tests(fotolume_tests DISCOVERY_TIMEOUT 120
  PROPERTIES ENVIRONMENT WINEDEBUG=-all)

# The Linux program the messages are compared with: the plain build's,
# when it is there.
set(FOTOLUME_LINUX_PROGRAM ${CMAKE_SOURCE_DIR}/build/release/src/fotolume
  CACHE FILEPATH "The Linux build's program, to compare messages with")
add_test(NAME Windows.RecordedImagesUnderWine
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_images.sh $<TARGET_FILE:fotolume>
                 ${CMAKE_SOURCE_DIR} ${FOTOLUME_LINUX_PROGRAM})
set_tests_properties(Windows.RecordedImagesUnderWine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
