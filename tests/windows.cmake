# The library's GoogleTest suites for Windows, cross-compiled and run under
# wine by tests/steps/50-windows.sh. The suites that run the command line
# run from the Linux runner against the Windows program (that step sets
# QUELLPACK_BINARY_UNDER_TEST). GoogleTest is built from Debian's sources
# for the target.
set(QUELLPACK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUELLPACK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(quellpack_tests
  test_capi.cpp test_conformance.cpp test_driver.cpp test_ppm.cpp test_rc.cpp test_roundtrip.cpp
  test_see.cpp test_stats.cpp)
target_include_directories(quellpack_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quellpack_tests PRIVATE quellpack_cli gtest gtest_main)
target_compile_definitions(quellpack_tests PRIVATE
  QUELLPACK_PROJECT_VERSION="${PROJECT_VERSION}"
  QUELLPACK_SHARED_DIR="${PROJECT_SOURCE_DIR}/../shared"
  QUELLPACK_TESTS_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
