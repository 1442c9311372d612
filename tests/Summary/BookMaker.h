#pragma once

#include <QByteArray>
#include <QDateTime>
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

// An RTF document with an information group the way word processors write one.
struct TRtf
{
    QString Title = QStringLiteral("Book");
    QString Subject, Author, Operator, Keywords, Comment, Category, Company;
    int CodePage = 1252; // \ansicpg; characters outside it are written as \uN
    // Like Word: every character beyond ASCII as \uN followed by its code page bytes
    // (\ucN says how many) instead of the bytes alone.
    bool UnicodeEscapes = false;
    QDateTime Created, Revised;
    int Pages = -1, Words = -1, Chars = -1, Version = -1;
    QByteArray Cover;                  // a JPEG or PNG picture, written as hex
    QByteArray CoverBlip = "jpegblip"; // the picture's kind
    QString Body = QStringLiteral("Text.");
};
QByteArray Rtf(const TRtf& book);

// A UMD book of text in one chapter, with the cover when one is given (a JPEG).
struct TUmd
{
    QString Title = QStringLiteral("Book");
    QString Author, Year, Month, Day, Type, Publisher, Vendor;
    QString Text = QStringLiteral("Text.");
    QByteArray Cover;
};
QByteArray Umd(const TUmd& book);

// A Word document (DOCX). Empty texts and negative counts are left out of its properties.
struct TDocx
{
    QString Title = QStringLiteral("Document");
    QString Creator, Subject, Description, Keywords, Category, Created, Modified, Revision,
        Language, Identifier, Company;
    int Pages = -1, Words = -1, Characters = -1;
    bool Properties = true; // docProps/core.xml and docProps/app.xml
    QByteArray Thumbnail;   // docProps/thumbnail.<ThumbnailFormat>, named by the package
    QString ThumbnailFormat = QStringLiteral("jpeg");
    QList<TZipEntry> Media; // pictures below word/media/, each with a relationship
    QStringList Shown;      // the media names the document shows, in its order, after the text
    QString Text = QStringLiteral("Text of the document."); // one paragraph per line
};
QList<TZipEntry> DocxEntries(const TDocx& book);
bool WriteDocx(const QString& path, const TDocx& book);

// A zipped web page (HTMLZ): index.html, metadata.opf and, when given, cover.jpg named as the
// cover by the package document.
struct THtmlz
{
    QString Title = QStringLiteral("Book");
    QStringList Authors, Subjects;
    QString Publisher, Description, Date, Language, Identifier;
    QByteArray Cover;
    QString Page; // index.html; a page of one paragraph when empty
};
QList<TZipEntry> HtmlzEntries(const THtmlz& book);

// A 1200 x 1600 JPEG cover with some detail in it.
QByteArray LargeCover();

// Comic archives without ZIP: a ustar archive (CBT) and a RAR 4 archive whose entries are
// stored uncompressed (CBR; the only RAR a free tool can make is one written by hand).
QByteArray Tar(const QList<TZipEntry>& entries);
QByteArray StoredRar(const QList<TZipEntry>& entries);

// A compiled HTML help book whose objects (names from the root, "/index.htm") are kept
// uncompressed, and the "#SYSTEM" object that names its title, default topic and locale.
QByteArray Chm(const QList<TZipEntry>& objects, quint32 locale);
QByteArray ChmSystem(quint32 locale, const QByteArray& title, const QByteArray& defaultTopic);

} // namespace BookMaker
