#pragma once

// Version information library. A program file carries its version record in the ELF section
// named by VINDRA_SECTION: three zero-terminated texts one after another (the file version,
// a further version text and a build text).
#define VINDRA_SECTION ".vindra_version"

#define VINDRA_TEXT1_SIZE 32
#define VINDRA_TEXT2_SIZE 64
#define VINDRA_TEXT3_SIZE 20

#ifdef __cplusplus
extern "C" {
#endif

// Path: zero-terminated path of the program file. Buffer1..3 are zero-filled by the caller and
// 32, 64 and 20 bytes long; on success each holds a zero-terminated text (cut to fit). Returns
// non-zero on success, 0 when the file cannot be read or carries no version record.
__attribute__((visibility("default"))) int GetVersionInfo(const char* Path, char* Buffer1,
                                                          char* Buffer2, char* Buffer3);

#ifdef __cplusplus
}
#endif
