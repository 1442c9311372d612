#pragma once

#include "BookInfo.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace Summary {

// What the top of a web page says about itself. HTML is no XML (unclosed tags, bare
// attributes, stray '<'), so a scanner reads it: once through, every character looked at a
// bounded number of times, whatever the markup.
struct THtmlHead
{
    QString Charset;  // declared by <meta charset>, http-equiv or the XML declaration
    QString Title;    // the first <title> before the body
    QString Language; // <html lang> or xml:lang
    QList<std::pair<QString, QString>> Metas; // <meta> name (or property) and content, in order
    QStringList Images;                       // <img src> values in document order
};

// The book information a page's metadata gives: Dublin Core first, the plain names after.
struct THtmlFacts
{
    QString Title;
    QStringList Authors;
    QString Publisher;
    QStringList Subjects;
    QString Description; // plain text
    QString Keywords;
    QString Created;
    QString Modified;
    QString Language;
    QString Identifier;
};

// The bytes of a page that are read: its metadata is at the top, its text does not matter.
constexpr qint64 MaxHtmlHead = 1024 * 1024;
// <img> sources kept, in search of one that is a picture.
constexpr qsizetype MaxHtmlImages = 8;

// Scans markup. With `charsetOnly` it stops at the declared charset or the body, for the
// look at the raw bytes that decides how to decode them.
THtmlHead ScanHtml(QStringView text, TAbortQuery abort, bool charsetOnly = false);

// Decodes the top of a page: a byte order mark decides, then a declared charset that the
// bytes do not contradict, then UTF-8 when the bytes are UTF-8, else GB18030 (what Chinese
// pages without a declaration are written in).
QString DecodeHtml(QByteArrayView bytes);

// What the top of a page says, from its bytes: the same as scanning the decoded text, but only
// the values kept are decoded.
THtmlHead ReadHtmlHead(QByteArrayView bytes, TAbortQuery abort);

THtmlFacts FactsOf(const THtmlHead& head);

// A date as the book list shows it; "" for none. Dates before the year 1000 are the marks
// tools write for "no date", not dates.
QString BookDate(const QString& text);

} // namespace Summary
