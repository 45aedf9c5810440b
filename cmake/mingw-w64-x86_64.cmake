# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads):
#   cmake -S . -B build-mingw64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(QUELLPACK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
