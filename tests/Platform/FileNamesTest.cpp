#include "FileNames.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// Names come back to the very bytes they were made from, whatever those bytes are; what the
// user sees of bytes that are not UTF-8 is their GB18030 reading, component by component.
TEST(FileNames, EveryNameComesBackToItsBytes)
{
    const QByteArray names[] = {
        "plain.txt",
        "\xE4\xB8\xAD\xE6\x96\x87.epub",          // UTF-8 中文
        "\xBA\xEC\xC2\xA5\xC3\xCE.txt",           // GBK 红楼梦
        "/lib/\xCA\xE9\xBC\xDC/\xE4\xB8\xAD.txt", // a GBK folder in a UTF-8 path
        "\xF0\x90\x82\x80",                       // U+10080: its low surrogate looks like an escape
        "\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", // overlong, a surrogate, past U+10FFFF
        "trailing \xE4\xB8",                      // cut short
    };
    for (const QByteArray& bytes : names) {
        const QString name = FileNames::Decode(bytes);
        EXPECT_EQ(FileNames::Encode(name), bytes) << bytes.toHex().constData();
    }
    EXPECT_FALSE(FileNames::HasForeignBytes(FileNames::Decode("\xF0\x90\x82\x80")));
    EXPECT_TRUE(FileNames::HasForeignBytes(FileNames::Decode("\xBA\xEC")));
    EXPECT_EQ(FileNames::Display(FileNames::Decode("/lib/\xCA\xE9\xBC\xDC/\xE4\xB8\xAD.txt")),
              QStringLiteral("/lib/书架/中.txt"));
    EXPECT_EQ(FileNames::Display(FileNames::Decode("\xBA\xEC\xC2\xA5\xC3\xCE.txt")),
              QStringLiteral("红楼梦.txt"));
}

// The open dialog hands over names that are not UTF-8 with losses; the real file is found.
TEST(FileNames, AFileNamedByQtIsFoundByItsBytes)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray bytes = folder + "/\xBA\xEC\xC2\xA5\xC3\xCE.txt";
    const int fd = ::open(bytes.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QString asQtSaysIt = QFile::decodeName(bytes);
    EXPECT_FALSE(FileNames::Exists(asQtSaysIt));
    const QString found = FileNames::FromQtPath(asQtSaysIt);
    EXPECT_EQ(FileNames::Encode(found), bytes);
    EXPECT_EQ(FileNames::FromQtPath(dir.path()), dir.path());
}
