/* QUELLPACK_API marks what the quellpack library exports; everything else
 * in it stays hidden. Usable from C and C++. A program that links the
 * static library on Windows defines QUELLPACK_STATIC (the CMake package and
 * the pkg-config file of a static install do so). */
#ifndef QUELLPACK_EXPORT_H
#define QUELLPACK_EXPORT_H

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(QUELLPACK_STATIC)
#    define QUELLPACK_API
#  elif defined(QUELLPACK_BUILDING)
#    define QUELLPACK_API __declspec(dllexport)
#  else
#    define QUELLPACK_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define QUELLPACK_API __attribute__((visibility("default")))
#else
#  define QUELLPACK_API
#endif

#endif
