# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (posix threads):
#   cmake -S . -B build-mingw32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(QUELLPACK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
