/* quellpack from C: lossless compression with an order-4 context model.
 *
 * The same files as the C++ interface (<quellpack/quellpack.hpp>) and the
 * quellpack program write and read. Every function works on whole byte
 * strings in memory, keeps no state between calls (calls on different
 * threads do not interfere), never prints and never lets an exception out.
 * Functions that can fail return a quellpack_status: QUELLPACK_OK, or the
 * failure, whose text quellpack_error_message gives.
 *
 *   size_t cap = quellpack_compress_bound(n), size;
 *   void* packed = malloc(cap);
 *   if (quellpack_compress(data, n, packed, cap, &size, 0) != QUELLPACK_OK) ...
 *
 * or let the library allocate: quellpack_compress_alloc, released with
 * quellpack_free.
 */
#ifndef QUELLPACK_H
#define QUELLPACK_H

#include <stddef.h>

#include "quellpack/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What a call reports. The library's own failures keep their numbers as new
 * ones are added after them; the failures of this interface start at 100. */
typedef enum quellpack_status {
    QUELLPACK_OK = 0,
    QUELLPACK_DAMAGED = 1,          /* decompress: not a complete compressed file */
    QUELLPACK_TOO_LARGE = 2,        /* compress: 2^31 bytes or more after the capital transform */
    QUELLPACK_OUT_OF_MEMORY = 3,    /* an allocation failed */
    QUELLPACK_VERIFY_FAILED = 4,    /* compress with QUELLPACK_VERIFY: the result did not decode to the input */
    QUELLPACK_BUFFER_TOO_SMALL = 100, /* the result does not fit the caller's buffer */
    QUELLPACK_INVALID_ARGUMENT = 101, /* a null pointer where data was needed, or an unknown flag */
    QUELLPACK_INTERNAL_ERROR = 102    /* an unexpected failure inside the library */
} quellpack_status;

/* Flags of quellpack_compress and quellpack_compress_alloc. */
enum {
    /* Decode the result in memory and compare it with the input before
     * returning (about one more decompression). */
    QUELLPACK_VERIFY = 1,
    /* End the file with the 25-byte integrity trailer (the input's length
     * and a hash of it), which quellpack_decompress then checks. Every
     * decoder of the format reads such a file. */
    QUELLPACK_CHECK = 2
};

/* The largest compressed file an input of input_size bytes can give, so
 * that a buffer of this size never fails with QUELLPACK_BUFFER_TOO_SMALL.
 * 0 when no input of that size can be compressed (2^31 bytes or more) or
 * the bound does not fit in a size_t.
 *
 * It is a guarantee, not an estimate: real data compresses to far less
 * (random bytes to about 1.02 times input_size). It follows from the coder:
 * - the capital transform turns two bytes into at most three, so the model
 *   codes m <= input_size + input_size / 2 bytes;
 * - each byte is coded in at most 5 contexts (orders 4 to 0; the order-0
 *   context holds every byte), each taking at most 2 coder decisions (a
 *   byte whose count scales to nothing is told apart by a second one);
 * - a decision narrows a range of at least 2^16 by a total of at most 2^16
 *   to at least 1, after which at most 2 output steps restore it to 2^16,
 *   and every output step writes at most one byte;
 * - the header takes 4 bytes and the final flush 4 output steps;
 * - with QUELLPACK_CHECK the trailer adds 25 bytes (always counted here).
 * Hence at most 4 + 4 + 25 + 2 * 2 * 5 * m = 33 + 20 * m bytes. */
QUELLPACK_API size_t quellpack_compress_bound(size_t input_size);

/* Compresses the input_size bytes at input into output, which has room for
 * output_capacity bytes; *output_size is set to the compressed size, 0 on
 * failure. flags: 0, or QUELLPACK_VERIFY and QUELLPACK_CHECK or-ed together. input may be NULL when input_size
 * is 0. On failure the contents of output are unspecified. */
QUELLPACK_API quellpack_status quellpack_compress(const void* input, size_t input_size, void* output,
                                                  size_t output_capacity, size_t* output_size, unsigned flags);

/* The most bytes quellpack_decompress can restore from the compressed file
 * of file_size bytes at file, read from its header, into *bound (0 on
 * failure). QUELLPACK_DAMAGED when it is too short or its count out of
 * range; a file that passes may still be refused as damaged. */
QUELLPACK_API quellpack_status quellpack_decompress_bound(const void* file, size_t file_size, size_t* bound);

/* Restores the compressed file of file_size bytes at file into output,
 * which has room for output_capacity bytes (quellpack_decompress_bound is
 * always enough); *output_size is set to the restored size, 0 on failure.
 * A file that ends with an integrity trailer (QUELLPACK_CHECK) is checked
 * against it: coded data that does not end where the trailer begins, or a
 * length or hash that does not match, is QUELLPACK_DAMAGED. Other bytes
 * after the coded data are ignored. flags: 0. Without a trailer nothing is
 * checked: a changed byte that still decodes yields other bytes. */
QUELLPACK_API quellpack_status quellpack_decompress(const void* file, size_t file_size, void* output,
                                                    size_t output_capacity, size_t* output_size, unsigned flags);

/* As quellpack_compress, into memory the library allocates: *output points
 * to the *output_size compressed bytes, to be released with quellpack_free
 * (never with another allocator's free); NULL and 0 on failure. */
QUELLPACK_API quellpack_status quellpack_compress_alloc(const void* input, size_t input_size, void** output,
                                                        size_t* output_size, unsigned flags);

/* As quellpack_decompress, into memory the library allocates; released
 * with quellpack_free. */
QUELLPACK_API quellpack_status quellpack_decompress_alloc(const void* file, size_t file_size, void** output,
                                                          size_t* output_size, unsigned flags);

/* Releases what the _alloc functions returned; NULL is ignored. */
QUELLPACK_API void quellpack_free(void* memory);

/* The fixed English text of a status (any int: "unknown error" for one it
 * does not know), as the quellpack program prints the
 * library's failures (no trailing newline); never NULL. */
QUELLPACK_API const char* quellpack_error_message(int status);

/* The linked library's version: "X.Y.Z", and X * 10000 + Y * 100 + Z. */
QUELLPACK_API const char* quellpack_version(void);
QUELLPACK_API unsigned long quellpack_version_number(void);

#ifdef __cplusplus
}
#endif

#endif
