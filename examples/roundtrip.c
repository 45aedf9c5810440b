/* Compresses each file given through the quellpack C interface, into a
 * buffer of quellpack_compress_bound bytes, restores it into memory the
 * library allocates, and checks that the same bytes come back.
 *
 *   roundtrip_c FILE...
 *
 * Exit status 0 when every file was restored exactly, 1 otherwise. */
#include <quellpack/quellpack.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Reads a whole file into malloc'd memory; NULL when it cannot be read. */
static unsigned char* read_file(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    unsigned char* data = NULL;
    size_t used = 0, capacity = 0, got;
    int ok = 1;
    if (!f) return NULL;
    for (;;) {
        if (used == capacity) {
            size_t want = capacity ? capacity * 2 : 65536;
            unsigned char* grown = (unsigned char*)realloc(data, want);
            if (!grown) {
                ok = 0;
                break;
            }
            data = grown;
            capacity = want;
        }
        got = fread(data + used, 1, capacity - used, f);
        if (got == 0) break;
        used += got;
    }
    if (!ok || ferror(f)) {
        free(data);
        data = NULL;
    }
    fclose(f);
    *size = used;
    return data;
}

/* Round-trips one file; returns 0 when it came back exactly. */
static int round_trip(const char* path) {
    size_t size = 0, capacity, packed_size = 0, restored_size = 0;
    unsigned char* data = read_file(path, &size);
    unsigned char* packed;
    void* restored = NULL;
    quellpack_status status;
    int failed = 1;
    if (!data) {
        fprintf(stderr, "roundtrip_c: cannot read %s\n", path);
        return 1;
    }
    capacity = quellpack_compress_bound(size);
    packed = (unsigned char*)malloc(capacity ? capacity : 1);
    if (!capacity || !packed) {
        fprintf(stderr, "roundtrip_c: %s is too large for memory\n", path);
    } else if ((status = quellpack_compress(data, size, packed, capacity, &packed_size, 0)) != QUELLPACK_OK) {
        fprintf(stderr, "roundtrip_c: compress %s: %s\n", path, quellpack_error_message(status));
    } else if ((status = quellpack_decompress_alloc(packed, packed_size, &restored, &restored_size, 0)) !=
               QUELLPACK_OK) {
        fprintf(stderr, "roundtrip_c: decompress %s: %s\n", path, quellpack_error_message(status));
    } else if (restored_size != size || (size > 0 && memcmp(restored, data, size) != 0)) {
        fprintf(stderr, "roundtrip_c: %s: restored bytes differ\n", path);
    } else {
        printf("%s: %lu bytes -> %lu bytes, restored exactly\n", path, (unsigned long)size,
               (unsigned long)packed_size);
        failed = 0;
    }
    quellpack_free(restored);
    free(packed);
    free(data);
    return failed;
}

int main(int argc, char** argv) {
    int i, failures = 0;
    if (argc < 2) {
        fprintf(stderr, "usage: roundtrip_c FILE...\n");
        return 1;
    }
    printf("quellpack %s (%lu)\n", quellpack_version(), quellpack_version_number());
    for (i = 1; i < argc; ++i) failures += round_trip(argv[i]);
    return failures == 0 ? 0 : 1;
}
