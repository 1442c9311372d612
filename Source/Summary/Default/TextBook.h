#pragma once

#include "BookInfo.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace Summary {

enum class TTextEncoding
{
    Utf8,
    Utf8Bom,
    Utf16LE,
    Utf16BE,
    Gb18030,
    Big5
};

// Guesses the encoding of a plain-text book from its first bytes: a byte order mark decides;
// then UTF-16 without a mark (many zero bytes on one side); then text that is valid UTF-8;
// then Chinese UTF-16 without a mark (few zero bytes, but nearly every unit a plausible
// character one way round); everything else is Big5 or GB18030, whichever puts more of it
// among its common characters (GB18030 on a tie: the encoding of most Chinese text files).
TTextEncoding DetectTextEncoding(QByteArrayView head, bool wholeFile);
const char* EncodingName(TTextEncoding encoding);

// What the summary library learns from a text book.
struct TTextFacts
{
    TTextEncoding Encoding = TTextEncoding::Utf8;
    QString Title;  // from a title line at the top; empty when the text names none
    QString Author; // from an author line at the top
    qint64 Characters = 0;
    qint64 Words = 0;
    bool Counted = false; // false for books too large to count
};

// Counts characters (everything but white space and control characters) and words (a run of
// letters or digits is one word, each Chinese, Japanese or Korean character is one word).
class TTextCounter
{
public:
    void Add(const QString& text);
    // UTF-8 counted as it stands, without making text of it first; a character cut by the end
    // of a piece is completed by the next. Finish() after the last piece. Bytes that are no
    // UTF-8 count as one replacement character each.
    void AddUtf8(QByteArrayView bytes);
    void Finish();
    qint64 Characters() const { return FCharacters; }
    qint64 Words() const { return FWords; }

private:
    qint64 FCharacters = 0;
    qint64 FWords = 0;
    bool FInWord = false;
    char16_t FHighSurrogate = 0;
    QByteArray FPending; // the start of a UTF-8 character cut by the end of a piece
};

// Reads the book in chunks, polling the abort query; false when it cannot be read or the
// caller stopped.
bool ReadTextBook(const char* fileName, TTextFacts& facts, TAbortQuery abort);

// Books above this size are not counted (their title is still found).
constexpr qint64 MaxCountedTextSize = 256LL * 1024 * 1024;

} // namespace Summary
