#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

namespace {

// A PDF written byte by byte the way small generators do, with a UTF-16 title and every
// information key; the page is 200 x 400 points of red.
QByteArray HandMadePdf()
{
    const QString title = QStringLiteral("手工 PDF");
    QByteArray utf16 = "\xFE\xFF";
    for (QChar c : title) {
        utf16 += char(c.unicode() >> 8);
        utf16 += char(c.unicode() & 0xFF);
    }
    const QByteArray content = "1 0 0 rg 0 0 200 400 re f\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 400] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "endstream",
        "<< /Title <" + utf16.toHex() +
            "> /Author (Jane Roe) /Subject (Testing) /Keywords (alpha, beta)"
            " /Creator (Hand) /Producer (Bytes) /CreationDate (D:20200517103000Z) /ModDate "
            "(D:20210102030405Z) >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R /Info 5 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

TEST(PdfTest, InformationPagesAndFirstPageOfAHandMadePdf)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/hand.pdf";
    WriteBytes(path, HandMadePdf());
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("手工 PDF"));
    EXPECT_EQ(BookInfoText(info, biAuthor), "Jane Roe");
    EXPECT_EQ(BookInfoText(info, biSubject), "Testing");
    EXPECT_EQ(BookInfoText(info, biKeywords), "alpha, beta");
    EXPECT_EQ(BookInfoText(info, biComment), "Hand / Bytes");
    EXPECT_EQ(BookInfoText(info, biPageCount), "1");
    EXPECT_EQ(BookInfoText(info, biCreationDate),
              QDateTime(QDate(2020, 5, 17), QTime(10, 30), Qt::UTC)
                  .toLocalTime()
                  .toString("yyyy-MM-dd HH:mm:ss"));
    EXPECT_EQ(info.Data[biEncrypted], 0);

    const QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(thumbnail.size(), QSize(56, 112));
    EXPECT_TRUE(NearColor(thumbnail.pixel(28, 56), Qt::red));
}

TEST(PdfTest, QtWrittenPdfGivesTitleAndPageCount)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/qt.pdf";
    ASSERT_TRUE(BookMaker::WritePdf(path, 20, QStringLiteral("二十页"), "Maker"));
    TBookInfo info{};
    ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
    EXPECT_EQ(BookInfoText(info, biTitle), QStringLiteral("二十页"));
    EXPECT_EQ(BookInfoText(info, biPageCount), "20");
    const QImage thumbnail = ThumbnailOf(path);
    ASSERT_FALSE(thumbnail.isNull());
    // A5 portrait inside 90 x 112.
    EXPECT_EQ(thumbnail.height(), 112);
    EXPECT_NEAR(thumbnail.width(), 79, 1);
    EXPECT_TRUE(NearColor(thumbnail.pixel(thumbnail.width() / 2, 5), Qt::red));
}

TEST(PdfTest, EncryptedPdfsFromAnotherTool)
{
    const struct
    {
        const char* File;
        const char* Title;
        bool Thumbnail;
    } cases[] = {
        {"user-password.pdf", "", false}, // nothing can be read without the password
        {"owner-password.pdf", "Locked", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const QString path = QStringLiteral(KORVEL_FIXTURES "/") + c.File;
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        EXPECT_EQ(info.Data[biEncrypted], 1);
        EXPECT_EQ(BookInfoText(info, biTitle), c.Title);
        EXPECT_EQ(!ThumbnailOf(path).isNull(), c.Thumbnail);
    }
}

TEST(PdfTest, DamagedPdfGivesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/broken.pdf";
    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("%PDF-1.4\ngarbage"), HandMadePdf().left(60)}) {
        WriteBytes(path, bytes);
        TBookInfo info{};
        ShippedLibraries().GetFileInfo(path, info); // may or may not read: it must not crash
        EXPECT_TRUE(ThumbnailOf(path).isNull());
    }
}

} // namespace
