#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Books made the way other tools make them, for the tests and the benchmark.
namespace BookMaker {

struct TZipEntry
{
    QString Name;
    QByteArray Bytes;
    bool Stored = false;
};
bool WriteZip(const QString& path, const QList<TZipEntry>& entries);

enum class TCoverStyle
{
    None,
    Properties, // EPUB 3 manifest property "cover-image"
    MetaCover,  // EPUB 2 <meta name="cover">
    GuidePage,  // the guide's cover page showing the picture
    FirstPage   // only the first page of the spine shows it
};

struct TEpub
{
    int Version = 3;
    QString Title = QStringLiteral("Book");
    QList<std::pair<QString, QString>> Creators; // name, role ("" for none)
    QStringList Subjects;
    QString Publisher, Description, Date, Modified, Identifier, Language;
    TCoverStyle Cover = TCoverStyle::None;
    QByteArray CoverBytes; // a JPEG
    QByteArray EncryptionXml;
    QString OpfFolder = QStringLiteral("OEBPS");
};
QList<TZipEntry> EpubEntries(const TEpub& book);
bool WriteEpub(const QString& path, const TEpub& book);

// An FB2 document; `coverBytes` (a JPEG) becomes its embedded cover when not empty.
QByteArray Fb2(const QString& title, const QStringList& authors, const QByteArray& coverBytes,
               const QString& extraTitleInfo = {}, const QString& publisher = {});

// A PDF of `pages` pages with the given document information, drawn with Qt's PDF writer.
bool WritePdf(const QString& path, int pages, const QString& title, const QString& author);

struct TMobi
{
    QString Title = QStringLiteral("Book");
    QString Author, Publisher, Description, Subject, Date, UpdatedTitle;
    QByteArray Cover; // becomes the first image record
    int Encryption = 0;
    bool Utf8 = true;
};
QByteArray Mobi(const TMobi& book);

// A 1200 x 1600 JPEG cover with some detail in it.
QByteArray LargeCover();

} // namespace BookMaker
