// Writes one well-formed book of each format into the folders given, as fuzzing seeds.
#include "BookMaker.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

using namespace BookMaker;

namespace {

void Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

QByteArray SmallJpeg()
{
    QImage image(30, 40, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 50);
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc < 2) return 2;
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const char* d : {"epub", "fb2", "mobi", "cbz", "pdf", "txt"})
        QDir().mkpath(root + "/" + d);
    TEpub epub;
    epub.Title = QStringLiteral("标题");
    epub.Creators = {{"A", "aut"}};
    epub.Description = "<p>x</p>";
    epub.Cover = TCoverStyle::GuidePage;
    epub.CoverBytes = SmallJpeg();
    WriteEpub(root + "/epub/1.epub", epub);
    epub.Version = 2;
    epub.Cover = TCoverStyle::MetaCover;
    WriteEpub(root + "/epub/2.epub", epub);
    Write(root + "/fb2/1.fb2",
          Fb2("T", {"A B"}, SmallJpeg(), "<genre>g</genre><annotation><p>x</p></annotation>", "P"));
    TMobi mobi;
    mobi.Author = "A";
    mobi.Cover = SmallJpeg();
    Write(root + "/mobi/1.mobi", Mobi(mobi));
    WriteZip(root + "/cbz/1.cbz", {{"ComicInfo.xml", "<ComicInfo><Title>T</Title></ComicInfo>"},
                                   {"1.jpg", SmallJpeg()}});
    WritePdf(root + "/pdf/1.pdf", 2, "T", "A");
    Write(root + "/txt/1.txt", QStringLiteral("《书》\n作者：某\n正文 text").toUtf8());
    return 0;
}
