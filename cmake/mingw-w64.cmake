# What both mingw-w64 toolchain files share; QUELLPACK_MINGW_TRIPLE names
# the target. Programs link statically, so they need no DLLs of the
# toolchain at run time; wine runs them where no emulator is set.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUELLPACK_MINGW_TRIPLE})
foreach(lang C CXX)
  if(lang STREQUAL "C")
    set(tool gcc)
  else()
    set(tool g++)
  endif()
  find_program(CMAKE_${lang}_COMPILER NAMES ${QUELLPACK_MINGW_TRIPLE}-${tool}-posix ${QUELLPACK_MINGW_TRIPLE}-${tool}
    REQUIRED)
endforeach()
find_program(CMAKE_RC_COMPILER NAMES ${QUELLPACK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUELLPACK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
