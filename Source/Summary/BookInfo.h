/* The records and exports of a book-information library. A plug-in author needs this header
 * alone: write a shared library with the exports below, put it in the program's "ficomp"
 * folder and name it in "fimap.ini" for the extensions it reads. */
#ifndef KORVEL_BOOKINFO_H
#define KORVEL_BOOKINFO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Seventeen blocks of 256 bytes. A text block holds one length byte (0 to 255) followed by
 * that many bytes of code page 936 text; the rest of the block is unused. The caller zeroes
 * the record before the call. */
#define BOOKINFO_BLOCK_SIZE 256
#define BOOKINFO_BLOCKS 17

enum TBookInfoOffset
{
    biTitle = 0,
    biSubject = 256,
    biAuthor = 512,
    biCategory = 768,
    biPublisher = 1024,
    biReserved1 = 1280,
    biReserved2 = 1536,
    /* The system itself does not read these two; our libraries keep the book's identifier
     * (ISBN, UUID) and language there for the properties dialog. */
    biIdentifier = 1280,
    biLanguage = 1536,
    biKeywords = 1792,
    biComment = 2048,
    biPageCount = 2304,
    biWordCount = 2560,
    biCharCount = 2816,
    biCreationDate = 3072,
    biModificationDate = 3328,
    biRevision = 3584,
    biReserved3 = 3840,
    biEncrypted = 4096 /* one byte, nonzero = encrypted */
};

typedef struct TBookInfo
{
    unsigned char Data[BOOKINFO_BLOCKS * BOOKINFO_BLOCK_SIZE];
} TBookInfo;

/* A thumbnail: the caller zeroes the record and sets the wanted size (books ask for 90 by 112);
 * the library may change the size to the picture's real size and sets Pixels to Width x Height
 * 32-bit ARGB values, row by row, allocated with malloc. The owner frees Pixels with free and
 * zeroes the record. */
typedef struct TThumbnailInfo
{
    int32_t Width;
    int32_t Height;
    uint32_t* Pixels;
} TThumbnailInfo;

/* Libraries may call it any number of times during a read; nonzero means: stop now. */
typedef unsigned char (*TAbortQuery)(void);

/* Exports. File names are NUL-terminated native paths (UTF-8 on Linux). Boolean results are
 * one byte, nonzero meaning true.
 *   unsigned char GetFileInfo(const char* FileName, TBookInfo* Info, TAbortQuery Abort);
 *   unsigned char GetThumbnail(const char* FileName, TThumbnailInfo* Thumbnail, TAbortQuery Abort);
 *   unsigned char NeedDefaultSummaryInfo(const char* FileName);          (plug-ins only)
 *   int ShowProperties(void* ParentWindow, const char* FileName);        (summary only; the
 *       parent is the QWidget* of the calling window) */
typedef unsigned char (*TGetFileInfoProc)(const char*, TBookInfo*, TAbortQuery);
typedef unsigned char (*TGetThumbnailProc)(const char*, TThumbnailInfo*, TAbortQuery);
typedef unsigned char (*TNeedDefaultSummaryInfoProc)(const char*);
typedef int (*TShowPropertiesProc)(void*, const char*);

#ifdef __cplusplus
}
static_assert(sizeof(TBookInfo) == 4352, "TBookInfo is 4352 bytes");
static_assert(sizeof(TThumbnailInfo) == 16, "TThumbnailInfo is 16 bytes");
#endif

#endif
