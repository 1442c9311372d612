#pragma once

#include <stddef.h>

// Archive access library: opens a ZIP archive, tells whether it has an entry and writes an
// entry's bytes into a stream object of the caller. Names and paths are zero-terminated UTF-8.

#define ZELK_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// An open archive; 0 stands for none.
typedef void* ZelkHandle;

// The caller's destination stream: Write receives each run of bytes in order and returns the
// number of bytes it took; taking fewer than offered fails the extraction.
typedef struct ZelkStream
{
    void* Context;
    size_t (*Write)(void* Context, const void* Data, size_t Size);
} ZelkStream;

// Opens the archive read-only. Password, when not null and not empty, is used for encrypted
// entries. Returns 0 when the archive cannot be opened.
ZELK_EXPORT ZelkHandle Open(const char* Path, const char* Password);

// Non-zero when the archive has an entry of exactly that name.
ZELK_EXPORT int Exists(ZelkHandle Handle, const char* Name);

// Writes the entry's bytes to Stream from its current position. The low byte of the result is
// non-zero on success; a missing entry, a damaged or undecryptable one, or a stream that refuses
// bytes gives 0.
ZELK_EXPORT int Extract(ZelkHandle Handle, const char* Name, ZelkStream* Stream);

// Releases the handle; 0 is ignored.
ZELK_EXPORT void Close(ZelkHandle Handle);

#ifdef __cplusplus
}
#endif
