#include "BookMaker.h"
#include "BookTestSupport.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

QString LocalTime(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC)
        .toLocalTime()
        .toString("yyyy-MM-dd HH:mm:ss");
}

QByteArray Rc4(const QByteArray& key, const QByteArray& data)
{
    unsigned char state[256];
    for (int i = 0; i < 256; ++i)
        state[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + static_cast<unsigned char>(key[i % key.size()])) & 255;
        std::swap(state[i], state[j]);
    }
    QByteArray out = data;
    for (int k = 0, i = 0, j = 0; k < out.size(); ++k) {
        i = (i + 1) & 255;
        j = (j + state[i]) & 255;
        std::swap(state[i], state[j]);
        out[k] = char(out[k] ^ state[(state[i] + state[j]) & 255]);
    }
    return out;
}

QByteArray Md5(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

// A one-page PDF written byte by byte: an information dictionary and an XMP packet when given,
// and the standard security handler's 40-bit RC4 (revision 2) when a password is set.
struct TPdf
{
    QList<std::pair<QByteArray, QString>> Info; // key, text
    QByteArray Xmp;
    bool Encrypted = false;
    QByteArray UserPassword, OwnerPassword;
};

QByteArray PdfBytes(const TPdf& pdf)
{
    static const QByteArray padding =
        QByteArray::fromHex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A");
    auto padded = [](const QByteArray& password) { return (password + padding).left(32); };
    const QByteArray fileId = Md5("korvel test pdf");
    const qint32 permissions = -64; // printing and copying refused
    QByteArray key, ownerEntry, userEntry;
    if (pdf.Encrypted) {
        const QByteArray owner = pdf.OwnerPassword.isEmpty() ? pdf.UserPassword : pdf.OwnerPassword;
        ownerEntry = Rc4(Md5(padded(owner)).left(5), padded(pdf.UserPassword));
        QByteArray p(4, 0);
        qToLittleEndian(permissions, p.data());
        key = Md5(padded(pdf.UserPassword) + ownerEntry + p + fileId).left(5);
        userEntry = Rc4(key, padding);
    }
    // Strings and streams of object `number` are encrypted with a key of their own.
    auto seal = [&](int number, const QByteArray& bytes) {
        if (!pdf.Encrypted) return bytes;
        QByteArray objectKey = key;
        objectKey += char(number & 0xFF);
        objectKey += char((number >> 8) & 0xFF);
        objectKey += char((number >> 16) & 0xFF);
        objectKey += QByteArray(2, 0);
        return Rc4(Md5(objectKey).left(10), bytes);
    };
    auto stream = [&](int number, const QByteArray& extra, const QByteArray& content) {
        const QByteArray sealed = seal(number, content);
        return "<< " + extra + " /Length " + QByteArray::number(sealed.size()) + " >>\nstream\n" +
               sealed + "\nendstream";
    };
    QByteArray info = "<<";
    for (const auto& [name, text] : pdf.Info) {
        QByteArray utf16 = "\xFE\xFF";
        for (QChar c : text) {
            utf16 += char(c.unicode() >> 8);
            utf16 += char(c.unicode() & 0xFF);
        }
        if (name.endsWith("Date")) utf16 = text.toLatin1();
        info += " /" + name + " <" + seal(6, utf16).toHex() + ">";
    }
    info += " >>";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R" + QByteArray(pdf.Xmp.isEmpty() ? "" : " /Metadata 5 0 R") +
            " >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 400] /Contents 4 0 R >>",
        stream(4, {}, "1 0 0 rg 0 0 200 400 re f"),
        stream(5, "/Type /Metadata /Subtype /XML", pdf.Xmp),
        info,
        "<< /Filter /Standard /V 1 /R 2 /O <" + ownerEntry.toHex() + "> /U <" + userEntry.toHex() +
            "> /P " + QByteArray::number(permissions) + " >>",
    };
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << out.size();
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R";
    if (!pdf.Info.isEmpty()) out += " /Info 6 0 R";
    if (pdf.Encrypted) out += " /Encrypt 7 0 R";
    out += " /ID [<" + fileId.toHex() + "> <" + fileId.toHex() + ">] >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

// An XMP packet with the given properties inside one description.
QByteArray Xmp(const QByteArray& attributes, const QByteArray& properties)
{
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
           "xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" "
           "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" " +
           attributes + ">" + properties +
           "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

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
    EXPECT_EQ(BookInfoText(info, biComment), ""); // the making programs are no description
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

TEST(PdfTest, XmpFillsWhatTheInformationDictionaryLacks)
{
    const QByteArray fullXmp = Xmp(
        "pdf:Producer=\"Xmp Producer\" xmp:ModifyDate=\"2021-02\"",
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"en\">English title</rdf:li>"
        "<rdf:li xml:lang=\"x-default\">Default &amp; title</rdf:li></rdf:Alt></dc:title>"
        "<dc:creator><rdf:Seq><rdf:li>Ann Lee</rdf:li><rdf:li>Bo Chen</rdf:li></rdf:Seq>"
        "</dc:creator>"
        "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">What it is about</rdf:li>"
        "</rdf:Alt></dc:description>"
        "<dc:subject><rdf:Bag><rdf:li>rivers</rdf:li><rdf:li>maps</rdf:li></rdf:Bag></dc:subject>"
        "<xmp:CreateDate>2019-03-04T05:06:07Z</xmp:CreateDate>");
    const QList<std::pair<QByteArray, QString>> fullInfo = {{"Title", "Info title"},
                                                            {"Author", "Info Author"},
                                                            {"Subject", "Info subject"},
                                                            {"Keywords", "info, words"},
                                                            {"Creator", "Some Editor"},
                                                            {"Producer", "Some Library"},
                                                            {"CreationDate", "D:20200517103000Z"}};
    const struct
    {
        const char* Name;
        QList<std::pair<QByteArray, QString>> Info;
        QByteArray Xmp;
        // title, author, subject, keywords, comment, creation and modification date
        QStringList Expected;
    } cases[] = {
        {"XMP only",
         {},
         fullXmp,
         {"Default & title", "Ann Lee & Bo Chen", "rivers; maps", "rivers, maps",
          "What it is about", LocalTime(2019, 3, 4, 5, 6, 7), "2021-02"}},
        {"information dictionary only",
         fullInfo,
         {},
         {"Info title", "Info Author", "Info subject", "info, words", "",
          LocalTime(2020, 5, 17, 10, 30, 0), ""}},
        {"both: the dictionary wins, the packet fills in",
         {{"Title", "Info title"}, {"Subject", "Info subject"}},
         Xmp("pdf:Keywords=\"xmp, words\"",
             "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Xmp title</rdf:li></rdf:Alt>"
             "</dc:title><dc:creator><rdf:Seq><rdf:li>Xmp Author</rdf:li></rdf:Seq></dc:creator>"
             "<dc:description><rdf:Alt><rdf:li>Described</rdf:li></rdf:Alt></dc:description>"),
         {"Info title", "Xmp Author", "Info subject", "xmp, words", "Described", "", ""}},
        {"a damaged packet gives what came before the damage",
         {},
         Xmp("", "<dc:title><rdf:Alt><rdf:li>Kept</rdf:li></rdf:Alt></dc:title><dc:creator>"),
         {"Kept", "", "", "", "", "", ""}},
    };
    const TBookInfoOffset fields[] = {biTitle,   biAuthor,       biSubject,         biKeywords,
                                      biComment, biCreationDate, biModificationDate};
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = dir.path() + "/meta.pdf";
        WriteBytes(path, PdfBytes({c.Info, c.Xmp, false, {}, {}}));
        TBookInfo info{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(path, info));
        for (int i = 0; i < c.Expected.size(); ++i)
            EXPECT_EQ(BookInfoText(info, fields[i]), c.Expected[i]) << "field " << i;
        EXPECT_EQ(BookInfoText(info, biPageCount), "1");
    }
}

// "Encrypted" means a password is needed to open the book; restrictions on printing or copying
// (an owner password alone) leave it readable and unmarked.
TEST(PdfTest, EncryptedOnlyWhenAPasswordIsNeededToOpen)
{
    QTemporaryDir dir;
    const QList<std::pair<QByteArray, QString>> info = {{"Title", "Locked"}};
    const struct
    {
        const char* Name;
        QString Path;
        QByteArray Bytes;
        int Flag;
        const char* Title;
    } cases[] = {
        {"owner password, RC4 40-bit", dir.path() + "/owner.pdf",
         PdfBytes({info, {}, true, {}, "owner"}), 0, "Locked"},
        {"user password, RC4 40-bit", dir.path() + "/user.pdf",
         PdfBytes({info, {}, true, "user", "owner"}), 1, ""},
        {"owner password, RC4 128-bit from another tool",
         QStringLiteral(KORVEL_FIXTURES "/owner-password.pdf"),
         {},
         0,
         "Locked"},
        {"user password, RC4 128-bit from another tool",
         QStringLiteral(KORVEL_FIXTURES "/user-password.pdf"),
         {},
         1,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (!c.Bytes.isEmpty()) WriteBytes(c.Path, c.Bytes);
        TBookInfo record{};
        ASSERT_TRUE(ShippedLibraries().GetFileInfo(c.Path, record));
        EXPECT_EQ(record.Data[biEncrypted], c.Flag);
        EXPECT_EQ(BookInfoText(record, biTitle), c.Title); // nothing is read without the password
        EXPECT_EQ(ThumbnailOf(c.Path).isNull(), c.Flag == 1);
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
